#include "imaging/TiffDirectory.h"

#include "imaging/PatchedDevice.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

// libtiff refuses a directory of more entries.
constexpr quint64 kMaxEntries = 4096;
// A strip or tile table longer than this is not read to find its largest piece.
constexpr qint64 kMaxPieceTableBytes = qint64(64) << 20;
// libtiff keeps sides and counts in 32 bits.
constexpr quint64 kMaxSide = quint64(1) << 32;

constexpr quint16 kImageWidth = 256;
constexpr quint16 kImageLength = 257;
constexpr quint16 kBitsPerSample = 258;
constexpr quint16 kCompression = 259;
constexpr quint16 kPhotometric = 262;
constexpr quint16 kStripOffsets = 273;
constexpr quint16 kSamplesPerPixel = 277;
constexpr quint16 kRowsPerStrip = 278;
constexpr quint16 kStripByteCounts = 279;
constexpr quint16 kPlanarConfig = 284;
constexpr quint16 kTileWidth = 322;
constexpr quint16 kTileLength = 323;
constexpr quint16 kTileOffsets = 324;
constexpr quint16 kTileByteCounts = 325;
constexpr quint16 kSampleFormat = 339;
constexpr quint16 kFirstPrivateTag = 32768;

// Private tags that stay: what changes how libtiff decodes the pixels, the
// colour profile, and where the capture data lies.
bool isKeptPrivateTag(quint16 tag)
{
    switch (tag) {
    case 32995: // Matteing: the extra sample is associated alpha
    case 32996: // DataType: the sample format, as older writers give it
    case 32997: // ImageDepth
    case 32998: // TileDepth
    case 33432: // Copyright
    case 34665: // the EXIF directory
    case 34675: // the ICC profile
    case 37706: // LERC's parameters
        return true;
    default:
        return false;
    }
}

bool isPieceTable(quint16 tag)
{
    return tag == kStripOffsets || tag == kStripByteCounts || tag == kTileOffsets ||
           tag == kTileByteCounts;
}

int typeBytes(quint16 type)
{
    switch (type) {
    case 1: // BYTE
    case 2: // ASCII
    case 6: // SBYTE
    case 7: // UNDEFINED
        return 1;
    case 3: // SHORT
    case 8: // SSHORT
        return 2;
    case 4:  // LONG
    case 9:  // SLONG
    case 11: // FLOAT
    case 13: // IFD
        return 4;
    case 5:  // RATIONAL
    case 10: // SRATIONAL
    case 12: // DOUBLE
    case 16: // LONG8
    case 17: // SLONG8
    case 18: // IFD8
        return 8;
    default: // libtiff skips an entry of a type it does not know
        return 0;
    }
}

qint64 saturatedProduct(quint64 a, quint64 b)
{
    constexpr quint64 kMax = quint64(std::numeric_limits<qint64>::max());
    if (a != 0 && b > kMax / a)
        return std::numeric_limits<qint64>::max();
    return qint64(a * b);
}

qint64 saturatedSum(qint64 a, qint64 b)
{
    return b > std::numeric_limits<qint64>::max() - a ? std::numeric_limits<qint64>::max() : a + b;
}

class TiffFile
{
public:
    explicit TiffFile(QIODevice* device) : m_device(device) {}

    // Reads the header; false when the file is no TIFF.
    bool readHeader()
    {
        const QByteArray header = at(0, 8);
        if (header.size() < 8 || (!header.startsWith("II") && !header.startsWith("MM")))
            return false;
        m_little = header.startsWith("II");
        const quint16 magic = u16(header.constData() + 2);
        if (magic == 42) {
            m_firstDirectory = u32(header.constData() + 4);
            return true;
        }
        const QByteArray big = at(0, 16);
        if (magic != 43 || big.size() < 16 || u16(big.constData() + 4) != 8 ||
            u16(big.constData() + 6) != 0)
            return false;
        m_big = true;
        m_firstDirectory = u64(big.constData() + 8);
        return true;
    }

    QByteArray at(quint64 offset, qint64 size) const
    {
        if (offset > quint64(std::numeric_limits<qint64>::max()) || !m_device->seek(qint64(offset)))
            return {};
        QByteArray read = m_device->read(size);
        return read.size() == size ? read : QByteArray();
    }

    quint16 u16(const char* p) const
    {
        return m_little ? qFromLittleEndian<quint16>(p) : qFromBigEndian<quint16>(p);
    }
    quint32 u32(const char* p) const
    {
        return m_little ? qFromLittleEndian<quint32>(p) : qFromBigEndian<quint32>(p);
    }
    quint64 u64(const char* p) const
    {
        return m_little ? qFromLittleEndian<quint64>(p) : qFromBigEndian<quint64>(p);
    }
    quint64 unsignedOf(const char* p, int bytes) const
    {
        switch (bytes) {
        case 1:
            return quint8(*p);
        case 2:
            return u16(p);
        case 4:
            return u32(p);
        default:
            return u64(p);
        }
    }
    QByteArray countField(quint64 count) const
    {
        QByteArray field(m_big ? 8 : 2, Qt::Uninitialized);
        if (m_big)
            m_little ? qToLittleEndian<quint64>(count, field.data())
                     : qToBigEndian<quint64>(count, field.data());
        else
            m_little ? qToLittleEndian<quint16>(quint16(count), field.data())
                     : qToBigEndian<quint16>(quint16(count), field.data());
        return field;
    }

    bool big() const { return m_big; }
    quint64 firstDirectory() const { return m_firstDirectory; }
    int countBytes() const { return m_big ? 8 : 2; }
    int entryBytes() const { return m_big ? 20 : 12; }
    int offsetBytes() const { return m_big ? 8 : 4; }

private:
    QIODevice* m_device;
    bool m_little = true;
    bool m_big = false;
    quint64 m_firstDirectory = 0;
};

struct Entry
{
    quint16 tag = 0;
    int valueBytes = 0;
    quint64 count = 0;
    qint64 dataBytes = 0;
    // The value field: the data itself when it fits, else its offset.
    const char* field = nullptr;

    bool isInline(const TiffFile& file) const { return dataBytes <= file.offsetBytes(); }
};

Entry entryAt(const TiffFile& file, const char* raw)
{
    Entry entry;
    entry.tag = file.u16(raw);
    entry.valueBytes = typeBytes(file.u16(raw + 2));
    entry.count = file.big() ? file.u64(raw + 4) : file.u32(raw + 4);
    entry.dataBytes = saturatedProduct(entry.count, quint64(entry.valueBytes));
    entry.field = raw + (file.big() ? 12 : 8);
    return entry;
}

// Up to `most` of an integer entry's values; empty when they cannot be read.
std::vector<quint64> valuesOf(const TiffFile& file, const Entry& entry, quint64 most)
{
    const quint64 count = std::min(entry.count, most);
    if (entry.valueBytes == 0 ||
        saturatedProduct(count, quint64(entry.valueBytes)) > kMaxPieceTableBytes)
        return {};
    QByteArray outside;
    const char* data = entry.field;
    if (!entry.isInline(file)) {
        outside = file.at(file.unsignedOf(entry.field, file.offsetBytes()),
                          qint64(count) * entry.valueBytes);
        if (outside.isEmpty())
            return {};
        data = outside.constData();
    }
    std::vector<quint64> values(count);
    for (quint64 i = 0; i < count; ++i)
        values[i] = file.unsignedOf(data + i * entry.valueBytes, entry.valueBytes);
    return values;
}

// The entries whose first value tells the picture's layout.
constexpr std::pair<quint16, quint64 TiffDirectory::*> kLayoutFields[] = {
    {kImageWidth, &TiffDirectory::width},
    {kImageLength, &TiffDirectory::height},
    {kBitsPerSample, &TiffDirectory::bitsPerSample},
    {kCompression, &TiffDirectory::compression},
    {kPhotometric, &TiffDirectory::photometric},
    {kSampleFormat, &TiffDirectory::sampleFormat},
    {kSamplesPerPixel, &TiffDirectory::samplesPerPixel},
    {kRowsPerStrip, &TiffDirectory::rowsPerStrip},
    {kPlanarConfig, &TiffDirectory::planarConfig},
    {kTileWidth, &TiffDirectory::tileWidth},
    {kTileLength, &TiffDirectory::tileLength},
};

void noteLayout(const TiffFile& file, const Entry& entry, TiffDirectory& directory)
{
    if (entry.tag == kStripByteCounts || entry.tag == kTileByteCounts) {
        directory.pieces = entry.count;
        const std::vector<quint64> sizes = valuesOf(file, entry, entry.count);
        if (entry.count != 0 && sizes.empty()) {
            directory.largestPieceBytes = -1;
            return;
        }
        quint64 largest = 0;
        for (const quint64 size : sizes)
            largest = std::max(largest, size);
        directory.largestPieceBytes =
            qint64(std::min(largest, quint64(std::numeric_limits<qint64>::max())));
        return;
    }
    for (const auto& [tag, field] : kLayoutFields) {
        if (tag != entry.tag)
            continue;
        const std::vector<quint64> first = valuesOf(file, entry, 1);
        if (!first.empty())
            directory.*field = std::min(first.front(), kMaxSide);
    }
}

// [offset, offset + size) clipped to a file of `fileBytes`.
std::pair<qint64, qint64> clipped(quint64 offset, qint64 size, qint64 fileBytes)
{
    const qint64 from = qint64(std::min<quint64>(offset, quint64(fileBytes)));
    return {from, from + std::min(size, fileBytes - from)};
}

void notePieceData(const TiffFile& file, const Entry& offsets, const Entry& sizes, qint64 fileBytes,
                   TiffDirectory& directory)
{
    const std::vector<quint64> from = valuesOf(file, offsets, offsets.count);
    const std::vector<quint64> length = valuesOf(file, sizes, sizes.count);
    for (std::size_t i = 0; i < std::min(from.size(), length.size()); ++i)
        directory.pieceData.push_back(
            clipped(from[i], qint64(std::min<quint64>(length[i], quint64(fileBytes))), fileBytes));
}

void readDirectory(const TiffFile& file, bool withPieceData, qint64 fileBytes,
                   TiffDirectory& directory)
{
    const quint64 at = file.firstDirectory();
    const QByteArray countField = file.at(at, file.countBytes());
    if (countField.isEmpty())
        return;
    const quint64 count = file.unsignedOf(countField.constData(), file.countBytes());
    if (count == 0 || count > kMaxEntries)
        return;
    const QByteArray table = file.at(at + quint64(file.countBytes()),
                                     qint64(count) * file.entryBytes() + file.offsetBytes());
    if (table.isEmpty())
        return;
    QByteArray kept;
    quint64 keptCount = 0;
    qint64 dataLeft = kMaxTiffEntryDataBytes;
    Entry pieceOffsets;
    Entry pieceSizes;
    for (quint64 i = 0; i < count; ++i) {
        const char* raw = table.constData() + i * quint64(file.entryBytes());
        const Entry entry = entryAt(file, raw);
        if (!entry.isInline(file) && !isPieceTable(entry.tag)) {
            const bool leftOut = (entry.tag >= kFirstPrivateTag && !isKeptPrivateTag(entry.tag)) ||
                                 entry.dataBytes > dataLeft;
            if (leftOut) {
                directory.leftOutData.push_back(clipped(
                    file.unsignedOf(entry.field, file.offsetBytes()), entry.dataBytes, fileBytes));
                continue;
            }
            dataLeft -= entry.dataBytes;
        }
        kept.append(raw, file.entryBytes());
        ++keptCount;
        noteLayout(file, entry, directory);
        if (entry.tag == kStripOffsets || entry.tag == kTileOffsets)
            pieceOffsets = entry;
        if (entry.tag == kStripByteCounts || entry.tag == kTileByteCounts)
            pieceSizes = entry;
    }
    if (withPieceData)
        notePieceData(file, pieceOffsets, pieceSizes, fileBytes, directory);
    if (keptCount == count)
        return;
    directory.patchOffset = qint64(at);
    directory.patch = file.countField(keptCount) + kept + table.right(file.offsetBytes());
}

} // namespace

qint64 TiffDirectory::readerBufferBytes(QImage::Format decodedFormat, qint64 fileBytes) const
{
    if (width == 0 || height == 0)
        return 0;
    const qint64 bitsPerPixel = saturatedProduct(bitsPerSample, samplesPerPixel);
    const auto bytesOf = [bitsPerPixel](quint64 pixels, quint64 rows) {
        const qint64 rowBits = saturatedSum(saturatedProduct(pixels, quint64(bitsPerPixel)), 7);
        return saturatedProduct(quint64(rowBits / 8), rows);
    };
    const bool throughRgba = decodedFormat == QImage::Format_RGB32 ||
                             decodedFormat == QImage::Format_ARGB32 ||
                             decodedFormat == QImage::Format_ARGB32_Premultiplied;
    qint64 decoded = 0;
    if (isTiled()) {
        decoded = bytesOf(tileWidth, tileLength);
    } else if (throughRgba || readsInStrips()) {
        const bool cutByLibtiff = compression == 1 && pieces <= 1 && planarConfig == 1;
        decoded = bytesOf(width, cutByLibtiff ? 1 : std::min(rowsPerStrip, height));
    }
    qint64 stored = 0;
    if (compression != 1)
        stored = largestPieceBytes >= 0 ? std::min(largestPieceBytes, fileBytes) : fileBytes;
    return saturatedSum(decoded, stored);
}

bool TiffDirectory::readsInStrips() const
{
    constexpr quint64 kMinIsBlack = 1;
    constexpr quint64 kRgb = 2;
    constexpr quint64 kPalette = 3;
    constexpr quint64 kUnsignedInteger = 1;
    if (width == 0 || height == 0 || isTiled() || planarConfig != 1 ||
        sampleFormat != kUnsignedInteger)
        return false;
    const bool wholeBytes = bitsPerSample == 8 || bitsPerSample == 16;
    switch (photometric) {
    case kMinIsBlack:
        return wholeBytes && (samplesPerPixel == 1 || samplesPerPixel == 2);
    case kRgb:
        return wholeBytes && (samplesPerPixel == 3 || samplesPerPixel == 4);
    case kPalette:
        return bitsPerSample == 8 && samplesPerPixel == 1;
    default:
        return false;
    }
}

TiffDirectory readTiffDirectory(QIODevice* device, bool withPieceData)
{
    TiffDirectory directory;
    if (device == nullptr)
        return directory;
    const qint64 start = device->pos();
    TiffFile file(device);
    if (file.readHeader())
        readDirectory(file, withPieceData, device->size(), directory);
    device->seek(start);
    return directory;
}

TiffReadingDevice::TiffReadingDevice(QIODevice* device)
    : m_device(device), m_directory(readTiffDirectory(device))
{
    if (!m_directory.patch.isEmpty())
        m_patched =
            std::make_unique<PatchedDevice>(device, m_directory.patchOffset, m_directory.patch);
}

TiffReadingDevice::~TiffReadingDevice() = default;

QIODevice* TiffReadingDevice::device() const
{
    return m_patched ? m_patched.get() : m_device;
}
