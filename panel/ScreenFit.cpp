#include "ScreenFit.h"

#include <algorithm>

QSize visibleContentSize(QSize content, QSize room, int barExtent)
{
    const bool vertical = content.height() > room.height();
    const bool horizontal = content.width() + (vertical ? barExtent : 0) > room.width();
    const bool verticalToo =
        vertical || content.height() + (horizontal ? barExtent : 0) > room.height();
    return QSize(std::min(content.width() + (verticalToo ? barExtent : 0), room.width()),
                 std::min(content.height() + (horizontal ? barExtent : 0), room.height()));
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
