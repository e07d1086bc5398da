// How serious a message for the user is; the window shows it as a box with the
// matching icon.
#pragma once

enum class MessageIcon
{
    None,
    Information,
    Warning,
    Stop,
};
