// A message sink that records what the core would have shown, installed for the
// lifetime of the object.
#pragma once

#include "MessageSink.h"

#include <QStringList>

#include <mutex>

class RecordingMessageSink final : public MessageSink
{
public:
    struct Message
    {
        QString text;
        QString caption;
        MessageIcon icon;
        // What a box would show folded away (showReport).
        QString details;
    };

    RecordingMessageSink() { installMessageSink(this); }
    ~RecordingMessageSink() override { installMessageSink(nullptr); }

    void showMessage(const QString& text, const QString& caption, MessageIcon icon) override
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back({text, caption, icon, {}});
    }

    void showReport(const QString& text, const QString& details, const QString& caption,
                    MessageIcon icon) override
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back({text, caption, icon, details});
    }

    // Questions are recorded like messages and get `answer` (no, unless set).
    bool askYesNo(const QString& text, const QString& caption, MessageIcon icon) override
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back({text, caption, icon, {}});
        return m_answer;
    }
    void setAnswer(bool yes)
    {
        std::lock_guard lock(m_mutex);
        m_answer = yes;
    }

    std::vector<Message> messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Message> m_messages;
    bool m_answer = false;
};
