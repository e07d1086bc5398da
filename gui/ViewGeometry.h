// The arithmetic of the main window's picture view: the box the converted picture
// is shown in, its place in the view, the scroll ranges and the scroll steps.
#pragma once

#include <QRect>
#include <QSize>

#include <optional>

// The size the converted picture is shown at: targetSize along the preview's
// longer side, targetOther along the shorter one.
QSize viewBoxSize(int targetSize, int targetOther, QSize preview);

// Where the preview is drawn in a view of `viewSize`: the box is centred where it
// is smaller than the view and shifted by the scroll position where it is larger;
// the preview is then fitted into the box keeping its proportions (integer
// arithmetic that truncates).
QRect viewPictureRect(QSize viewSize, QSize box, int scrollX, int scrollY, QSize preview);

// Scroll-bar codes, as a scroll bar reports them.
enum ScrollCode
{
    kLineUp = 0,
    kLineDown = 1,
    kPageUp = 2,
    kPageDown = 3,
    kThumbPosition = 4,
    kThumbTrack = 5,
    kTop = 6,
    kBottom = 7,
    kEndScroll = 8,
};

// The scroll position after `code`, from `current`, the thumb's position
// `thumb`, the bar's range maximum and `page`, the view's length along the bar:
// lines move by 10, pages by a view's length (at least a line), top and bottom
// by 10 as well; the result stays within 0 .. maximum - 1. No value for the
// codes that leave the position alone (thumb position, end scroll).
std::optional<int> scrolledPosition(int current, int code, int thumb, int maximum, int page);
