// How a window whose content keeps its size stays within the screen's available
// area: it shows as much of the content as fits and scrolls the rest, and it is
// moved back inside where it would stick out.
#pragma once

#include <QRect>
#include <QSize>

// The size of a viewport onto `content` within `room`: the content's own size
// where it fits; otherwise as much as fits, plus room for the scroll bar
// (`barExtent` thick) that the other direction then needs, where there is room.
QSize visibleContentSize(QSize content, QSize room, int barExtent);

// `frame` moved as little as possible to lie inside `available`; one larger than
// `available` keeps its top-left corner (and so its title bar) inside.
QRect movedInside(QRect frame, const QRect& available);
