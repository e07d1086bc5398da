// How the core shows a message to the user without knowing any widget.
//
// The core never opens a window. Where the program shows a message box, the core
// calls showMessage(); the GUI installs a sink that shows a QMessageBox with an OK
// button, the command-line tool one that prints to standard error, and tests one
// that records what would have been shown.
#pragma once

#include <QString>

enum class MessageIcon
{
    None,
    Information,
    Warning,
    Stop,
};

class MessageSink
{
public:
    virtual ~MessageSink() = default;

    // May be called on any thread. Returns when the user has taken note of the
    // message (for a box: when it was closed).
    virtual void showMessage(const QString& text, const QString& caption, MessageIcon icon) = 0;
};

// Makes `sink` receive every message of the core; nullptr restores the default,
// which writes "caption: text" to standard error. The caller keeps ownership and
// must uninstall the sink before destroying it.
void installMessageSink(MessageSink* sink);

// Shows a message through the installed sink.
void showMessage(const QString& text, const QString& caption, MessageIcon icon);
