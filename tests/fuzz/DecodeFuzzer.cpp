// libFuzzer's entry into the decode path every source takes: the header and the
// decode plan, the structure checks of GIF, BMP and JPEG, Qt's readers, the
// reduction and libjpeg's scan check. Built with clang only (./test.sh --fuzz).
#include "imaging/JpegScanCheck.h"
#include "imaging/PictureDecoder.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

namespace {

// A picture this small is decoded whole too, as the preview decodes the
// converted file; larger ones only as a conversion does, reduced.
constexpr qint64 kWholeDecodePixels = 4 << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    const PictureHeader header = probePicture(&buffer);

    decodePictureChecked(bytes, QSize(96, 72));
    if (header.pixels() <= kWholeDecodePixels)
        decodePictureChecked(bytes, QSize());
    if (bytes.startsWith("\xFF\xD8"))
        checkJpegScans(bytes);
    return 0;
}
