#include "InputList.h"

#include "imaging/NativeNames.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Closes the descriptor it opened; standard input stays open.
class InputDescriptor
{
public:
    explicit InputDescriptor(const QString& source)
        : m_fd(source == QLatin1String("-")
                   ? STDIN_FILENO
                   : ::open(nativeName(source).constData(), O_RDONLY | O_CLOEXEC)),
          m_owned(source != QLatin1String("-"))
    {}
    ~InputDescriptor()
    {
        if (m_owned && m_fd >= 0)
            ::close(m_fd);
    }
    InputDescriptor(const InputDescriptor&) = delete;
    InputDescriptor& operator=(const InputDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
    bool m_owned;
};

} // namespace

QStringList splitInputList(const QByteArray& bytes, char separator)
{
    QStringList entries;
    for (const QByteArray& entry : bytes.split(separator)) {
        if (!entry.isEmpty())
            entries << nameFromNative(entry);
    }
    return entries;
}

std::optional<QStringList> readInputList(const QString& source, bool nullSeparated, QString& error)
{
    const InputDescriptor input(source);
    QByteArray bytes;
    char buffer[1 << 16];
    ssize_t count = input.get() < 0 ? -1 : 0;
    while (input.get() >= 0 && (count = ::read(input.get(), buffer, sizeof buffer)) != 0) {
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            break;
        bytes.append(buffer, count);
    }
    if (count < 0) {
        error = QStringLiteral("--files-from: cannot read '%1': %2")
                    .arg(source, QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    return splitInputList(bytes, nullSeparated ? '\0' : '\n');
}
