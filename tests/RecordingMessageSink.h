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
    };

    RecordingMessageSink() { installMessageSink(this); }
    ~RecordingMessageSink() override { installMessageSink(nullptr); }

    void showMessage(const QString& text, const QString& caption, MessageIcon icon) override
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back({text, caption, icon});
    }

    std::vector<Message> messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Message> m_messages;
};
