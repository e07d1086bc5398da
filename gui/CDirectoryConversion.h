// One directory conversion of the main window: every picture of the source
// folder converted with the current settings into the destination folder, on a
// worker thread, with the question "Umwandlung" before each file when the main
// window's ask-each-file flag is set, and at the end the message "Alle Dateine
// sind umgewandelt" or, with the mail flag set, one mail of all converted files.
//
// The object lives on the GUI thread with the main window, which owns it. The
// worker reaches the window only through runOnGui(), which runs a piece of work
// on the GUI thread and waits for it; conversions therefore take their turn with
// the user's own. The only values the worker reads or writes directly are
// atomics: the window's ask-each-file and mail flags, the cancel flag and the
// progress figures.
//
// A picture that cannot be read or decoded is skipped: nothing is written for it
// and its name is listed under the closing message with the reason. The
// conversion writes each result through a PendingFile, so a file of the final
// name holds its old bytes until the whole new file replaces it, and a failed
// write (a full disk, say) is listed with its cause.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class CConfirmDlg;
class CImageDlg;
class DirectoryWalk;
class QThread;

class CDirectoryConversion final : public QObject
{
    Q_OBJECT
public:
    // Creates the question dialog, hidden, as a child of `window`.
    explicit CDirectoryConversion(CImageDlg& window);
    // Stops a running batch (see Stop).
    ~CDirectoryConversion() override;

    // Starts the walk over `sourceFolder` into `destinationFolder` on a new thread
    // at low priority. GUI thread; only while !IsRunning().
    void Start(const QString& sourceFolder, const QString& destinationFolder);
    // The same over exactly `files` instead of a folder's pictures.
    void Start(const QStringList& files, const QString& destinationFolder);

    // From Start until the thread has ended (the finished signal). GUI thread.
    bool IsRunning() const { return m_thread != nullptr; }

    // The user's stop: the walk ends after the current file, without closing
    // message or mail; the view still returns to the user's picture. Any thread.
    void Cancel() { m_bCancelBatch = 1; }

    // Ends the batch at once and waits for its thread: no further work reaches
    // the window, an open question is withdrawn and the current picture the
    // question had replaced is put back. GUI thread. Called from within a piece
    // of the batch's own work (a message box of the batch, say) it cannot wait;
    // the thread then ends when that work returns.
    void Stop();

    // Files converted or skipped so far, and the files of the folder.
    int filesDone() const { return m_nDone.load(); }
    int filesTotal() const { return m_nTotal.load(); }
    // "3 / 40"
    QString progressText() const;

    CConfirmDlg* confirmDialog() const { return m_pConfirmDlg; }

signals:
    // The batch thread has ended; GUI thread.
    void finished();

private:
    struct FileResult
    {
        bool unreadable = false; // the source did not decode; nothing written
        bool written = false;
        QString outputPath; // the final name in the destination folder
        QString reason;     // why it was skipped or not written, for the user
    };

    void startThread();

    // The worker's side.
    void BatchThreadProc();
    void ConvertDirectory(DirectoryWalk& walk);
    void ConvertBatchFile(const QString& path, DirectoryWalk& walk);
    int askAbout(const QString& path);
    void finishWalk();
    QString skippedFilesText() const;
    bool runOnGui(const std::function<void()>& work);

    // The GUI thread's side.
    FileResult convertFile(const QString& path);
    Q_INVOKABLE void runPendingWork();
    void onThreadFinished();
    void threadEnded();

    CImageDlg& m_window;
    CConfirmDlg* m_pConfirmDlg; // owned by the main window as its child
    std::unique_ptr<QThread> m_thread;

    // Set by Start before the thread starts; read by the thread and by the work it
    // hands to the GUI thread.
    QString m_strSourceDir;
    QStringList m_sourceFiles; // when not empty, converted instead of the folder's pictures
    QString m_strDestDir;

    std::atomic<int> m_bCancelBatch{0};
    std::atomic<int> m_nDone{0};
    std::atomic<int> m_nTotal{0};

    // The worker's own: "name: reason" of the files it skipped or could not write.
    QStringList m_unreadable;
    QStringList m_unwritten;

    // GUI thread only: the user's current picture while a question has replaced it.
    std::optional<QString> m_replacedPicture;

    // The hand-over of one piece of work to the GUI thread.
    std::mutex m_workMutex;
    std::condition_variable m_workDone;
    const std::function<void()>* m_pendingWork = nullptr;
    bool m_workRunning = false; // the GUI thread is inside the work right now
    bool m_workFinished = false;
    bool m_workRan = false;
    bool m_stopping = false;
};
