#include "program/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {

// Beyond this no screen arrangement reaches, and edges plus sides stay far
// inside int.
constexpr qint64 kMaxCoordinate = qint64(1) << 24;

bool usable(const WindowEdges& edges, QSize minimum)
{
    const qint64 width = edges.width();
    const qint64 height = edges.height();
    return width >= minimum.width() && height >= minimum.height() && width <= kMaxWindowSide &&
           height <= kMaxWindowSide && std::abs(qint64(edges.left)) <= kMaxCoordinate &&
           std::abs(qint64(edges.top)) <= kMaxCoordinate;
}

bool visibleOn(const QRect& rect, const QList<QRect>& screens)
{
    return std::any_of(screens.begin(), screens.end(), [&](const QRect& screen) {
        const QRect shown = screen.intersected(rect);
        return shown.width() >= std::min(kMinVisibleSide, rect.width()) &&
               shown.height() >= std::min(kMinVisibleSide, rect.height());
    });
}

// The screen `rect` overlaps most; the first of equals.
QRect mostOverlapped(const QRect& rect, const QList<QRect>& screens)
{
    const auto area = [&](const QRect& screen) {
        const QRect shown = screen.intersected(rect);
        return qint64(shown.width()) * shown.height();
    };
    return *std::max_element(screens.begin(), screens.end(),
                             [&](const QRect& a, const QRect& b) { return area(a) < area(b); });
}

QRect movedInside(QRect frame, const QRect& available)
{
    if (frame.right() > available.right())
        frame.moveRight(available.right());
    if (frame.bottom() > available.bottom())
        frame.moveBottom(available.bottom());
    if (frame.left() < available.left())
        frame.moveLeft(available.left());
    if (frame.top() < available.top())
        frame.moveTop(available.top());
    return frame;
}

} // namespace

QRect broughtOnScreen(QRect rect, const QList<QRect>& screens, OnScreen fit)
{
    if (screens.isEmpty())
        return rect;
    if (!visibleOn(rect, screens)) {
        const QRect primary = screens.constFirst();
        rect.setSize(rect.size().boundedTo(primary.size() - QSize(20, 20)).expandedTo(QSize(1, 1)));
        rect.moveTopLeft(primary.topLeft() + QPoint(20, 20));
    }
    if (fit == OnScreen::Inside)
        rect = movedInside(rect, mostOverlapped(rect, screens));
    return rect;
}

QRect placedWindowRect(const WindowEdges& stored, const QRect& fallback, QSize minimum,
                       const QList<QRect>& screens)
{
    const QRect rect = usable(stored, minimum) ? QRect(stored.left, stored.top, int(stored.width()),
                                                       int(stored.height()))
                                               : fallback;
    return broughtOnScreen(rect, screens, OnScreen::Partly);
}

QList<QRect> availableScreenAreas()
{
    QList<QRect> areas;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary != nullptr)
        areas << primary->availableGeometry();
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary)
            areas << screen->availableGeometry();
    }
    return areas;
}
