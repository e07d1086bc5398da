#include "imaging/TemporaryPictureFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Takes the whole file's lock for this open file description; false when another
// one (of this or another process) holds it.
bool lockWhole(int fd)
{
    struct flock lock
    {
    };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

// Removes `path` when it is a regular file that no process holds.
void removeIfUnheld(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = open(name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat opened
    {
    };
    struct stat named
    {
    };
    // Only the very file that was opened, and only while it still has this name.
    if (fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && lockWhole(fd)
        && lstat(name.constData(), &named) == 0 && named.st_dev == opened.st_dev
        && named.st_ino == opened.st_ino)
        unlink(name.constData());
    close(fd);
}

void sweepOnce(const QString& folder)
{
    static std::mutex mutex;
    static QSet<QString> swept;
    {
        const std::lock_guard lock(mutex);
        if (swept.contains(folder))
            return;
        swept.insert(folder);
    }
    TemporaryPictureFile::removeLeftovers(folder);
}

} // namespace

TemporaryPictureFile::~TemporaryPictureFile()
{
    if (m_fd < 0)
        return;
    // Unlinked while still held, so no sweep of another process can mistake it.
    unlink(QFile::encodeName(m_path).constData());
    close(m_fd);
}

qint64 TemporaryPictureFile::write(const QString& path, const QByteArray& bytes)
{
    if (m_fd >= 0 || path.isEmpty())
        return -1;
    sweepOnce(QFileInfo(path).absolutePath());
    const QByteArray name = QFile::encodeName(path);
    const int fd = open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    struct stat status
    {
    };
    // Truncated only once it is ours: a file of that name in use elsewhere stays.
    if (!lockWhole(fd) || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)
        || ftruncate(fd, 0) != 0) {
        close(fd);
        return -1;
    }
    m_path = path;
    m_fd = fd;
    if (!writeAll(fd, bytes) || fstat(fd, &status) != 0)
        return -1;
    return qint64(status.st_size);
}

void TemporaryPictureFile::removeLeftovers(const QString& folder)
{
    const QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral("Temppic.jpg*.jpg")},
                                            QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names)
        removeIfUnheld(dir.filePath(name));
}
