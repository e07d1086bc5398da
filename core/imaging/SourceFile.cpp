#include "imaging/SourceFile.h"

#include "imaging/NativeNames.h"

#include <cerrno>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

FileProblem problemOfType(mode_t mode)
{
    if (S_ISREG(mode))
        return FileProblem::None;
    if (S_ISDIR(mode))
        return FileProblem::IsFolder;
    if (S_ISFIFO(mode))
        return FileProblem::IsPipe;
    if (S_ISSOCK(mode))
        return FileProblem::IsSocket;
    return FileProblem::IsDevice;
}

} // namespace

SourceFile::SourceFile(const QString& path)
{
    open(path);
}

// O_NONBLOCK keeps open() itself from waiting for a FIFO's writer; the type is
// then read from the open descriptor, so it is the type of what would be read.
void SourceFile::open(const QString& path)
{
    if (path.isEmpty()) {
        m_failure = {FileProblem::NotFound, ENOENT};
        return;
    }
    // By its bytes: a name that is not UTF-8 is opened as it is on the disk.
    const QByteArray name = nativeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        // A socket cannot be opened at all; its type says more than the error.
        const int error = errno;
        struct stat status
        {
        };
        m_failure = failureFromError(error, false);
        if (::stat(name.constData(), &status) == 0 &&
            problemOfType(status.st_mode) != FileProblem::None)
            m_failure = {problemOfType(status.st_mode), error};
        return;
    }
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0) {
        m_failure = failureFromError(errno, false);
        ::close(fd);
        return;
    }
    m_failure.problem = problemOfType(status.st_mode);
    if (!m_failure.failed()) {
        if (status.st_size > kMaxSourceBytes)
            m_failure.problem = FileProblem::TooLarge;
        else if (status.st_size == 0)
            m_failure.problem = FileProblem::Empty;
    }
    if (m_failure.failed()) {
        ::close(fd);
        return;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_size = status.st_size;
    if (!m_file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        m_failure = {FileProblem::ReadError, EIO};
    }
}

QByteArray SourceFile::readAll()
{
    if (m_failure.failed() || !m_file.isOpen())
        return {};
    QByteArray bytes;
    try {
        bytes.resize(m_size);
    } catch (const std::bad_alloc&) {
        m_failure.problem = FileProblem::OutOfMemory;
        return {};
    }
    if (!m_file.seek(0)) {
        m_failure = {FileProblem::ReadError, EIO};
        return {};
    }
    // A file that shrank since it was opened gives what it still holds; one that
    // grew is read as it was, up to the size it had.
    qint64 filled = 0;
    while (filled < m_size) {
        const qint64 got = m_file.read(bytes.data() + filled, m_size - filled);
        if (got < 0) {
            m_failure = {FileProblem::ReadError, EIO};
            return {};
        }
        if (got == 0)
            break;
        filled += got;
    }
    if (filled == 0) {
        m_failure.problem = FileProblem::Empty;
        return {};
    }
    bytes.truncate(filled);
    return bytes;
}
