// The first image file directory (IFD0) of a TIFF file as libtiff is to read it.
// libtiff reads every entry of a directory and loads the data of each as soon as
// the file is opened, before Pictavo knows the picture's size or has reserved
// any memory: a 64 x 64 picture with two hundred private tags of a megabyte each
// takes hundreds of megabytes while only its header is looked at. So Qt's TIFF
// reader reads the file through an overlay whose IFD0 lacks the entries Pictavo
// never needs whose data libtiff would load: private tags (32768 and above)
// other than those listed in TiffDirectory.cpp (the ICC profile, the EXIF
// directory, the copyright, the few that change how pixels decode), and any
// entry beyond kMaxTiffEntryDataBytes of data in all. Entries stay in their
// order and the offset of the next directory follows them. Only IFD0 is looked
// at, once: no chain of directories is followed.
#pragma once

#include <QByteArray>
#include <QImage>

#include <memory>
#include <utility>
#include <vector>

class QIODevice;
class PatchedDevice;

// The data IFD0's kept entries may carry together, besides the strip and tile
// tables (which libtiff reads only as far as the picture has strips): room for
// a large XMP packet and colour profile.
inline constexpr qint64 kMaxTiffEntryDataBytes = qint64(16) << 20;

struct TiffDirectory
{
    // Where IFD0 starts in the file, and the bytes that replace its entry count,
    // entries and next-directory offset. Empty when nothing is left out.
    qint64 patchOffset = -1;
    QByteArray patch;

    // What the picture's layout is, from IFD0's entries (TIFF's defaults where
    // an entry is missing); width 0 when the file is no TIFF.
    quint64 width = 0;
    quint64 height = 0;
    quint64 bitsPerSample = 1;
    quint64 samplesPerPixel = 1;
    quint64 compression = 1;
    // Missing: no default (libtiff guesses one; Pictavo leaves such files to Qt).
    quint64 photometric = 0xFFFF;
    quint64 sampleFormat = 1;
    quint64 rowsPerStrip = 0xFFFFFFFF;
    quint64 planarConfig = 1;
    quint64 tileWidth = 0;
    quint64 tileLength = 0;
    quint64 pieces = 0;
    // The largest strip or tile as stored; -1 when the table could not be read.
    qint64 largestPieceBytes = -1;

    // Where in the file the data of the entries left out lies, and, when asked
    // for, the strips or tiles ([from, to), clipped to the file).
    std::vector<std::pair<qint64, qint64>> leftOutData;
    std::vector<std::pair<qint64, qint64>> pieceData;

    bool isTiled() const { return tileWidth != 0 && tileLength != 0; }
    // Whether TiffStripDecoder reads this layout: 8- or 16-bit RGB and grey
    // with or without alpha, 8-bit palette, in strips of interleaved samples.
    bool readsInStrips() const;

    // The memory libtiff holds beside the picture while Qt's reader decodes into
    // `decodedFormat`: the stored bytes of a compressed strip or tile (the file
    // is read piecewise, never mapped), a tile decoded whole, and for the 32-bit
    // formats, which Qt reads through libtiff's RGBA interface, a strip decoded
    // whole (an uncompressed single strip libtiff cuts into small ones itself).
    // `fileBytes` bounds a strip that could not be measured.
    qint64 readerBufferBytes(QImage::Format decodedFormat, qint64 fileBytes) const;
};

// IFD0 of the TIFF file on `device` (classic or BigTIFF, either byte order);
// a default TiffDirectory when it is no TIFF or IFD0 cannot be read. The
// device's position is restored.
TiffDirectory readTiffDirectory(QIODevice* device, bool withPieceData = false);

// A device open for reading as Qt's TIFF reader is to read it: IFD0 patched
// when something is left out, every other file as it is.
class TiffReadingDevice
{
public:
    explicit TiffReadingDevice(QIODevice* device);
    ~TiffReadingDevice();
    TiffReadingDevice(const TiffReadingDevice&) = delete;
    TiffReadingDevice& operator=(const TiffReadingDevice&) = delete;

    QIODevice* device() const;
    const TiffDirectory& directory() const { return m_directory; }

private:
    QIODevice* m_device;
    TiffDirectory m_directory;
    std::unique_ptr<PatchedDevice> m_patched;
};
