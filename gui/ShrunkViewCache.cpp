#include "ShrunkViewCache.h"

#include "imaging/PictureScaler.h"

const QImage& ShrunkViewCache::shown(const QImage& picture, QSize size)
{
    if ((size.width() >= picture.width() && size.height() >= picture.height()) || size.isEmpty())
        return picture;
    if (picture.cacheKey() != m_pictureKey || size != m_size) {
        m_shrunk = scalePicture(picture, size);
        m_pictureKey = picture.cacheKey();
        m_size = size;
    }
    // Without memory for the copy the painter scales the picture itself.
    return m_shrunk.isNull() ? picture : m_shrunk;
}
