// How the main window's view scales the converted picture: one picture pixel on
// one device pixel, fitted into the view, or zoomed in steps of the square root
// of two. Sizes and positions count device pixels; no widget is involved.
#pragma once

#include <QPoint>
#include <QSize>

enum class ViewMode
{
    OneToOne = 0,
    Fit = 1,
    Zoom = 2,
};

// Step k of the zoom scales by 2^(k / 2): from 1/16 to 8 times.
inline constexpr int kZoomStepMin = -8;
inline constexpr int kZoomStepMax = 6;

double zoomFactor(int step);

// The scale a box of `box` is drawn at in a view of `view`: 1 one to one; fitted,
// the largest that shows the whole box, but never above 1; zoomed, the factor of
// `step`.
double viewScale(ViewMode mode, int step, QSize box, QSize view);

// `box` at `scale`, rounded; a side that has pixels keeps at least one.
QSize scaledBox(QSize box, double scale);

// The box the view draws the picture in: `box` at viewScale, but fitted only
// cut down to the view, so that the picture, placed in it keeping its
// proportions, reaches the view's edges along its tighter side to the pixel
// (a box scaled first would round it a pixel short) and is never enlarged.
QSize viewBox(ViewMode mode, int step, QSize box, QSize view);

// The zoom step `notches` steps away from the scale the view has now (positive:
// larger). A scale between two steps (a fitted one) counts its first notch to
// the neighbouring step. Stays within kZoomStepMin..kZoomStepMax.
int zoomedStep(double scale, int notches);

// The scroll position after the drawn box grew or shrank from `before` to
// `after`, such that the picture point under `anchor` (in the view) stays there
// where the box is larger than the view; a box that fits is centred (0).
QPoint scrollKeepingPoint(QPoint anchor, QPoint scroll, QSize before, QSize after, QSize view);
