#include "batch/CompleteResults.h"

#include "batch/ResultNames.h"
#include "imaging/ConversionPipeline.h"
#include "imaging/NativeNames.h"
#include "imaging/PictureDecoder.h"
#include "imaging/SourceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes the descriptor it holds.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

bool endsWithEndMarker(const QString& path)
{
    const Descriptor file(
        ::open(nativeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status
    {
    };
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size < 4)
        return false;
    unsigned char end[2] = {};
    return ::pread(file.get(), end, 2, status.st_size - 2) == 2 && end[0] == 0xff && end[1] == 0xd9;
}

} // namespace

std::optional<QSize> expectedResultSize(const QString& sourcePath,
                                        const ConversionSettings& settings)
{
    SourceFile file(sourcePath);
    if (file.failure().failed() || file.device() == nullptr)
        return std::nullopt;
    const PictureHeader header = probePicture(file.device());
    if (!header.isKnown() || !header.storedSize.isValid())
        return std::nullopt;
    const QSize size = convertedSize(header.uprightSize(), settings);
    if (size.isEmpty())
        return std::nullopt;
    return size;
}

bool isCompleteResult(const QString& path, QSize size)
{
    return endsWithEndMarker(path) && looksWrittenByPictavo(path, size);
}
