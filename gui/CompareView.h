// Before and after in the main window's view: the source picture left of a
// vertical divider, the converted picture right of it, both in the same place.
#pragma once

#include <QRect>

class QImage;
class QPainter;

// The column of the divider in `target` for `share` (0: its left edge, 1: its
// right edge).
int dividerColumn(const QRect& target, double share);

// The share for a divider dragged to column `x`, kept within the target.
double dividerShareAt(const QRect& target, int x);

// Draws `result` into `target`, `source` over the part left of the divider, and
// the divider itself: a white line between two black ones, to be seen on any
// picture. Both pictures are scaled into `target` the same way. Beside the
// divider, near the top of the part of `target` in view, the sides are named
// "Original" and "Ergebnis". The painter counts device pixels from the view's
// top left corner.
void drawCompared(QPainter& painter, const QRect& target, const QImage& result,
                  const QImage& source, double share);
