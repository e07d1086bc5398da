#include "CompareView.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

int dividerColumn(const QRect& target, double share)
{
    return target.left() + int(std::lround(std::clamp(share, 0.0, 1.0) * target.width()));
}

double dividerShareAt(const QRect& target, int x)
{
    if (target.width() <= 0)
        return 0.5;
    return std::clamp(double(x - target.left()) / target.width(), 0.0, 1.0);
}

void drawCompared(QPainter& painter, const QRect& target, const QImage& result,
                  const QImage& source, double share)
{
    painter.drawImage(target, result);
    const int divider = dividerColumn(target, share);
    painter.save();
    painter.setClipRect(
        QRect(target.left(), target.top(), divider - target.left(), target.height()),
        painter.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    painter.drawImage(target, source);
    painter.restore();
    painter.fillRect(QRect(divider - 1, target.top(), 3, target.height()), Qt::black);
    painter.fillRect(QRect(divider, target.top(), 1, target.height()), Qt::white);
}
