// A new file that appears under its name only once it is complete and on the
// disk, so that a target always holds either its old bytes or the whole new file,
// and a killed process leaves nothing behind that outlives the next run.
//
// On Linux the file is written without a name (O_TMPFILE) and linked in only when
// it is committed; the system reclaims it by itself when the process dies. Where
// the file system cannot do that, the file gets a hidden name of its own in the
// target's folder, ".pictavo-<process id>-<random>.tmp" (no picture pattern
// matches it), and the first PendingFile of a later process in that folder
// removes such files whose process no longer runs. The same name is used for the
// moment between linking an unnamed file in and renaming it over the target.
//
// POSIX only; a Windows build needs its own version of this file.
#pragma once

#include "imaging/FileFailure.h"

#include <QByteArray>
#include <QString>

class PendingFile
{
public:
    // Opens the new file in `folder`. Failure (the folder is missing, read-only,
    // full, not ours) shows in failure().
    explicit PendingFile(const QString& folder);
    // Discards the file unless it was committed.
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    const FileFailure& failure() const { return m_failure; }

    // Appends `bytes`. False, with failure() set, when the system refuses them.
    bool write(const QByteArray& bytes);

    // Puts the written bytes on the disk (fsync). commit() does it too; a caller
    // that commits later may do it earlier on another thread. False on failure.
    bool sync();

    // Syncs the file and puts it in place as `target` in one step (a rename in
    // the folder given to the constructor), replacing a file of that name and
    // keeping its permissions. False, with failure() set, when that is not
    // possible; `target` is then as it was and the new file is gone.
    bool commit(const QString& target);

    // Like commit(), but never replaces a file: when `target` exists (or
    // appears meanwhile), returns false and keeps the new file for another
    // name, with failure() clear. False with failure() set on any other failure.
    bool commitAsNew(const QString& target);

    // The folder's entries that are left-over files of this kind from processes
    // that no longer run, removed once per folder and process. Called by the
    // constructor; public for tests.
    static void removeStaleFiles(const QString& folder);

private:
    bool fail(int error);
    bool openUnnamed();
    bool openNamed();
    bool giveName();
    bool linkAsNew(const QString& target);
    void closeCommitted();
    void discard();

    QString m_folder;
    // The file's name while it has one of its own; empty while it is unnamed.
    QString m_namedPath;
    int m_fd = -1;
    bool m_synced = false;
    FileFailure m_failure;
};

// Writes `bytes` to `target` through a PendingFile. Returns the failure, if any;
// `target` then keeps its old bytes.
FileFailure writeFileReplacing(const QString& target, const QByteArray& bytes);
