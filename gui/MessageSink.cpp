#include "MessageSink.h"

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

} // namespace

bool MessageSink::askYesNo(const QString& text, const QString& caption, MessageIcon icon)
{
    showMessage(text, caption, icon);
    return false;
}

void MessageSink::showReport(const QString& text, const QString& details,
                             const QString& caption, MessageIcon icon)
{
    showMessage(details.isEmpty() ? text : text + QStringLiteral("\n\n") + details, caption, icon);
}

void installMessageSink(MessageSink* sink)
{
    g_sink.store(sink != nullptr ? sink : &g_standardErrorSink);
}

void showMessage(const QString& text, const QString& caption, MessageIcon icon)
{
    g_sink.load()->showMessage(text, caption, icon);
}

bool askYesNo(const QString& text, const QString& caption, MessageIcon icon)
{
    return g_sink.load()->askYesNo(text, caption, icon);
}

void showReport(const QString& text, const QString& details, const QString& caption,
                MessageIcon icon)
{
    g_sink.load()->showReport(text, details, caption, icon);
}
