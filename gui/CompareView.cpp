#include "CompareView.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Names the side `side` of the compared pictures with `text`, in a label that
// touches the divider at column `divider`, `gap` pixels away from it (a
// negative `gap` puts it on the left). The label stays within its side, cut
// off where the side is narrower, so that it never hides the other picture.
void drawSideLabel(QPainter& painter, const QRect& side, int divider, int gap, int top,
                   const QString& text)
{
    if (side.isEmpty())
        return;
    const QFontMetrics metrics(painter.font());
    const int padding = std::max(2, metrics.height() / 5);
    const QSize size(metrics.horizontalAdvance(text) + 2 * padding, metrics.height() + padding);
    const QRect label(gap < 0 ? divider + gap - size.width() : divider + gap, top, size.width(),
                      size.height());
    painter.save();
    painter.setClipRect(side, painter.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    // Dark and half transparent: light text reads on any picture, which still
    // shows through.
    painter.fillRect(label, QColor(0, 0, 0, 150));
    painter.setPen(Qt::white);
    painter.drawText(label, Qt::AlignCenter, text);
    painter.restore();
}

} // namespace

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

    // The labels keep the size of the window's text on a screen of any scale,
    // as the painter draws device pixels.
    const qreal ratio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
    QFont font = painter.font();
    font.setPixelSize(std::max(1, qRound(QFontInfo(font).pixelSize() * ratio * 0.9)));
    painter.save();
    painter.setFont(font);
    const int gap = std::max(3, qRound(4 * ratio));
    // Near the top of what is in view of the pictures, however they are scrolled.
    const int top = std::max(target.top(), 0) + gap;
    const QRect before(target.left(), target.top(), divider - 1 - target.left(), target.height());
    const QRect after(divider + 2, target.top(), target.right() + 1 - (divider + 2),
                      target.height());
    drawSideLabel(painter, before, divider - 1, -gap, top, QStringLiteral("Original"));
    drawSideLabel(painter, after, divider + 2, gap, top, QStringLiteral("Ergebnis"));
    painter.restore();
}
