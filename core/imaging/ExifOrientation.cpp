#include "imaging/ExifOrientation.h"

#include "imaging/PngChunks.h"

#include <QIODevice>
#include <QImage>
#include <QTransform>
#include <QtEndian>

#include <algorithm>
#include <utility>

namespace {

// The first directory of every writer's block lies within its first bytes; a
// block is read no further than this.
constexpr qint64 kMaxBlockBytesRead = 64 * 1024;
// Chunks walked in search of the block: a PNG splits its picture data into
// many, an animated WebP has one per frame.
constexpr int kMaxChunksWalked = 1 << 20;
constexpr int kOrientationTag = 0x0112;
constexpr int kShortType = 3;

// Reads and restores the device's position.
class DeviceReader
{
public:
    explicit DeviceReader(QIODevice* device) : m_device(device), m_start(device->pos()) {}
    ~DeviceReader() { m_device->seek(m_start); }
    DeviceReader(const DeviceReader&) = delete;
    DeviceReader& operator=(const DeviceReader&) = delete;

    QByteArray at(qint64 offset, qint64 size) const
    {
        // Qt warns on stderr about a seek past the end; a chunk length that
        // points there is only a damaged file.
        if (offset < 0 || offset > m_device->size() || !m_device->seek(offset))
            return {};
        QByteArray read = m_device->read(size);
        return read.size() == size ? read : QByteArray();
    }
    qint64 size() const { return m_device->size(); }

private:
    QIODevice* m_device;
    qint64 m_start;
};

int orientationOfChunk(const DeviceReader& file, qint64 dataAt, quint32 length)
{
    return exifBlockOrientation(file.at(dataAt, std::min<qint64>(length, kMaxBlockBytesRead)));
}

int pngOrientation(const DeviceReader& file)
{
    qint64 at = 8;
    for (int chunk = 0; chunk < kMaxChunksWalked; ++chunk) {
        const QByteArray frame = file.at(at, 8);
        if (frame.isEmpty())
            break;
        const quint32 length = qFromBigEndian<quint32>(frame.constData());
        const QByteArray type = frame.mid(4);
        if (type == "IEND" || length > 0x7FFFFFFF)
            break;
        // The decoders see only the first eXIf chunk within their limit (see
        // PngChunks.h): so does the orientation.
        if (type == "eXIf" && length <= kMaxPngProfileChunkBytes)
            return orientationOfChunk(file, at + 8, length);
        at += 12 + qint64(length);
    }
    return 1;
}

// RIFF: "RIFF", size, "WEBP", then chunks of a four-letter type, a size and
// the data padded to even length. Only the extended format (VP8X first) holds
// an EXIF chunk.
int webpOrientation(const DeviceReader& file)
{
    const QByteArray head = file.at(0, 16);
    if (head.size() < 16 || !head.startsWith("RIFF") || head.mid(8, 8) != "WEBPVP8X")
        return 1;
    const qint64 end =
        std::min(file.size(), 8 + qint64(qFromLittleEndian<quint32>(head.constData() + 4)));
    qint64 at = 12;
    for (int chunk = 0; chunk < kMaxChunksWalked && at + 8 <= end; ++chunk) {
        const QByteArray frame = file.at(at, 8);
        if (frame.isEmpty())
            break;
        const quint32 length = qFromLittleEndian<quint32>(frame.constData() + 4);
        if (frame.startsWith("EXIF"))
            return orientationOfChunk(file, at + 8, length);
        at += 8 + qint64(length) + (length & 1);
    }
    return 1;
}

} // namespace

int containerExifOrientation(QIODevice* device)
{
    if (device == nullptr || !device->isOpen() || device->isSequential())
        return 1;
    const DeviceReader file(device);
    const QByteArray magic = file.at(0, 8);
    if (looksLikePng(magic))
        return pngOrientation(file);
    if (magic.startsWith("RIFF"))
        return webpOrientation(file);
    return 1;
}

int exifBlockOrientation(const QByteArray& block)
{
    // Some writers put the JPEG segment's signature in front of the block.
    const QByteArray tiff = block.startsWith(QByteArray("Exif\0\0", 6)) ? block.mid(6) : block;
    const bool little = tiff.startsWith(QByteArray("II*\0", 4));
    if (!little && !tiff.startsWith(QByteArray("MM\0*", 4)))
        return 1;
    const auto number = [&](qint64 at, int bytes) -> qint64 {
        if (at < 0 || at + bytes > tiff.size())
            return -1;
        const char* data = tiff.constData() + at;
        if (bytes == 2)
            return little ? qFromLittleEndian<quint16>(data) : qFromBigEndian<quint16>(data);
        return little ? qFromLittleEndian<quint32>(data) : qFromBigEndian<quint32>(data);
    };
    const qint64 directory = number(4, 4);
    const qint64 entries = number(directory, 2);
    for (qint64 i = 0; i < entries; ++i) {
        const qint64 entry = directory + 2 + 12 * i;
        const qint64 tag = number(entry, 2);
        if (tag < 0)
            break;
        if (tag != kOrientationTag)
            continue;
        const qint64 value = number(entry + 8, 2);
        return number(entry + 2, 2) == kShortType && value >= 1 && value <= 8 ? int(value) : 1;
    }
    return 1;
}

QImage orientedPicture(QImage picture, int orientation)
{
    // As EXIF numbers them: mirrored (2, 7) or flipped (4, 5) first, then
    // turned a quarter clockwise (5 to 8; 8 three quarters) or half (3).
    const bool mirror =
        orientation == 2 || orientation == 3 || orientation == 7 || orientation == 8;
    const bool flip = orientation == 3 || orientation == 4 || orientation == 5 || orientation == 8;
    const bool quarter = orientation >= 5 && orientation <= 8;
    if (!mirror && !flip && !quarter)
        return picture;
    // Mirrored in place: besides the picture only the turned copy is made.
    picture = std::move(picture).mirrored(mirror, flip);
    if (!quarter || picture.isNull())
        return picture;
    return picture.transformed(QTransform().rotate(90));
}
