#include "imaging/PictureScaler.h"

#include "imaging/LanczosResampler.h"

#include <QRect>

#include <algorithm>

QImage scalePicture(const QImage& picture, QSize size)
{
    if (picture.size() == size)
        return picture;
    if (picture.format() == QImage::Format_RGB32 ||
        picture.format() == QImage::Format_ARGB32_Premultiplied)
        return resampleLanczos3(picture, size);
    const QImage converted = picture.convertToFormat(
        picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    return converted.isNull() ? converted : resampleLanczos3(converted, size);
}

namespace {

// One row of opaque pixels: B, G, R, X in memory to B, G, R.
void copyOpaqueRow(uchar* out, const uchar* in, int count)
{
    for (int x = 0; x < count; ++x, out += 3, in += 4) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
    }
}

// One row of premultiplied pixels over what the target holds.
void blendPremultipliedRow(uchar* out, const uchar* in, int count)
{
    for (int x = 0; x < count; ++x, out += 3, in += 4) {
        const int keep = 255 - in[3];
        for (int c = 0; c < 3; ++c)
            out[c] = uchar(std::min(255, in[c] + (out[c] * keep + 127) / 255));
    }
}

} // namespace

void drawPicture(QImage& target, const QImage& picture, QPoint position)
{
    Q_ASSERT(target.format() == QImage::Format_BGR888);
    const QRect area = QRect(position, picture.size()).intersected(target.rect());
    if (area.isEmpty())
        return;
    const bool opaque = !picture.hasAlphaChannel();
    const int sourceX = area.left() - position.x();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        uchar* out = target.scanLine(y) + qsizetype(area.left()) * 3;
        const uchar* in = picture.constScanLine(y - position.y()) + qsizetype(sourceX) * 4;
        if (opaque)
            copyOpaqueRow(out, in, area.width());
        else
            blendPremultipliedRow(out, in, area.width());
    }
}
