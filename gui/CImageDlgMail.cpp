// The main window's mail commands: the mail set-up, the current picture by mail,
// and the folder offered when no mail program can be started.
#include "CImageDlg.h"

#include "mail/MailSplit.h"
#include "CMailSetupDlg.h"
#include "CPanelDlg.h"
#include "MailCopy.h"
#include "MessageSink.h"
#include "program/TemporaryFolder.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <utility>

namespace {

const QString kCaption = QStringLiteral("Pictavo");

} // namespace

void CImageDlg::OnMailSetup()
{
    CMailSetupDlg dialog(this);
    dialog.m_strMailText = values().m_strMailText;
    dialog.m_strMailSubject = values().m_strMailSubject;
    dialog.m_nMaxMailMb = values().m_nMaxMailMb;
    if (dialog.exec() != QDialog::Accepted)
        return;
    values().m_nMaxMailMb = dialog.m_nMaxMailMb;
    values().m_strMailText = dialog.m_strMailText;
    values().m_strMailSubject = dialog.m_strMailSubject;
}

void CImageDlg::OnSendMail()
{
    if (refuseWhileBatchRuns(QStringLiteral("Während ein Verzeichnis umgewandelt wird, kann kein "
                                            "Bild per Mail versendet werden.")))
        return;
    if (currentPicture().isEmpty()) {
        showMessage(QStringLiteral("Es ist kein Bild geöffnet, das versendet werden könnte."),
                    QStringLiteral("Pictavo"), MessageIcon::Information);
        return;
    }
    // Converted into a folder of its own, never onto the picture itself; the
    // copy goes when the send has ended, whatever the mail client did with it.
    auto copy = std::make_shared<const MailCopy>(currentPicture());
    if (!copy->isValid()) {
        showMessage(QStringLiteral("Im temporären Ordner %1 kann keine Kopie für die Mail angelegt "
                                   "werden.")
                        .arg(QDir::toNativeSeparators(temporaryFolder())),
                    QStringLiteral("Pictavo"), MessageIcon::Warning);
        return;
    }
    // The copy goes with the send, so without a mail client the picture's own
    // folder is offered.
    const QString folder = QFileInfo(currentPicture()).absolutePath();
    const auto send = [this, copy, folder](const ConversionOutcome& outcome) {
        if (!outcome.conversion.written) {
            showMessage(outcome.error, kCaption, MessageIcon::Warning);
            return;
        }
        if (values().m_nMaxMailMb > 0 &&
            mailBytesOfAttachment(outcome.conversion.fileBytes) > qint64(values().m_nMaxMailMb) * 1'000'000) {
            showMessage(tooLargeForMail({copy->path()}), kCaption, MessageIcon::Information);
            return;
        }
        m_session->mailSender().send({{copy->path()}, values().m_strMailSubject, values().m_strMailText, copy, folder});
    };
    m_session->post(ConversionKind::MailCopy, currentPicture(), copy->path(), send);
}

// Without a mail client the pictures can still go by hand, from their folder.
void CImageDlg::offerMailFolder(const CMapiMailer::SendResult& result)
{
    // The remaining parts of a split mail would only ask again.
    m_session->dropWaitingMails();
    if (result.folder.isEmpty()) {
        showMessage(result.message, kCaption, MessageIcon::Warning);
        return;
    }
    const QString folder = QDir::toNativeSeparators(result.folder);
    if (!askYesNo(QStringLiteral("%1\n\nSoll stattdessen der Ordner «%2» geöffnet werden?")
                      .arg(result.message, folder),
                  kCaption, MessageIcon::Warning))
        return;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(result.folder)))
        showMessage(QStringLiteral("Der Ordner «%1» kann nicht geöffnet werden.").arg(folder),
                    kCaption, MessageIcon::Warning);
}
