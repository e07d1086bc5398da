#include "CDirectoryConversion.h"

#include "CConfirmDlg.h"
#include "CImageDlg.h"
#include "mail/CMapiMailer.h"
#include "imaging/ConversionPipeline.h"
#include "batch/DirectoryWalk.h"
#include "program/MessageSink.h"

#include <QFileInfo>
#include <QThread>

#include <utility>

namespace {

const QString kCaption = QStringLiteral("Pictavo");

QString namedWithReason(const QString& path, const QString& reason)
{
    return QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), reason);
}

QString listed(const QString& heading, const QStringList& names)
{
    return names.isEmpty() ? QString()
                           : QStringLiteral("\n\n%1\n%2").arg(heading, names.join(u'\n'));
}

} // namespace

CDirectoryConversion::CDirectoryConversion(CImageDlg& window)
    : m_window(window), m_pConfirmDlg(new CConfirmDlg(&window))
{}

CDirectoryConversion::~CDirectoryConversion()
{
    Stop();
}

QString CDirectoryConversion::progressText() const
{
    return QStringLiteral("%1 / %2").arg(filesDone()).arg(filesTotal());
}

void CDirectoryConversion::Start(const QString& sourceFolder, const QString& destinationFolder)
{
    Q_ASSERT(!IsRunning());
    m_strSourceDir = sourceFolder;
    m_sourceFiles.clear();
    m_strDestDir = destinationFolder;
    startThread();
}

void CDirectoryConversion::Start(const QStringList& files, const QString& destinationFolder)
{
    Q_ASSERT(!IsRunning());
    m_strSourceDir.clear();
    m_sourceFiles = files;
    m_strDestDir = destinationFolder;
    startThread();
}

void CDirectoryConversion::startThread()
{
    m_bCancelBatch = 0;
    m_nDone = 0;
    m_nTotal = 0;
    m_unreadable.clear();
    m_unwritten.clear();
    {
        const std::lock_guard lock(m_workMutex);
        m_stopping = false;
    }
    m_thread.reset(QThread::create([this] { BatchThreadProc(); }));
    connect(m_thread.get(), &QThread::finished, this, &CDirectoryConversion::onThreadFinished);
    m_thread->start(QThread::LowPriority);
}

void CDirectoryConversion::Stop()
{
    if (!m_thread)
        return;
    m_bCancelBatch = 1;
    bool insideWork = false;
    {
        const std::lock_guard lock(m_workMutex);
        m_stopping = true;
        insideWork = m_workRunning;
        if (m_pendingWork != nullptr) {
            m_pendingWork = nullptr;
            m_workFinished = true;
            m_workRan = false;
        }
    }
    m_workDone.notify_all();
    if (!insideWork)
        threadEnded();
}

void CDirectoryConversion::onThreadFinished()
{
    if (m_thread)
        threadEnded();
}

void CDirectoryConversion::threadEnded()
{
    m_thread->wait();
    {
        // The worker's last step passed through m_workMutex (its final runOnGui);
        // taking it here orders everything the worker did before what follows,
        // in a way ThreadSanitizer sees too, which cannot look into QThread::wait.
        const std::lock_guard lock(m_workMutex);
        m_pendingWork = nullptr;
    }
    m_thread.reset();
    // Left over only when the batch was stopped while its question was open.
    if (m_replacedPicture) {
        m_window.setCurrentPicture(*m_replacedPicture);
        m_replacedPicture.reset();
    }
    m_pConfirmDlg->hide();
    emit finished();
}

bool CDirectoryConversion::runOnGui(const std::function<void()>& work)
{
    std::unique_lock lock(m_workMutex);
    if (m_stopping)
        return false;
    m_pendingWork = &work;
    m_workFinished = false;
    m_workRan = false;
    lock.unlock();
    // By name, so that nothing but the wake-up passes through Qt's event queue;
    // the work itself is handed over under m_workMutex.
    QMetaObject::invokeMethod(this, "runPendingWork", Qt::QueuedConnection);
    lock.lock();
    m_workDone.wait(lock, [this] { return m_workFinished; });
    return m_workRan;
}

void CDirectoryConversion::runPendingWork()
{
    const std::function<void()>* work = nullptr;
    {
        const std::lock_guard lock(m_workMutex);
        work = std::exchange(m_pendingWork, nullptr);
        if (work == nullptr)
            return;
        m_workRunning = true;
    }
    (*work)();
    {
        const std::lock_guard lock(m_workMutex);
        m_workRunning = false;
        m_workFinished = true;
        m_workRan = true;
    }
    m_workDone.notify_all();
}

void CDirectoryConversion::BatchThreadProc()
{
    DirectoryWalk walk =
        m_sourceFiles.isEmpty() ? DirectoryWalk(m_strSourceDir) : DirectoryWalk(m_sourceFiles);
    m_nTotal = walk.total();
    ConvertDirectory(walk);
    // Finished or cancelled: the view, title and figures show the user's own
    // picture again.
    runOnGui([this] { m_window.ShowCurrentPicture(); });
}

void CDirectoryConversion::ConvertDirectory(DirectoryWalk& walk)
{
    for (QString path = walk.next(); !path.isEmpty(); path = walk.next()) {
        ConvertBatchFile(path, walk);
        if (m_bCancelBatch != 0)
            return;
    }
    finishWalk();
}

void CDirectoryConversion::ConvertBatchFile(const QString& path, DirectoryWalk& walk)
{
    FileResult file;
    if (!runOnGui([&] { file = convertFile(path); }))
        return;
    if (file.unreadable) {
        m_unreadable << namedWithReason(path, file.reason);
        return;
    }
    walk.recordWritten(file.outputPath);
    if (!file.written)
        m_unwritten << namedWithReason(file.outputPath, file.reason);
    if (m_bCancelBatch != 0)
        return;
    if (m_window.m_bAskEachFile != 0) {
        switch (askAbout(path)) {
        case CConfirmDlg::kNo:
            return;
        case CConfirmDlg::kCancel:
            m_bCancelBatch = 1;
            return;
        case CConfirmDlg::kYesToAll:
            m_window.m_bAskEachFile = 0;
            break;
        default:
            break;
        }
    }
    if (m_window.m_bMailAfter != 0)
        runOnGui([&] {
            const QString refused =
                m_window.mailer().AddAttachment(file.outputPath, CMapiMailer::kNoPosition);
            if (!refused.isEmpty())
                showMessage(refused, kCaption, MessageIcon::None);
        });
}

CDirectoryConversion::FileResult CDirectoryConversion::convertFile(const QString& path)
{
    FileResult file;
    // Nothing is written for a source that cannot be read; the view keeps the
    // picture before it.
    m_window.Convert(path, m_strDestDir);
    const ConversionResult& result = m_window.lastResult();
    ++m_nDone;
    if (result.readFailure.failed()) {
        file.unreadable = true;
        file.reason = germanReason(result.readFailure);
        m_window.setWindowTitle(QStringLiteral("%1 – übersprungen – %2")
                                    .arg(QFileInfo(path).fileName(), progressText()));
        return file;
    }
    file.outputPath = directoryOutputPath(m_strDestDir, path, result.outputSize);
    file.written = result.written;
    file.reason = germanReason(result.writeFailure);
    m_window.setWindowTitle(QStringLiteral("%1 – %2").arg(result.title, progressText()));
    return file;
}

int CDirectoryConversion::askAbout(const QString& path)
{
    // While the question is open, a refresh the user causes in the control panel
    // works on this file.
    if (!runOnGui([&] {
            m_replacedPicture = m_window.currentPicture();
            m_window.setCurrentPicture(path);
        }))
        return CConfirmDlg::kCancel;
    m_pConfirmDlg->setQuestion(QStringLiteral("Möchten Sie diese Datei umwandeln?"));
    const int answer = m_pConfirmDlg->Ask(&m_bCancelBatch);
    runOnGui([this] {
        m_window.setCurrentPicture(m_replacedPicture.value_or(QString()));
        m_replacedPicture.reset();
    });
    return answer;
}

void CDirectoryConversion::finishWalk()
{
    const QString skipped = skippedFilesText();
    if (m_window.m_bMailAfter == 0) {
        runOnGui([&] {
            showMessage(QStringLiteral("Alle Dateine sind umgewandelt") + skipped, kCaption,
                        MessageIcon::None);
        });
        return;
    }
    runOnGui([&] {
        if (!skipped.isEmpty())
            showMessage(skipped.trimmed(), kCaption, MessageIcon::Information);
        m_window.mailSender().send(m_window.mailer(), m_window.m_strMailSubject,
                                   m_window.m_strMailText);
    });
}

QString CDirectoryConversion::skippedFilesText() const
{
    return listed(QStringLiteral("Nicht umgewandelt, weil sie sich nicht als Bild lesen liessen:"),
                  m_unreadable) +
           listed(QStringLiteral("Nicht geschrieben werden konnten:"), m_unwritten);
}
