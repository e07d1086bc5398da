#include "mail/MailSender.h"

#include <utility>

namespace {

CMapiMailer::SendResult sendOnThisThread(MailSender::Message& message,
                                         std::chrono::milliseconds clientTimeout,
                                         std::stop_token leave)
{
    CMapiMailer mailer;
    mailer.SetClientTimeout(clientTimeout);
    QStringList notes;
    for (const QString& path : message.attachments) {
        const QString note = mailer.AddAttachment(path, CMapiMailer::kNoPosition);
        if (!note.isEmpty())
            notes << note;
    }
    CMapiMailer::SendResult result =
        mailer.SendMail(message.subject, message.text, QString(), std::move(leave));
    if (!result.message.isEmpty())
        notes << result.message;
    result.message = notes.join(QLatin1Char('\n'));
    if (result.noMailClient && !message.folder.isEmpty())
        result.folder = message.folder;
    return result;
}

} // namespace

MailSender::MailSender(QObject* parent) : QObject(parent) {}

MailSender::~MailSender()
{
    // All at once, so that each send stops waiting while the others are asked to.
    for (auto& [number, thread] : m_sends)
        thread.request_stop();
    m_sends.clear();
    // A result posted meanwhile goes with this object, unreported.
}

void MailSender::send(Message message)
{
    const std::uint64_t number = m_nextSend++;
    m_sends.emplace(
        number, std::jthread([this, number, message = std::move(message),
                              timeout = m_clientTimeout](std::stop_token leave) mutable {
            const CMapiMailer::SendResult result =
                sendOnThisThread(message, timeout, std::move(leave));
            message.attachmentOwner.reset();
            // Delivered only while this object lives: the destructor joins this thread,
            // and a result it has not delivered yet goes with the object.
            QMetaObject::invokeMethod(
                this, [this, number, result] { finish(number, result); }, Qt::QueuedConnection);
        }));
}

void MailSender::send(CMapiMailer& collected, const QString& subject, const QString& text,
                      std::shared_ptr<const void> attachmentOwner)
{
    if (!collected.IsLoaded())
        collected.LoadMapi();
    if (!collected.IsLoaded()) {
        const std::uint64_t number = m_nextSend++;
        m_sends.emplace(number, std::jthread());
        QMetaObject::invokeMethod(
            this,
            [this, number, result = collected.NoMailClientResult()] { finish(number, result); },
            Qt::QueuedConnection);
        return;
    }
    Message message{{}, subject, text, std::move(attachmentOwner)};
    for (const CMapiMailer::Attachment& attachment : collected.Attachments())
        message.attachments << attachment.fullPath;
    collected.ClearAttachments();
    send(std::move(message));
}

void MailSender::finish(std::uint64_t send, const CMapiMailer::SendResult& result)
{
    // The thread has posted its result as its last step, so this join is short.
    m_sends.erase(send);
    emit sent(result);
}
