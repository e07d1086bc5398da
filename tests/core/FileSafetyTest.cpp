// Reading and writing files so that nothing blocks, nothing grows without end
// and nothing is left behind: special files and giants refused before any read,
// new files that appear only whole, leftovers of killed processes removed, and
// the causes of failures named.
#include "imaging/CPicture.h"
#include "imaging/FileFailure.h"
#include "imaging/PendingFile.h"
#include "imaging/SourceFile.h"
#include "imaging/TemporaryPictureFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// A process id that ran and has ended.
pid_t endedProcess()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

TEST(SourceFile, SpecialFilesAndGiantsAreRefusedBeforeAnyRead)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pipe = dir.filePath("pipe.jpg");
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString socketPath = dir.filePath("socket.jpg");
    const int socketFd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(socketPath).constData(), sizeof address.sun_path);
    ASSERT_EQ(bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // Sparse: takes no disk, and would take 3 GiB of memory if it were read.
    const QString giant = dir.filePath("giant.jpg");
    {
        QFile file(giant);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64(3) << 30));
    }
    const QString empty = dir.filePath("empty.jpg");
    write(empty, QByteArray());

    const std::vector<std::pair<QString, FileProblem>> cases = {
        {pipe, FileProblem::IsPipe},
        {socketPath, FileProblem::IsSocket},
        {QStringLiteral("/dev/zero"), FileProblem::IsDevice},
        {dir.path(), FileProblem::IsFolder},
        {giant, FileProblem::TooLarge},
        {empty, FileProblem::Empty},
        {dir.filePath("missing.jpg"), FileProblem::NotFound},
    };
    QElapsedTimer clock;
    clock.start();
    for (const auto& [path, problem] : cases) {
        SourceFile source(path);
        EXPECT_EQ(source.failure().problem, problem) << qPrintable(path);
        EXPECT_TRUE(source.readAll().isEmpty()) << qPrintable(path);
        FileFailure failure;
        CPicture picture;
        EXPECT_FALSE(picture.LoadFromFile(path, &failure)) << qPrintable(path);
        EXPECT_EQ(failure.problem, problem) << qPrintable(path);
    }
    // Nothing waited for a writer of the pipe or read the giant.
    EXPECT_LT(clock.elapsed(), 2000);
    close(socketFd);
}

TEST(SourceFile, RegularFileIsReadWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bytes.bin");
    const QByteArray bytes(100000, 'p');
    write(path, bytes);
    SourceFile source(path);
    EXPECT_FALSE(source.failure().failed());
    EXPECT_EQ(source.size(), bytes.size());
    EXPECT_EQ(source.readAll(), bytes);
}

TEST(PendingFile, AppearsOnlyWholeAndKeepsThePermissions)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("photo.jpg");
    write(target, "old bytes");
    ASSERT_TRUE(
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    {
        PendingFile file(dir.path());
        ASSERT_TRUE(file.isOpen());
        ASSERT_TRUE(file.write("new "));
        ASSERT_TRUE(file.write("bytes"));
        // Written but not committed: the target is untouched and nothing else shows.
        EXPECT_EQ(contents(target), QByteArray("old bytes"));
        EXPECT_EQ(entries(dir.path()), QStringList{"photo.jpg"});
        ASSERT_TRUE(file.commit(target));
    }
    EXPECT_EQ(contents(target), QByteArray("new bytes"));
    struct stat status
    {
    };
    ASSERT_EQ(stat(QFile::encodeName(target).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    {
        PendingFile abandoned(dir.path());
        ASSERT_TRUE(abandoned.write("never shown"));
    }
    EXPECT_EQ(entries(dir.path()), QStringList{"photo.jpg"});

    const FileFailure missing = writeFileReplacing(dir.filePath("no/such/folder/x.jpg"), "x");
    EXPECT_EQ(missing.problem, FileProblem::NotFound);
}

// A process killed while it writes leaves nothing that the next one keeps.
TEST(PendingFile, KilledWriterLeavesNothingBehind)
{
    QTemporaryDir dir;
    const pid_t child = fork();
    if (child == 0) {
        PendingFile file(dir.path());
        file.write(QByteArray(1 << 20, 'k'));
        file.sync();
        raise(SIGKILL);
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    // Where the file system keeps unnamed files, there is nothing at all; else
    // the dead writer's file goes with the next writer in the folder.
    PendingFile next(dir.path());
    EXPECT_TRUE(entries(dir.path()).isEmpty()) << qPrintable(entries(dir.path()).join(' '));
}

TEST(PendingFile, LeftoversOfEndedProcessesGoOthersStay)
{
    QTemporaryDir dir;
    const QString stale = QStringLiteral(".pictavo-%1-0badf00d.tmp").arg(endedProcess());
    const QString running = QStringLiteral(".pictavo-%1-0badf00d.tmp").arg(getppid());
    const QStringList others = {".pictavo-notes.tmp", "photo.jpg", "photo.jpg.1a2b3c.tmp"};
    for (const QString& name : QStringList{stale, running} + others)
        write(dir.filePath(name), "x");
    PendingFile::removeStaleFiles(dir.path());
    QStringList expected = QStringList{running} + others;
    expected.sort();
    EXPECT_EQ(entries(dir.path()), expected);
}

// The preview's real file: on the disk while the run holds it, gone afterwards;
// a killed run's file goes with the next sweep, one in use elsewhere stays.
TEST(TemporaryPictureFile, HeldWhileItLivesLeftoversOfKilledRunsGo)
{
    QTemporaryDir dir;
    const QString killed = dir.filePath("Temppic.jpg1.jpg");
    const pid_t child = fork();
    if (child == 0) {
        TemporaryPictureFile file;
        file.write(killed, "killed run");
        raise(SIGKILL);
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(contents(killed), QByteArray("killed run"));

    write(dir.filePath("photo.jpg"), "x");
    write(dir.filePath("Temppic.jpg.txt"), "x");
    {
        TemporaryPictureFile inUse;
        const QString held = dir.filePath("Temppic.jpg2.jpg");
        EXPECT_EQ(inUse.write(held, "preview bytes"), 13);
        EXPECT_EQ(contents(held), QByteArray("preview bytes"));
        // Another writer of the same name must not take it over.
        TemporaryPictureFile second;
        EXPECT_EQ(second.write(held, "other"), -1);
        EXPECT_EQ(contents(held), QByteArray("preview bytes"));

        TemporaryPictureFile::removeLeftovers(dir.path());
        EXPECT_EQ(entries(dir.path()),
                  (QStringList{"Temppic.jpg.txt", "Temppic.jpg2.jpg", "photo.jpg"}));
    }
    EXPECT_EQ(entries(dir.path()), (QStringList{"Temppic.jpg.txt", "photo.jpg"}));
}

TEST(FileFailure, CausesAreNamedInBothLanguages)
{
    struct Case
    {
        int error;
        bool writing;
        FileProblem problem;
        const char* german;
        const char* english;
    };
    const std::vector<Case> cases = {
        {ENOSPC, true, FileProblem::DiskFull, "voll", "disk full"},
        {EDQUOT, true, FileProblem::DiskFull, "voll", "disk full"},
        {EACCES, true, FileProblem::AccessDenied, "Berechtigung", "permission denied"},
        {EPERM, false, FileProblem::AccessDenied, "Berechtigung", "permission denied"},
        {EROFS, true, FileProblem::ReadOnlyFileSystem, "schreibgeschützt", "read-only"},
        {ENOENT, false, FileProblem::NotFound, "existiert nicht", "no such file"},
        {EIO, false, FileProblem::ReadError, "Lesefehler", "read error"},
        {EIO, true, FileProblem::WriteError, "Schreibfehler", "write error"},
    };
    for (const Case& test : cases) {
        const FileFailure failure = failureFromError(test.error, test.writing);
        EXPECT_EQ(failure.problem, test.problem) << test.english;
        EXPECT_TRUE(germanReason(failure).contains(QString::fromUtf8(test.german)))
            << qPrintable(germanReason(failure));
        EXPECT_TRUE(englishReason(failure).contains(QLatin1String(test.english)))
            << qPrintable(englishReason(failure));
    }
    EXPECT_FALSE(failureFromError(0, true).failed());
    EXPECT_EQ(cannotReadMessage("/bilder/fake.heic", {FileProblem::NotAPicture, 0}),
              QStringLiteral("«fake.heic» kann nicht gelesen werden: das ist kein Bild in einem "
                             "lesbaren Format."));
}

} // namespace
