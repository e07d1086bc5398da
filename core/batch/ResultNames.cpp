#include "batch/ResultNames.h"

#include "imaging/NativeNames.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isNumber(QStringView text)
{
    return !text.isEmpty() && text.size() <= 6 && text.front() != u'0' &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// " (n)" at the end of `name`, n from 2 on: n, and `name` without it.
int takeCopyNumber(QStringView& name)
{
    if (!name.endsWith(u')'))
        return 1;
    const qsizetype open = name.lastIndexOf(QStringLiteral(" ("));
    if (open < 0)
        return 1;
    const QStringView number = name.mid(open + 2).chopped(1);
    if (!isNumber(number) || number.toInt() < 2)
        return 1;
    name = name.left(open);
    return number.toInt();
}

} // namespace

std::optional<ResultName> parseResultName(const QString& fileName)
{
    if (!fileName.endsWith(QLatin1String(".jpg")))
        return std::nullopt;
    QStringView name = QStringView(fileName).chopped(4);
    const int copy = takeCopyNumber(name);
    const qsizetype space = name.lastIndexOf(u' ');
    if (space <= 0)
        return std::nullopt;
    const QStringView size = name.mid(space + 1);
    const qsizetype x = size.indexOf(u'x');
    if (x < 0 || !isNumber(size.left(x)) || !isNumber(size.mid(x + 1)))
        return std::nullopt;
    return ResultName{name.left(space).toString(),
                      QSize(size.left(x).toInt(), size.mid(x + 1).toInt()), copy};
}

QString resultFileName(const ResultName& name)
{
    QString fileName = QStringLiteral("%1 %2x%3").arg(name.stem).arg(name.size.width()).arg(
        name.size.height());
    if (name.copy > 1)
        fileName += QStringLiteral(" (%1)").arg(name.copy);
    return fileName + QStringLiteral(".jpg");
}

QString resultStemOf(const QString& path)
{
    const QString fileName = QFileInfo(path).fileName();
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? fileName : fileName.left(dot);
}

namespace {

// The segments Pictavo's writer puts before the first quantisation table: the
// JFIF segment of version 1.01 with 72 x 72 and no unit, or equal dots per inch,
// and at most a kept EXIF block. Other programs write other densities, comments,
// profiles or segments of their own there.
bool hasPictavoHeader(QFile& file)
{
    const QByteArray head = file.read(1 << 16);
    const auto byte = [&](qsizetype at) { return at < head.size() ? uchar(head[at]) : 0; };
    const auto word = [&](qsizetype at) { return (byte(at) << 8) | byte(at + 1); };
    if (word(0) != 0xffd8 || word(2) != 0xffe0 || word(4) != 16 ||
        head.mid(6, 5) != QByteArray("JFIF\0", 5) || word(11) != 0x0101)
        return false;
    const int unit = byte(13);
    const int x = word(14);
    const int y = word(16);
    if (!((unit == 0 && x == 72 && y == 72) || (unit == 1 && x == y && x > 0)))
        return false;
    qsizetype at = 20;
    if (word(at) == 0xffe1 && head.mid(at + 4, 6) == QByteArray("Exif\0\0", 6))
        at += 2 + word(at + 2);
    return word(at) == 0xffdb;
}

} // namespace

bool looksWrittenByPictavo(const QString& path, QSize size)
{
    // By the bytes of the name, which need not be UTF-8; a link is never ours,
    // and neither is anything but a regular file, whatever is found there now.
    const int fd =
        ::open(nativeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status
    {
    };
    QFile file;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    if (!hasPictavoHeader(file))
        return false;
    file.seek(0);
    QImageReader reader(&file, "jpeg");
    return reader.size() == size;
}
