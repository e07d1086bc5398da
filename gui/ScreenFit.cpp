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
