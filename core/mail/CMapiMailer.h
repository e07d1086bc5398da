// Hands files to the user's mail client as the attachments of one new message.
//
// Attachments are collected one by one with AddAttachment and go out together with
// SendMail, which opens the mail client's compose window; there the user chooses the
// recipients, edits subject and text, and sends or discards the message. The program
// never talks to a mail server itself. After every send that reached the mail client
// the attachment list is empty again.
//
// The results are the Simple MAPI result codes. On Linux the mail client is reached
// through xdg-email (xdg-utils); a system without xdg-email on the path has no mail
// library, and SendMail then returns MAPI_E_FAILURE marked as noMailClient, so that the
// caller can point the user to the files instead.
//
// Not locked: one thread at a time uses a mailer. SendMail needs no event loop, touches
// no widget and shows nothing: what the user is to be told comes back with its result.
// It waits for xdg-email; MailSender runs it on a thread of its own.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <stop_token>
#include <vector>

class MailHandOff;

class CMapiMailer
{
public:
    // Simple MAPI result codes.
    enum Result : int
    {
        SUCCESS_SUCCESS = 0,
        MAPI_USER_ABORT = 1,
        MAPI_E_FAILURE = 2,
        MAPI_E_LOGIN_FAILURE = 3,
        MAPI_E_INSUFFICIENT_MEMORY = 5,
        MAPI_E_TOO_MANY_FILES = 9,
        MAPI_E_TOO_MANY_RECIPIENTS = 10,
        MAPI_E_ATTACHMENT_NOT_FOUND = 11,
        MAPI_E_ATTACHMENT_OPEN_FAILURE = 12,
        MAPI_E_UNKNOWN_RECIPIENT = 14,
        MAPI_E_BAD_RECIPTYPE = 15,
        MAPI_E_TEXT_TOO_LARGE = 18,
        MAPI_E_AMBIGUOUS_RECIPIENT = 21,
        MAPI_E_INVALID_RECIPS = 25,
    };

    // The outcome of one SendMail.
    struct SendResult
    {
        int code = SUCCESS_SUCCESS;
        // What the user is to be shown; empty when nothing is (always on success).
        QString message;
        // No mail client could be started (no xdg-email on the path): nothing was handed
        // over, and `folder` says where the attachments are.
        bool noMailClient = false;
        // With noMailClient: the folder of the first attachment; empty without one.
        QString folder{};
    };

    // The position every caller passes to AddAttachment: no place in the text.
    static constexpr unsigned kNoPosition = 0xFFFFFFFFu;

    struct Attachment
    {
        QString fileName; // file name part of fullPath: the name the message shows
        QString fullPath;
        unsigned position; // place in the message text; kept, not used by xdg-email
    };

    // Looks for the mail library (xdg-email on the path). When it is missing the mailer
    // stays unloaded and the next SendMail looks again. Always returns 0.
    int LoadMapi();
    bool IsLoaded() const { return !m_mailClient.isEmpty(); }

    // Adds the file at `path`, made a full path against the current working directory.
    // Whether the file exists is not tested here: the mail client reports a missing file
    // at send time (MAPI_E_ATTACHMENT_NOT_FOUND). A path that names no file (empty,
    // ending in a separator, or too long for a full path of 1023 characters) adds
    // nothing and gives "Anhang '<path>' kann nicht gefunden werden" for the user; the
    // result is empty when the file was added.
    [[nodiscard]] QString AddAttachment(const QString& path, unsigned position);

    // Sends one message with every attachment added since the last send, through the
    // mail client's compose window. An empty subject, text or recipient is left out.
    // Returns a Simple MAPI result; any code but SUCCESS_SUCCESS comes with a message,
    // GetErrorText(code) unless said otherwise below. Afterwards the attachment list is
    // empty.
    // Without a mail library the result is NoMailClientResult() and the list stays.
    //
    // The mail client gets copies of the attachments (see MailHandOff), so the caller may
    // delete or change its files as soon as SendMail returns.
    //
    // Once `leave` is requested SendMail stops waiting for xdg-email: xdg-email and the
    // mail client keep running on their own with the copies, and the result is
    // SUCCESS_SUCCESS. An xdg-email that does not return within the client timeout is
    // ended; the result is then MAPI_E_FAILURE with a message saying so.
    [[nodiscard]] SendResult SendMail(const QString& subject, const QString& text,
                                      const QString& recipient = QString(),
                                      std::stop_token leave = {});

    // What SendMail returns without a mail library: MAPI_E_FAILURE, noMailClient, the
    // folder of the first attachment, and a message that names what is missing.
    SendResult NoMailClientResult() const;

    // The message for a Simple MAPI result code.
    static QString GetErrorText(unsigned code);

    void ClearAttachments();
    const std::vector<Attachment>& Attachments() const { return m_attachments; }

    // How long SendMail waits for xdg-email to return (60 s unless set). Longer, and the
    // hand-off counts as hung: xdg-email is ended and nothing counts as sent.
    void SetClientTimeout(std::chrono::milliseconds timeout) { m_clientTimeout = timeout; }

private:
    struct ClientRun
    {
        int result;
        bool messageRefused; // xdg-email refused before any mail client saw the message
        // Ended after the client timeout.
        bool stopped = false;
    };

    QStringList clientArguments(const QString& subject, const QString& text,
                                const QString& recipient, MailHandOff& handOff) const;
    ClientRun runMailClient(const QStringList& arguments, const std::stop_token& leave) const;

    QString m_mailClient; // full path of xdg-email once found; empty while not loaded
    std::vector<Attachment> m_attachments;
    std::chrono::milliseconds m_clientTimeout{std::chrono::seconds(60)};
};
