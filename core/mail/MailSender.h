// Hands messages to the user's mail client without keeping its owner's thread waiting.
//
// Each send runs the whole hand-off (the copies of MailHandOff and xdg-email, see
// CMapiMailer) on a standard thread of its own and returns at once; its result comes
// back as the signal `sent` on the thread the sender lives on, from its event loop.
// Several sends may be under way together: a mail client that keeps xdg-email waiting
// until it quits holds up no later message.
//
// Destroying the sender waits for sends still copying their attachments, and leaves
// xdg-email and the mail client running on their own once they have the message; the
// copies they read stay (see MailHandOff). Their results are then never reported.
#pragma once

#include "mail/CMapiMailer.h"

#include <QObject>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <thread>

class MailSender final : public QObject
{
    Q_OBJECT
public:
    struct Message
    {
        QStringList attachments; // full paths, in the order of the message
        QString subject;
        QString text;
        // Whatever keeps the attached files in place while they are handed over; let go
        // on the sending thread when the send has ended, before `sent`.
        std::shared_ptr<const void> attachmentOwner;
        // The result's folder when no mail client can be started, for attachments that
        // go with attachmentOwner; empty: the first attachment's folder.
        QString folder{};
    };

    explicit MailSender(QObject* parent = nullptr);
    ~MailSender() override;

    // Starts sending `message` and returns at once. A path that names no file is left
    // out, and its "Anhang … kann nicht gefunden werden" leads the result's message.
    void send(Message message);

    // Sends what `collected` holds, as its SendMail would, and empties it; without a mail
    // library it keeps its attachments and `sent` reports its NoMailClientResult() (both
    // as SendMail does).
    void send(CMapiMailer& collected, const QString& subject, const QString& text,
              std::shared_ptr<const void> attachmentOwner = {});

    // From send until its `sent` has been emitted.
    bool isSending() const { return !m_sends.empty(); }

    // See CMapiMailer::SetClientTimeout; for the sends started afterwards.
    void setClientTimeout(std::chrono::milliseconds timeout) { m_clientTimeout = timeout; }

signals:
    void sent(const CMapiMailer::SendResult& result);

private:
    void finish(std::uint64_t send, const CMapiMailer::SendResult& result);

    // The sends under way, each by its number; only the owner's thread touches them.
    std::map<std::uint64_t, std::jthread> m_sends;
    std::uint64_t m_nextSend = 0;
    std::chrono::milliseconds m_clientTimeout{std::chrono::seconds(60)};
};
