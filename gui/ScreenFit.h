// How a window whose content keeps its size stays within the screen's available
// area: it shows as much of the content as fits and scrolls the rest (where it
// goes on the screen is broughtOnScreen's, in WindowPlacement.h).
#pragma once

#include <QRect>
#include <QSize>

// The size of a viewport onto `content` within `room`: the content's own size
// where it fits; otherwise as much as fits, plus room for the scroll bar
// (`barExtent` thick) that the other direction then needs, where there is room.
QSize visibleContentSize(QSize content, QSize room, int barExtent);
