#include "imaging/CPicture.h"

#include "imaging/PictureDecoder.h"
#include "imaging/PictureScaler.h"
#include "imaging/SourceFile.h"

#include <QPainter>
#include <QResource>

#include <cmath>
#include <cstdlib>
#include <new>

namespace {

// Keep-aspect and centre, in integers that truncate towards zero.
void fitRect(PixelRect& rect, int pictureWidth, int pictureHeight, bool centre)
{
    const qint64 dx = rect.right - rect.left;
    const qint64 dy = rect.bottom - rect.top;
    const double heightRatio = std::abs(double(dy)) / pictureHeight;
    const double widthRatio = std::abs(double(dx)) / pictureWidth;
    if (heightRatio >= widthRatio) {
        const int newHeight = pictureWidth == 0 ? 0 : int(dx * pictureHeight / pictureWidth);
        if (centre)
            rect.top = int((qint64(rect.top) + rect.bottom - newHeight) / 2);
        rect.bottom = rect.top + newHeight;
    } else {
        const int newWidth = pictureHeight == 0 ? 0 : int(dy * pictureWidth / pictureHeight);
        if (centre)
            rect.left = int((qint64(rect.left) + rect.right - newWidth) / 2);
        rect.right = rect.left + newWidth;
    }
}

} // namespace

CPicture::~CPicture()
{
    Clear();
}

void CPicture::Clear()
{
    m_picture = QImage();
    m_cxPixels = 0;
    m_cyPixels = 0;
}

void CPicture::reportError(const char* text) const
{
    m_lastError = QStringLiteral("CPicture Error: ") + QString::fromLatin1(text).trimmed();
}

bool CPicture::LoadFromResource(unsigned id, const char* type)
{
    Clear();
    m_lastError.clear();
    const QString path =
        QStringLiteral(":/%1/%2").arg(QString::fromLatin1(type)).arg(id % 65536u);
    const QResource resource(path);
    if (!resource.isValid()) {
        reportError("FindResource() Failed\t");
        return false;
    }
    const QByteArray bytes = resource.uncompressedData();
    if (bytes.isNull()) {
        reportError("LoadResource() Failed\t");
        return false;
    }
    if (bytes.isEmpty()) {
        reportError("LockResource() Failed\t");
        return false;
    }
    return loadBytes(bytes);
}

bool CPicture::LoadFromFile(const QString& path, FileFailure* failure)
{
    Clear();
    SourceFile file(path);
    const QByteArray bytes = file.readAll();
    if (file.failure().failed()) {
        if (failure != nullptr)
            *failure = file.failure();
        return false;
    }
    FileProblem problem = FileProblem::None;
    const bool loaded = loadBytes(bytes, QSize(), &problem);
    if (failure != nullptr)
        *failure = {problem, 0};
    return loaded;
}

bool CPicture::LoadFromMemory(const void* data, qsizetype size)
{
    Clear();
    m_lastError.clear();
    if (data == nullptr || size <= 0)
        return false;
    QByteArray bytes;
    try {
        bytes = QByteArray(static_cast<const char*>(data), size);
    } catch (const std::bad_alloc&) {
        reportError("Can not allocate enough memory\t");
        return false;
    }
    return loadBytes(bytes);
}

bool CPicture::LoadFromBytes(const QByteArray& bytes, QSize minimumSize, FileProblem* problem)
{
    return loadBytes(bytes, minimumSize, problem);
}

bool CPicture::loadBytes(const QByteArray& bytes, QSize minimumSize, FileProblem* problem)
{
    Clear();
    m_lastError.clear();
    DecodedPicture decoded = decodePictureChecked(bytes, minimumSize);
    if (problem != nullptr)
        *problem = decoded.problem;
    m_picture = std::move(decoded.picture);
    if (m_picture.isNull())
        return false;
    m_cxPixels = m_picture.width();
    m_cyPixels = m_picture.height();
    return true;
}

bool CPicture::Render(QImage* target, PixelRect rect, bool keepAspect, bool centre) const
{
    if (target == nullptr || target->isNull() || m_picture.isNull())
        return false;
    if (keepAspect)
        fitRect(rect, m_cxPixels, m_cyPixels, centre);
    if (rect.width() < 1)
        rect.right = rect.left + 1;
    if (rect.height() < 1)
        rect.bottom = rect.top + 1;

    m_lastError.clear();
    const QImage stretched = scalePicture(m_picture, QSize(rect.width(), rect.height()));
    if (stretched.isNull()) {
        reportError("Can not allocate enough memory\t");
        return false;
    }
    drawPicture(*target, stretched, QPoint(rect.left, rect.top));
    return true;
}
