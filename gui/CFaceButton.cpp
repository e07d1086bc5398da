#include "CFaceButton.h"

#include <QPainter>

namespace {

const QRgb kGrey = qRgb(192, 192, 192);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);

// Pixel (x, y) of a 32-bit face.
QRgb& at(QImage& face, int x, int y)
{
    return reinterpret_cast<QRgb*>(face.scanLine(y))[x];
}
QRgb at(const QImage& face, int x, int y)
{
    return reinterpret_cast<const QRgb*>(face.constScanLine(y))[x];
}

// Draws the straight frame lines of a face the way the platform's line calls do:
// a line runs from the current point to its end point, leaves the end point
// itself unpainted and makes it the new current point. Frames only need
// horizontal and vertical lines.
class FramePen
{
public:
    explicit FramePen(QImage& face) : m_face(face) {}

    FramePen& colour(QRgb colour)
    {
        m_colour = colour;
        return *this;
    }
    FramePen& move(int x, int y)
    {
        m_point = QPoint(x, y);
        return *this;
    }
    FramePen& line(int x, int y)
    {
        const int dx = (x > m_point.x()) - (x < m_point.x());
        const int dy = (y > m_point.y()) - (y < m_point.y());
        for (QPoint p = m_point; p != QPoint(x, y); p += QPoint(dx, dy))
            plot(p);
        m_point = QPoint(x, y);
        return *this;
    }

private:
    void plot(QPoint p)
    {
        if (m_face.rect().contains(p))
            at(m_face, p.x(), p.y()) = m_colour;
    }

    QImage& m_face;
    QRgb m_colour = kBlack;
    QPoint m_point;
};

// White top and left edge, black bottom and right edge, a grey shadow column.
void drawNormalFrame(QImage& face)
{
    const int w = face.width();
    const int h = face.height();
    FramePen pen(face);
    pen.colour(kGrey).move(w - 2, 1).line(w - 2, h - 2).line(w - 2, 0);
    pen.colour(kWhite).move(w - 1, 0).line(0, 0).line(0, h - 1);
    pen.colour(kBlack).line(w - 1, h - 1).line(w - 1, 0);
}

// The normal frame with a black rectangle one pixel inside it.
void drawFocusFrame(QImage& face)
{
    const int w = face.width();
    const int h = face.height();
    FramePen pen(face);
    pen.colour(kGrey).move(w - 3, 1).line(w - 3, h - 3).line(w - 3, 0);
    pen.colour(kWhite).move(w - 1, 0).line(0, 0).line(0, h - 1);
    pen.colour(kBlack).line(w - 1, h - 1).line(w - 1, 0);
    pen.move(w - 2, 1).line(1, 1).line(1, h - 2).line(w - 2, h - 2).line(w - 2, 1);
}

// Grey top and left edge, white bottom and right edge: the button sunk in.
void drawPressedFrame(QImage& face)
{
    const int w = face.width();
    const int h = face.height();
    FramePen pen(face);
    pen.colour(kGrey).move(w - 1, 0).line(0, 0).line(0, h - 1);
    pen.colour(kWhite).line(w - 1, h - 1).line(w - 1, 0);
}

// The washed-out look: walking the normal face column by column, top to bottom,
// a pixel of the same colour as the one visited before it turns white, every
// change of colour grey. The comparison runs on to the next column's top.
QImage disabledFace(const QImage& normal)
{
    QImage face(normal.size(), QImage::Format_RGB32);
    bool first = true;
    QRgb previous = 0;
    for (int x = 0; x < normal.width(); ++x) {
        for (int y = 0; y < normal.height(); ++y) {
            const QRgb source = at(normal, x, y);
            at(face, x, y) = !first && source == previous ? kWhite : kGrey;
            previous = source;
            first = false;
        }
    }
    return face;
}

} // namespace

CFaceButton::CFaceButton(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

CFaceButton::Faces CFaceButton::makeFaces(const QImage& bitmap)
{
    const QImage picture = bitmap.convertToFormat(QImage::Format_RGB32);
    Faces faces;
    faces[Normal] = picture.copy();
    faces[Focus] = picture.copy();
    // The picture moves one pixel right and down; row 0 and column 0 keep the
    // bitmap's own pixels.
    faces[Pressed] = picture.copy();
    {
        QPainter painter(&faces[Pressed]);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(1, 1), picture);
    }
    drawNormalFrame(faces[Normal]);
    drawFocusFrame(faces[Focus]);
    drawPressedFrame(faces[Pressed]);
    faces[Disabled] = disabledFace(faces[Normal]);
    return faces;
}

bool CFaceButton::LoadFaces(int id)
{
    m_face = Faces{};
    const QImage bitmap(QStringLiteral(":/faces/%1").arg(id));
    if (bitmap.isNull()) {
        update();
        return false;
    }
    m_face = makeFaces(bitmap);
    resize(bitmap.size());
    updateGeometry();
    return true;
}

CFaceButton::Face CFaceButton::currentFace() const
{
    if (isDown())
        return Pressed;
    if (hasFocus())
        return Focus;
    if (!isEnabled())
        return Disabled;
    return Normal;
}

QSize CFaceButton::sizeHint() const
{
    return hasFaces() ? m_face[Normal].size() : size();
}

void CFaceButton::paintEvent(QPaintEvent*)
{
    if (!hasFaces())
        return;
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const QImage& face = m_face[currentFace()];
    painter.drawImage(QPoint(0, 0), face, QRect(0, 0, width(), height()));
}
