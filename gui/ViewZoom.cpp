#include "ViewZoom.h"

#include <algorithm>
#include <cmath>

namespace {

// The new scroll position along one axis; see scrollKeepingPoint.
int keptAlong(int anchor, int scroll, int before, int after, int view)
{
    if (after <= view)
        return 0;
    // Where the box began in the view: centred while it was smaller, else scrolled.
    const double origin = before < view ? (view - before) / 2 : -scroll;
    const double share =
        before > 0 ? std::clamp((anchor - origin) / double(before), 0.0, 1.0) : 0.5;
    const double next = share * after - anchor;
    return int(std::clamp(std::lround(next), 0L, long(after - view)));
}

} // namespace

double zoomFactor(int step)
{
    return std::exp2(std::clamp(step, kZoomStepMin, kZoomStepMax) / 2.0);
}

double viewScale(ViewMode mode, int step, QSize box, QSize view)
{
    switch (mode) {
    case ViewMode::Fit:
        if (box.isEmpty() || view.isEmpty())
            return 1.0;
        return std::min(
            {1.0, double(view.width()) / box.width(), double(view.height()) / box.height()});
    case ViewMode::Zoom:
        return zoomFactor(step);
    case ViewMode::OneToOne:
        break;
    }
    return 1.0;
}

QSize scaledBox(QSize box, double scale)
{
    const auto side = [scale](int length) {
        return length <= 0 ? length : std::max(1, int(std::lround(length * scale)));
    };
    return QSize(side(box.width()), side(box.height()));
}

QSize viewBox(ViewMode mode, int step, QSize box, QSize view)
{
    if (mode == ViewMode::Fit && !view.isEmpty())
        return box.boundedTo(view);
    return scaledBox(box, viewScale(mode, step, box, view));
}

int zoomedStep(double scale, int notches)
{
    const double exact = 2 * std::log2(std::max(scale, 1e-9));
    const double nearest = std::round(exact);
    // A scale on a step (within rounding) starts from that step.
    const double from = std::abs(exact - nearest) < 1e-6 || notches == 0 ? nearest
                        : notches > 0                                    ? std::floor(exact)
                                                                         : std::ceil(exact);
    const double to = std::clamp(from + notches, double(kZoomStepMin), double(kZoomStepMax));
    return int(to);
}

QPoint scrollKeepingPoint(QPoint anchor, QPoint scroll, QSize before, QSize after, QSize view)
{
    return QPoint(
        keptAlong(anchor.x(), scroll.x(), before.width(), after.width(), view.width()),
        keptAlong(anchor.y(), scroll.y(), before.height(), after.height(), view.height()));
}
