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
// library, and SendMail then returns MAPI_E_FAILURE without showing anything.
//
// Not locked: the GUI thread and the batch thread may each use the mailer, never both
// at once. SendMail needs no event loop and touches no widget; its error messages go
// through the core's message sink.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
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
    // ending in a separator, or too long for a full path of 1023 characters) shows
    // "Anhang '<path>' kann nicht gefunden werden" and adds nothing.
    void AddAttachment(const QString& path, unsigned position);

    // Sends one message with every attachment added since the last send, through the
    // mail client's compose window. An empty subject, text or recipient is left out.
    // Returns a Simple MAPI result; any result but SUCCESS_SUCCESS is shown as
    // GetErrorText(result). Afterwards the attachment list is empty and the working
    // directory is the one before the call. Without a mail library nothing is shown,
    // the list stays, and the result is MAPI_E_FAILURE.
    //
    // The mail client gets copies of the attachments (see MailHandOff), so the caller may
    // delete or change its files as soon as SendMail returns.
    int SendMail(const QString& subject, const QString& text, const QString& recipient = QString());

    // The message for a Simple MAPI result code.
    static QString GetErrorText(unsigned code);

    void ClearAttachments();
    const std::vector<Attachment>& Attachments() const { return m_attachments; }

    // How long SendMail waits for xdg-email to return (60 s unless set). A mail client
    // that keeps xdg-email waiting longer has the message; SendMail then stops waiting
    // and returns SUCCESS_SUCCESS.
    void SetClientTimeout(std::chrono::milliseconds timeout) { m_clientTimeout = timeout; }

private:
    struct ClientRun
    {
        int result;
        bool messageRefused; // xdg-email refused before any mail client saw the message
    };

    QStringList clientArguments(const QString& subject, const QString& text,
                                const QString& recipient, MailHandOff& handOff) const;
    ClientRun runMailClient(const QStringList& arguments) const;

    QString m_mailClient; // full path of xdg-email once found; empty while not loaded
    std::vector<Attachment> m_attachments;
    std::chrono::milliseconds m_clientTimeout{std::chrono::seconds(60)};
};
