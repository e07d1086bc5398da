#include "WindowPlacement.h"

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

} // namespace

QRect placedWindowRect(const WindowEdges& stored, const QRect& fallback, QSize minimum,
                       const QList<QRect>& screens)
{
    QRect rect = usable(stored, minimum)
                     ? QRect(stored.left, stored.top, int(stored.width()), int(stored.height()))
                     : fallback;
    if (screens.isEmpty() || visibleOn(rect, screens))
        return rect;
    const QRect primary = screens.constFirst();
    rect.setSize(rect.size().boundedTo(primary.size() - QSize(20, 20)).expandedTo(QSize(1, 1)));
    rect.moveTopLeft(primary.topLeft() + QPoint(20, 20));
    return rect;
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
