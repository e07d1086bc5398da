#include "ViewGeometry.h"

#include <algorithm>

QSize viewBoxSize(int targetSize, int targetOther, QSize preview)
{
    if (preview.height() > preview.width())
        return QSize(targetOther, targetSize);
    return QSize(targetSize, targetOther);
}

QRect viewPictureRect(QSize viewSize, QSize box, int scrollX, int scrollY, QSize preview)
{
    qint64 x0 = -qint64(scrollX);
    qint64 y0 = -qint64(scrollY);
    qint64 x1 = x0 + box.width();
    qint64 y1 = y0 + box.height();
    if (box.width() < viewSize.width()) {
        const qint64 shift = (qint64(viewSize.width()) - box.width()) / 2;
        x0 += shift;
        x1 += shift;
    }
    if (box.height() < viewSize.height()) {
        const qint64 shift = (qint64(viewSize.height()) - box.height()) / 2;
        y0 += shift;
        y1 += shift;
    }
    const qint64 dx = x1 - x0;
    const qint64 dy = y1 - y0;
    const qint64 pw = preview.width();
    const qint64 ph = preview.height();
    const double widthRatio = pw == 0 ? 0.0 : double(dx) / double(pw);
    const double heightRatio = ph == 0 ? 0.0 : double(dy) / double(ph);
    if (widthRatio > heightRatio) {
        const qint64 width = ph == 0 ? 1 : dy * pw / ph;
        x0 = (x1 - width + x0) / 2;
        x1 = x0 + width;
    } else {
        const qint64 height = pw == 0 ? 1 : dx * ph / pw;
        y0 = (y1 - height + y0) / 2;
        y1 = y0 + height;
    }
    return QRect(int(x0), int(y0), int(x1 - x0), int(y1 - y0));
}

std::optional<int> scrolledPosition(int current, int code, int thumb, int maximum, int page)
{
    constexpr int line = 10;
    page = std::max(page, line);
    qint64 position = current;
    switch (code) {
    case kLineUp: position -= line; break;
    case kLineDown: position += line; break;
    case kPageUp: position -= page; break;
    case kPageDown: position += page; break;
    case kThumbPosition: return std::nullopt;
    case kThumbTrack: position = thumb; break;
    case kTop: position -= line; break;
    case kBottom: position += line; break;
    case kEndScroll: return std::nullopt;
    default: break;
    }
    if (position >= maximum)
        position = qint64(maximum) - 1;
    // A bar without range has no position below 0.
    return int(std::max<qint64>(position, 0));
}
