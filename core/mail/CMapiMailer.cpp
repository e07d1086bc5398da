#include "mail/CMapiMailer.h"

#include "mail/MailHandOff.h"
#include "program/MessageSink.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

// The full path must fit a buffer of 1024 characters with its terminating zero.
constexpr qsizetype kMaxFullPath = 1023;

// xdg-email's exit status as a Simple MAPI result:
//   0  success                                 -> SUCCESS_SUCCESS
//   1  error in the command line               -> MAPI_E_FAILURE
//   2  one of the files does not exist         -> MAPI_E_ATTACHMENT_NOT_FOUND
//   3  no tool found to open a mail client     -> MAPI_E_FAILURE
//   4  the mail client (or the hook) failed    -> MAPI_E_FAILURE
//   5  no permission to read one of the files  -> MAPI_E_ATTACHMENT_OPEN_FAILURE
//   anything else                              -> MAPI_E_FAILURE
int resultOfExitCode(int exitCode)
{
    switch (exitCode) {
    case 0:
        return CMapiMailer::SUCCESS_SUCCESS;
    case 2:
        return CMapiMailer::MAPI_E_ATTACHMENT_NOT_FOUND;
    case 5:
        return CMapiMailer::MAPI_E_ATTACHMENT_OPEN_FAILURE;
    default:
        return CMapiMailer::MAPI_E_FAILURE;
    }
}

// Exit statuses with which xdg-email gives up before starting any mail client (syntax,
// a missing file, no tool, an unreadable file, an unwritable file). Only then can the
// copies handed over for this message go at once.
bool refusedBeforeMailClient(int exitCode)
{
    return exitCode == 1 || exitCode == 2 || exitCode == 3 || exitCode == 5 || exitCode == 6;
}

void showPlainMessage(const QString& text)
{
    showMessage(text, QStringLiteral("Pictavo"), MessageIcon::None);
}

} // namespace

int CMapiMailer::LoadMapi()
{
    m_mailClient = QStandardPaths::findExecutable(QStringLiteral("xdg-email"));
    return 0;
}

void CMapiMailer::AddAttachment(const QString& path, unsigned position)
{
    // QFileInfo makes a relative path absolute against the current working directory.
    const QString fullPath =
        path.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString fileName = QFileInfo(fullPath).fileName();
    if (fullPath.isEmpty() || fullPath.size() > kMaxFullPath || fileName.isEmpty() ||
        path.endsWith(QLatin1Char('/')) || path.endsWith(QDir::separator())) {
        showPlainMessage(QStringLiteral("Anhang '%1' kann nicht gefunden werden").arg(path));
        return;
    }
    m_attachments.push_back({fileName, fullPath, position});
}

int CMapiMailer::SendMail(const QString& subject, const QString& text, const QString& recipient)
{
    const QString workingDirectory = QDir::currentPath();
    if (!IsLoaded())
        LoadMapi();
    if (!IsLoaded())
        return MAPI_E_FAILURE;

    MailHandOff handOff;
    const ClientRun run = runMailClient(clientArguments(subject, text, recipient, handOff));
    if (run.messageRefused)
        handOff.discard();
    if (run.result != SUCCESS_SUCCESS)
        showPlainMessage(GetErrorText(unsigned(run.result)));
    ClearAttachments();
    QDir::setCurrent(workingDirectory);
    return run.result;
}

QStringList CMapiMailer::clientArguments(const QString& subject, const QString& text,
                                         const QString& recipient, MailHandOff& handOff) const
{
    // Qt passes every argument as UTF-8; "--utf8" tells xdg-email so whatever the locale.
    QStringList arguments{QStringLiteral("--utf8")};
    // xdg-email refuses an empty option value, so an empty text is left out.
    if (!subject.isEmpty())
        arguments << QStringLiteral("--subject") << subject;
    // xdg-email turns each line break into CR LF itself; a CR of our own would double.
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (!body.isEmpty())
        arguments << QStringLiteral("--body") << body;
    for (const Attachment& attachment : m_attachments)
        arguments << QStringLiteral("--attach")
                  << handOff.handOver(attachment.fullPath, attachment.fileName);
    if (!recipient.isEmpty())
        arguments << recipient;
    return arguments;
}

CMapiMailer::ClientRun CMapiMailer::runMailClient(const QStringList& arguments) const
{
    // Never through a shell: every text reaches xdg-email as one argument, unchanged. No
    // pipes either, so a mail client that xdg-email leaves running never writes into one
    // that nobody reads.
    QProcess process;
    process.setProgram(m_mailClient);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted())
        return {MAPI_E_FAILURE, true};
    const auto timeout = int(m_clientTimeout.count());
    if (!process.waitForFinished(timeout)) {
        // Some clients keep xdg-email waiting until the client itself quits, long after
        // their compose window has opened; the message is theirs by now. Only xdg-email
        // is ended, the client keeps running.
        process.kill();
        process.waitForFinished();
        return {SUCCESS_SUCCESS, false};
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return {MAPI_E_FAILURE, false};
    return {resultOfExitCode(process.exitCode()), refusedBeforeMailClient(process.exitCode())};
}

QString CMapiMailer::GetErrorText(unsigned code)
{
    switch (code) {
    case MAPI_USER_ABORT:
        return QStringLiteral("Vorgang duch Benutzer abgebrochen");
    case MAPI_E_FAILURE:
        return QStringLiteral("One or more unspecified errors occurred. No message was sent.\r\n");
    case MAPI_E_LOGIN_FAILURE:
        return QStringLiteral("There was no default logon, and the user failed to log on "
                              "successfully when the logon dialog box was displayed. No message "
                              "was sent.\r\n");
    case MAPI_E_INSUFFICIENT_MEMORY:
        return QStringLiteral("There was insufficient memory to proceed. No message was sent.\r\n");
    case MAPI_E_TOO_MANY_FILES:
        return QStringLiteral("There were too many file attachments. No message was sent.\r\n");
    case MAPI_E_TOO_MANY_RECIPIENTS:
        return QStringLiteral("There were too many recipients. No message was sent.\r\n");
    case MAPI_E_ATTACHMENT_NOT_FOUND:
        return QStringLiteral("The specified attachment was not found. No message was sent.\r\n");
    case MAPI_E_ATTACHMENT_OPEN_FAILURE:
        return QStringLiteral(
            "The specified attachment could not be opened. No message was sent.\r\n");
    case MAPI_E_UNKNOWN_RECIPIENT:
        return QStringLiteral(
            "A recipient did not appear in the address list. No message was sent.\r\n");
    case MAPI_E_BAD_RECIPTYPE:
        return QStringLiteral("The type of a recipient was not MAPI_TO, MAPI_CC, or MAPI_BCC. No "
                              "message was sent.\r\n");
    case MAPI_E_TEXT_TOO_LARGE:
        return QStringLiteral("The text in the message was too large. No message was sent.\r\n");
    case MAPI_E_AMBIGUOUS_RECIPIENT:
        return QStringLiteral("A recipient matched more than one of the recipient descriptor "
                              "structures and MAPI_DIALOG was not set. No message was sent.\r\n");
    case MAPI_E_INVALID_RECIPS:
        return QStringLiteral(
            "One or more recipients were invalid or did not resolve to any address.\r\n");
    default:
        return QStringLiteral("Unknown error code.\r\n");
    }
}

void CMapiMailer::ClearAttachments()
{
    m_attachments.clear();
}
