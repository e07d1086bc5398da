#include "imaging/PendingFile.h"

#include "imaging/NativeNames.h"
#include "imaging/NativePaths.h"

#include <QDir>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if !defined(Q_OS_UNIX)
#error "PendingFile is written for POSIX systems"
#endif

namespace {

constexpr char kNamePrefix[] = ".pictavo-";
constexpr char kNameSuffix[] = ".tmp";

// By the bytes of the name, so that a name that is not UTF-8 is kept as it is.
QByteArray encoded(const QString& path)
{
    return nativeName(path);
}

QString siblingPath(const QString& folder)
{
    return QDir(folder).filePath(
        QStringLiteral("%1%2-%3%4")
            .arg(QLatin1String(kNamePrefix))
            .arg(qint64(::getpid()))
            .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))
            .arg(QLatin1String(kNameSuffix)));
}

// The process id in a name of ours, or 0 when the name is not one of ours.
qint64 processOf(const QString& name)
{
    if (!name.startsWith(QLatin1String(kNamePrefix)) || !name.endsWith(QLatin1String(kNameSuffix)))
        return 0;
    const QStringView middle = QStringView(name)
                                   .mid(qsizetype(sizeof kNamePrefix) - 1)
                                   .chopped(qsizetype(sizeof kNameSuffix) - 1);
    const qsizetype dash = middle.indexOf(u'-');
    if (dash <= 0)
        return 0;
    bool ok = false;
    const qint64 pid = middle.left(dash).toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

bool processIsGone(qint64 pid)
{
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

// O_TMPFILE files are linked in through /proc; without it they could not be.
bool unnamedFilesCanBeLinked()
{
#ifdef O_TMPFILE
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
#else
    return false;
#endif
}

void syncFolder(const QString& folder)
{
    const int fd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

PendingFile::PendingFile(const QString& folder) : m_folder(absolutePathOf(folder))
{
    removeStaleFiles(m_folder);
    if (!openUnnamed())
        openNamed();
}

PendingFile::~PendingFile()
{
    discard();
}

void PendingFile::removeStaleFiles(const QString& folder)
{
    static std::mutex mutex;
    static QSet<QString> cleaned;
    const QString key = absolutePathOf(folder);
    {
        const std::lock_guard lock(mutex);
        if (cleaned.contains(key))
            return;
        cleaned.insert(key);
    }
    const QStringList names = fileNamesIn(key);
    for (const QString& name : names) {
        const qint64 pid = processOf(name);
        if (pid != 0 && pid != ::getpid() && processIsGone(pid))
            ::unlink(encoded(QDir(key).filePath(name)).constData());
    }
}

bool PendingFile::fail(int error)
{
    m_failure = failureFromError(error, true);
    return false;
}

bool PendingFile::openUnnamed()
{
#ifdef O_TMPFILE
    if (!unnamedFilesCanBeLinked())
        return false;
    m_fd = ::open(encoded(m_folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    return m_fd >= 0;
#else
    return false;
#endif
}

bool PendingFile::openNamed()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = siblingPath(m_folder);
        m_fd = ::open(encoded(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_namedPath = path;
            return true;
        }
        if (errno != EEXIST)
            return fail(errno);
    }
    return fail(EEXIST);
}

bool PendingFile::write(const QByteArray& bytes)
{
    if (!isOpen())
        return false;
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        data += written;
        left -= written;
    }
    m_synced = false;
    return true;
}

bool PendingFile::sync()
{
    if (!isOpen())
        return false;
    if (m_synced)
        return true;
    // A full disk or a lost network share may only show here.
    if (::fsync(m_fd) != 0)
        return fail(errno);
    m_synced = true;
    return true;
}

// Links an unnamed file in under a hidden name of its own; a named one has it.
bool PendingFile::giveName()
{
    if (!m_namedPath.isEmpty())
        return true;
    const QByteArray source = QByteArray("/proc/self/fd/") + QByteArray::number(m_fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = siblingPath(m_folder);
        if (::linkat(AT_FDCWD, source.constData(), AT_FDCWD, encoded(path).constData(),
                     AT_SYMLINK_FOLLOW) == 0) {
            m_namedPath = path;
            return true;
        }
        if (errno != EEXIST)
            return fail(errno);
    }
    return fail(EEXIST);
}

bool PendingFile::commit(const QString& target)
{
    if (!sync())
        return false;
    struct stat existing
    {
    };
    if (::stat(encoded(target).constData(), &existing) == 0)
        ::fchmod(m_fd, existing.st_mode & 07777);
    if (!giveName())
        return false;
    if (::rename(encoded(m_namedPath).constData(), encoded(target).constData()) != 0) {
        fail(errno);
        discard();
        return false;
    }
    m_namedPath.clear();
    closeCommitted();
    return true;
}

bool PendingFile::commitAsNew(const QString& target)
{
    if (!sync())
        return false;
    if (!linkAsNew(target)) {
        if (errno == EEXIST)
            return false;
        fail(errno);
        discard();
        return false;
    }
    if (!m_namedPath.isEmpty())
        ::unlink(encoded(m_namedPath).constData());
    m_namedPath.clear();
    closeCommitted();
    return true;
}

// Gives the file the name `target` only if nothing has that name: a link fails
// when the name exists, in one step. Where the file system has no links, a
// rename that must not replace does the same.
bool PendingFile::linkAsNew(const QString& target)
{
    const QByteArray name = encoded(target);
    if (m_namedPath.isEmpty()) {
        const QByteArray source = QByteArray("/proc/self/fd/") + QByteArray::number(m_fd);
        if (::linkat(AT_FDCWD, source.constData(), AT_FDCWD, name.constData(),
                     AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno == EEXIST || !giveName())
            return false;
    }
    if (::link(encoded(m_namedPath).constData(), name.constData()) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    if (::renameat2(AT_FDCWD, encoded(m_namedPath).constData(), AT_FDCWD, name.constData(),
                    RENAME_NOREPLACE) == 0) {
        m_namedPath.clear();
        return true;
    }
    return false;
}

void PendingFile::closeCommitted()
{
    ::close(m_fd);
    m_fd = -1;
    syncFolder(m_folder);
}

void PendingFile::discard()
{
    if (!m_namedPath.isEmpty()) {
        ::unlink(encoded(m_namedPath).constData());
        m_namedPath.clear();
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

FileFailure writeFileReplacing(const QString& target, const QByteArray& bytes)
{
    PendingFile file(absoluteFolderOf(target));
    if (file.isOpen() && file.write(bytes))
        file.commit(target);
    return file.failure();
}
