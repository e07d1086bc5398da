#include "program/MessageSink.h"

#include <atomic>
#include <cstdio>

namespace {

class StandardErrorSink final : public MessageSink
{
public:
    void showMessage(const QString& text, const QString& caption, MessageIcon) override
    {
        const QByteArray line = (caption + QStringLiteral(": ") + text.trimmed()).toLocal8Bit();
        std::fprintf(stderr, "%s\n", line.constData());
    }
};

StandardErrorSink g_standardErrorSink;
std::atomic<MessageSink*> g_sink{&g_standardErrorSink};
thread_local MessageCollector* t_collector = nullptr;

} // namespace

void installMessageSink(MessageSink* sink)
{
    g_sink.store(sink != nullptr ? sink : &g_standardErrorSink);
}

void showMessage(const QString& text, const QString& caption, MessageIcon icon)
{
    if (t_collector != nullptr) {
        t_collector->m_messages.append(caption + QStringLiteral(": ") + text.trimmed());
        return;
    }
    g_sink.load()->showMessage(text, caption, icon);
}

MessageCollector::MessageCollector() : m_outer(t_collector)
{
    t_collector = this;
}

MessageCollector::~MessageCollector()
{
    t_collector = m_outer;
}
