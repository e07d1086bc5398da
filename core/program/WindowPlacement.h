// Where a window goes: from its stored edges, the stored rectangle only when it
// is usable as a whole, and always at least partly on a screen. Used by the main
// window and the control panel alike.
#pragma once

#include "program/SettingsStore.h"

#include <QList>
#include <QRect>
#include <QSize>

// Largest side a stored window may have: what window systems accept, and far
// from the ends of int, so that no edge can overflow.
inline constexpr int kMaxWindowSide = 32767;

// How much of a window must lie on one screen to count as on it: enough to take
// hold of it.
inline constexpr int kMinVisibleSide = 48;

// How far broughtOnScreen goes: a window needs only enough on a screen to take
// hold of it; a tool window that keeps its size is also kept wholly inside.
enum class OnScreen
{
    Partly,
    Inside
};

// `rect` brought onto `screens` (the screens' available areas, the primary
// first): when less than kMinVisibleSide x kMinVisibleSide of it lies on any of
// them, moved onto the primary one, 20 pixels in from its top-left corner and
// shrunk to fit it. With OnScreen::Inside it is then moved as little as needed
// to lie inside the screen it overlaps most; one larger than that screen keeps
// its top-left corner (and so its title bar) inside. With no screens the
// rectangle stays where it is.
QRect broughtOnScreen(QRect rect, const QList<QRect>& screens, OnScreen fit);

// The rectangle for `stored`: `fallback` when the stored edges are inverted, give
// a side below `minimum` or above kMaxWindowSide, or lie so far out that an edge
// would overflow; then brought at least partly onto `screens` (broughtOnScreen).
QRect placedWindowRect(const WindowEdges& stored, const QRect& fallback, QSize minimum,
                       const QList<QRect>& screens);

// The available areas of the screens, the primary one first; empty without a
// GUI application.
QList<QRect> availableScreenAreas();
