// The main window's directory conversion: the core's BatchConversion started
// from the window, its reports turned into the title, the progress dialog, the
// question and the closing message or mail.
#include "CImageDlg.h"
#include "mail/MailSplit.h"

#include "BatchEndReport.h"
#include "CConfirmDlg.h"
#include "DialogUnits.h"
#include "ImageView.h"
#include "batch/BatchSources.h"
#include "imaging/NativeNames.h"
#include "imaging/NativePaths.h"
#include "MessageSink.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <memory>

namespace {

const QString kCaption = QStringLiteral("Pictavo");

// Milliseconds between two updates of the progress dialog.
constexpr qint64 kProgressInterval = 100;

QString namedWithReason(const QString& name, const QString& reason)
{
    return QStringLiteral("%1: %2").arg(name, reason);
}

BatchAnswer batchAnswer(int answer)
{
    switch (answer) {
    case CConfirmDlg::kYes:
        return BatchAnswer::Yes;
    case CConfirmDlg::kNo:
        return BatchAnswer::No;
    case CConfirmDlg::kYesToAll:
        return BatchAnswer::YesToAll;
    default:
        return BatchAnswer::Cancel;
    }
}

} // namespace

QString CImageDlg::batchProgressText() const
{
    return QStringLiteral("%1 / %2").arg(m_batchDone).arg(m_batchTotal);
}

void CImageDlg::connectBatch()
{
    // The progress dialog follows the figures at most every 100 ms: a batch of
    // small pictures reports dozens of files a second, and each repaint costs
    // the X server and the window manager processor time that the batch, below
    // normal priority, would otherwise get. The last figures always show.
    auto* refresh = new QTimer(this);
    refresh->setSingleShot(true);
    auto sinceRefresh = std::make_shared<QElapsedTimer>();
    const auto showProgress = [this, sinceRefresh] {
        sinceRefresh->start();
        if (m_progress == nullptr || !m_progress->isVisible())
            return;
        m_progress->setMaximum(m_batchTotal);
        m_progress->setValue(m_batchDone);
        m_progress->setLabelText(
            QStringLiteral("Die Bilder werden umgewandelt … %1").arg(batchProgressText()));
    };
    connect(refresh, &QTimer::timeout, this, showProgress);
    connect(m_session.get(), &ConversionSession::batchProgress, this,
            [this, refresh, sinceRefresh, showProgress](int done, int total) {
                m_batchDone = done;
                m_batchTotal = total;
                const qint64 wait =
                    sinceRefresh->isValid() ? kProgressInterval - sinceRefresh->elapsed() : 0;
                if (wait <= 0 || done == total) {
                    refresh->stop();
                    showProgress();
                } else if (!refresh->isActive()) {
                    refresh->start(int(wait));
                }
            });
    connect(m_session.get(), &ConversionSession::batchFileDone, this, &CImageDlg::showBatchFile);
    connect(m_session.get(), &ConversionSession::batchFileSkipped, this, &CImageDlg::noteBatchSkip);
    connect(m_session.get(), &ConversionSession::batchFinished, this, &CImageDlg::finishBatch);
    // The file asked about is shown already (its fileDone came first); the
    // batch waits on its thread until the answer is handed back below.
    connect(m_session.get(), &ConversionSession::batchQuestion, this,
            [this] { m_confirm->ask(QStringLiteral("Möchten Sie diese Datei umwandeln?")); });
    // The picture the question stood in for is the current one again before
    // the batch goes on.
    connect(m_confirm.get(), &CConfirmDlg::answered, this, [this](int answer) {
        giveBackReplacedPicture();
        if (answer == CConfirmDlg::kYesToAll)
            values().m_bAskEachFile = 0;
        m_session->answerBatch(batchAnswer(answer));
    });
}

// The destination is settled before the batch starts, so that no picture is
// read for nothing: a missing folder is made if the user wants it, one that
// cannot take files is named.
bool CImageDlg::destinationReady(const QString& folder)
{
    const QString shown = shownName(QDir::toNativeSeparators(folder));
    FileFailure failure = destinationFolderFailure(folder);
    if (failure.problem == FileProblem::NotFound && !hasEntry(folder)) {
        if (!askYesNo(QStringLiteral("Der Zielordner „%1“ existiert nicht.\n\nSoll er angelegt "
                                     "werden?")
                          .arg(shown),
                      kCaption, MessageIcon::Warning))
            return false;
        if (!makeFolders(folder)) {
            showMessage(QStringLiteral("Der Zielordner „%1“ kann nicht angelegt werden.").arg(shown),
                        kCaption, MessageIcon::Warning);
            return false;
        }
        failure = destinationFolderFailure(folder);
    }
    if (!failure.failed())
        return true;
    showMessage(QStringLiteral("In den Zielordner „%1“ kann nicht geschrieben werden: %2.")
                    .arg(shown, germanReason(failure)),
                kCaption, MessageIcon::Warning);
    return false;
}

void CImageDlg::startBatch(const BatchJob& job)
{
    m_batchDone = 0;
    // Known before the first report, for the title of the first file.
    // Until the batch's first report, which leaves out earlier results.
    m_batchTotal = int(job.sourceFolder.isEmpty() ? job.files.size()
                                                  : picturesInFolder(job.sourceFolder).size());
    m_batchUnreadable.clear();
    m_batchUnwritten.clear();
    const bool asking = values().m_bAskEachFile != 0;
    m_session->startBatch(job, asking);
    if (asking) {
        // Stacked above this window by the window manager, though no widget of
        // this window (its parent would make it one).
        m_confirm->winId();
        if (m_confirm->windowHandle() != nullptr)
            m_confirm->windowHandle()->setTransientParent(windowHandle());
        return;
    }
    if (m_progress == nullptr) {
        m_progress = new QProgressDialog(this);
        m_progress->setObjectName(QStringLiteral("BatchProgress"));
        m_progress->setWindowTitle(QStringLiteral("Verzeichnis umwandeln"));
        m_progress->setCancelButtonText(QStringLiteral("Abbrechen"));
        // The window stays usable: its commands say themselves that a batch runs.
        m_progress->setWindowModality(Qt::NonModal);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        // Wide enough for its title and the figures.
        m_progress->setMinimumWidth(DialogUnits(font()).size(200, 0).width());
        connect(m_progress, &QProgressDialog::canceled, this, [this] {
            if (IsBatchRunning())
                m_session->cancelBatch();
        });
    }
    m_progress->reset();
    m_progress->setRange(0, std::max(m_batchTotal, 1));
    m_progress->setValue(0);
    m_progress->setLabelText(
        QStringLiteral("Die Bilder werden umgewandelt … %1").arg(batchProgressText()));
    m_progress->show();
}

void CImageDlg::showBatchFile(const BatchFileResult& file)
{
    ++m_batchDone;
    setWindowTitle(QStringLiteral("%1 – %2").arg(file.conversion.title, batchProgressText()));
    if (file.view.isNull())
        return;
    // Only a file that is asked about comes with its view: it is shown, and
    // stands in for the current picture while the question is open, so that a
    // refresh from the control panel works on it.
    m_session->showBatchFile(file.source, file.conversion, file.view);
    if (!m_replacedPicture)
        m_replacedPicture = currentPicture();
    setCurrentPicture(file.source);
}

void CImageDlg::noteBatchSkip(const QString& source, const BatchSkip& skip)
{
    ++m_batchDone;
    const QString reason = germanReason(skip.failure);
    if (skip.step == BatchSkip::Step::Read) {
        m_batchUnreadable << namedWithReason(QFileInfo(source).fileName(), reason);
        setWindowTitle(QStringLiteral("%1 – übersprungen – %2")
                           .arg(shownName(QFileInfo(source).fileName()), batchProgressText()));
        return;
    }
    // The output's name when it is known, else the source's.
    const QFileInfo target(skip.target);
    const bool named = !skip.target.isEmpty() && !target.isDir() &&
                       target.fileName().endsWith(QStringLiteral(".jpg"), Qt::CaseInsensitive);
    m_batchUnwritten << namedWithReason(named ? target.fileName() : QFileInfo(source).fileName(),
                                        reason);
}

void CImageDlg::finishBatch(const BatchSummary& summary)
{
    if (m_progress != nullptr)
        m_progress->hide();
    m_confirm->hide();
    giveBackReplacedPicture();
    // Finished or cancelled: the view, title and figures show the user's own
    // picture again, behind the closing message.
    if (!m_shutDown)
        ShowCurrentPicture();
    const BatchEndReport report = batchEndReport(summary, m_batchUnreadable, m_batchUnwritten,
                                                 values().m_strDestDir, values().m_bMailAfter != 0);
    if (!report.text.isEmpty())
        showReport(report.text, report.details, kCaption,
                   summary.failed() > 0 || summary.destinationFailure.failed()
                       ? MessageIcon::Information
                       : MessageIcon::None);
    if (!summary.cancelled && values().m_bMailAfter != 0 && !summary.accepted.isEmpty())
        mailBatchResults(summary.accepted);
}

void CImageDlg::giveBackReplacedPicture()
{
    if (!m_replacedPicture)
        return;
    setCurrentPicture(*m_replacedPicture);
    m_replacedPicture.reset();
}

// Handed to the mail client on the sender's thread; its result arrives as a
// signal and a failure is shown then. Under the user's mail limit the pictures
// go out in as many mails as needed, one after the other.
void CImageDlg::mailBatchResults(const QStringList& files)
{
    if (values().m_nMaxMailMb > 0) {
        QList<std::pair<QString, qint64>> sized;
        for (const QString& file : files)
            sized.append({file, std::max<qint64>(fileSizeOf(file), 0)});
        const MailParts parts = splitForMail(sized, qint64(values().m_nMaxMailMb) * 1'000'000);
        if (!parts.tooLarge.isEmpty())
            showMessage(tooLargeForMail(parts.tooLarge), kCaption, MessageIcon::Information);
        std::deque<MailSender::Message> mails;
        for (qsizetype part = 0; part < parts.mails.size(); ++part)
            mails.push_back({parts.mails[part],
                             partSubject(values().m_strMailSubject, int(part) + 1, int(parts.mails.size())),
                             values().m_strMailText, {}});
        m_session->sendMails(std::move(mails));
        return;
    }
    m_session->mailer().ClearAttachments();
    for (const QString& file : files) {
        const QString refused = m_session->mailer().AddAttachment(file, CMapiMailer::kNoPosition);
        if (!refused.isEmpty())
            showMessage(refused, kCaption, MessageIcon::None);
    }
    m_session->mailSender().send(m_session->mailer(), values().m_strMailSubject, values().m_strMailText);
}

QString CImageDlg::tooLargeForMail(const QStringList& files) const
{
    QStringList names;
    for (const QString& file : files)
        names << QStringLiteral("%1 (%2 MB)")
                     .arg(shownName(QFileInfo(file).fileName()))
                     .arg(QString::number(
                         double(mailBytesOfAttachment(std::max<qint64>(fileSizeOf(file), 0))) / 1e6,
                         'f', 1));
    return QStringLiteral("Grösser als eine Mail von höchstens %1 MB und darum nicht versendet:\n%2")
        .arg(values().m_nMaxMailMb)
        .arg(names.join(u'\n'));
}
