// How the core shows a message to the user without knowing any widget.
//
// The core never opens a window. Where the program shows a message box, the core
// calls showMessage(); the GUI installs a sink that shows a QMessageBox with an OK
// button, the command-line tool one that prints to standard error, and tests one
// that records what would have been shown.
#pragma once

#include <QString>
#include <QStringList>

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

// While an object of this class lives, the core's messages on the thread that
// made it are collected here instead of reaching the installed sink, so that a
// worker can return them with its result as the cause of a failure. Objects
// nest; the innermost one collects. Lives on one thread only.
class MessageCollector
{
public:
    MessageCollector();
    ~MessageCollector();
    MessageCollector(const MessageCollector&) = delete;
    MessageCollector& operator=(const MessageCollector&) = delete;

    // The messages shown so far as "caption: text" lines, the text trimmed, in
    // order.
    const QStringList& messages() const { return m_messages; }

private:
    friend void showMessage(const QString& text, const QString& caption, MessageIcon icon);

    MessageCollector* m_outer;
    QStringList m_messages;
};
