// How the window code shows a message box without holding a widget of its own.
//
// The core returns its failures as values; the window code turns them into
// messages with showMessage(). The program installs a sink that shows a
// QMessageBox with an OK button; tests install one that records what would have
// been shown.
#pragma once

#include "program/MessageIcon.h"

#include <QString>

class MessageSink
{
public:
    virtual ~MessageSink() = default;

    // May be called on any thread. Returns when the user has taken note of the
    // message (for a box: when it was closed).
    virtual void showMessage(const QString& text, const QString& caption, MessageIcon icon) = 0;

    // Asks `text`, to be answered "Ja" or "Nein"; true for "Ja". May be called on any
    // thread. A sink that cannot ask shows the text as a message, and the answer is no.
    virtual bool askYesNo(const QString& text, const QString& caption, MessageIcon icon);

    // Like showMessage, with `details` the user can unfold and scroll, so that a long
    // list keeps the box within the screen. A sink without such a part shows both.
    virtual void showReport(const QString& text, const QString& details, const QString& caption,
                            MessageIcon icon);
};

// Makes `sink` receive every message of the core; nullptr restores the default,
// which writes "caption: text" to standard error. The caller keeps ownership and
// must uninstall the sink before destroying it.
void installMessageSink(MessageSink* sink);

// Shows a message through the installed sink.
void showMessage(const QString& text, const QString& caption, MessageIcon icon);

// Shows a message with unfoldable details through the installed sink.
void showReport(const QString& text, const QString& details, const QString& caption,
                MessageIcon icon);

// Asks a yes-or-no question through the installed sink; true for yes.
bool askYesNo(const QString& text, const QString& caption, MessageIcon icon);
