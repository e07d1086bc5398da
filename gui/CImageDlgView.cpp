// The main window's view: the picture at the size the panel sets, fitted or
// zoomed, scrolled, and before and after side by side.
#include "CImageDlg.h"

#include "CPanelDlg.h"
#include "ImageView.h"
#include "CompareView.h"
#include "ViewGeometry.h"
#include "ViewOptions.h"

#include <QPainter>
#include <QScrollBar>

#include <utility>

void CImageDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    layoutControls();
}

void CImageDlg::layoutControls()
{
    const QRect client = rect();
    const int width = client.width() - 36;
    const int height = client.height() - 36;
    m_wndView->setGeometry(client.left() + 10, client.top() + 10, width, height);
    m_wndScrollH->setGeometry(client.left() + 10, client.bottom() + 1 - 26, width, 16);
    m_wndScrollV->setGeometry(client.right() + 1 - 26, client.top() + 10, 16, height);
    m_wndView->update();
}

QSize CImageDlg::previewSize() const
{
    return m_session->shown().previewSize;
}

// The view's size in device pixels. The picture is shown one picture pixel on
// one device pixel, so scroll positions, ranges and steps count device pixels too.
QSize CImageDlg::viewDeviceSize() const
{
    const qreal ratio = m_wndView->devicePixelRatioF();
    return QSize(qRound(m_wndView->width() * ratio), qRound(m_wndView->height() * ratio));
}

void CImageDlg::updateScrollBars()
{
    const QSize box = shownBoxSize();
    const QSize view = viewDeviceSize();
    const auto adjust = [](QScrollBar* bar, int excess, int page, int& position) {
        if (excess > 0) {
            bar->show();
            // A box that shrank (zoomed out, fitted) keeps no place beyond its end.
            position = std::clamp(position, 0, excess);
        } else {
            bar->hide();
            position = 0;
        }
        bar->setRange(0, std::max(excess, 0));
        bar->setPageStep(std::max(page, 1));
        bar->setValue(position);
    };
    adjust(m_wndScrollH, box.width() - view.width(), view.width(), m_nScrollX);
    adjust(m_wndScrollV, box.height() - view.height(), view.height(), m_nScrollY);
    m_wndView->setPannable(box.width() > view.width() || box.height() > view.height());
    m_wndView->setDividing(m_viewOptions->comparing() && !m_session->shown().source.isNull());
}

// The box of the converted picture at one picture pixel per device pixel. A
// picture a size limit made smaller than asked is shown at the size it got.
QSize CImageDlg::unscaledBoxSize() const
{
    if (m_session->shown().conversion.shrunk && !previewSize().isEmpty())
        return previewSize();
    return viewBoxSize(settings().m_nTargetSize, settings().m_nTargetOther, previewSize());
}

// The box of the converted picture at the view's scale, in device pixels.
QSize CImageDlg::shownBoxSize() const
{
    return m_viewOptions->shownBox(unscaledBoxSize(), viewDeviceSize());
}

// Where the picture is drawn, in device pixels of the view.
QRect CImageDlg::shownPictureRect() const
{
    return viewPictureRect(viewDeviceSize(), shownBoxSize(), m_nScrollX, m_nScrollY,
                           m_session->shown().view.size());
}

void CImageDlg::DrawView(QPainter& painter, const QRect& item)
{
    // On a screen of twice the scale the frame ends a device pixel short of the
    // view's edge, which nothing else paints.
    painter.fillRect(item, QColor(128, 128, 128));
    painter.setPen(Qt::black);
    painter.setBrush(QColor(128, 128, 128));
    painter.drawRect(item.adjusted(0, 0, -1, -1));
    const QImage& view = m_session->shown().view;
    if (view.isNull())
        return;
    // Placed in device pixels and drawn unscaled by the screen's ratio, so that a
    // picture pixel lands on one device pixel on a high-resolution screen too.
    const qreal ratio = painter.device()->devicePixelRatioF();
    const QRect target = shownPictureRect();
    painter.save();
    painter.translate(item.topLeft());
    painter.scale(1 / ratio, 1 / ratio);
    // Reduced pictures come resampled to the target's size; enlarged ones show
    // their pixels sharp.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QImage& result = m_shownResult.shown(view, target.size());
    if (m_viewOptions->comparing() && !m_session->shown().source.isNull())
        drawCompared(painter, target, result,
                     m_shownSource.shown(m_session->shown().source, target.size()),
                     m_viewOptions->dividerShare());
    else
        painter.drawImage(target, result);
    painter.restore();
}

void CImageDlg::scrollBy(QScrollBar* bar, int& position, int action)
{
    int code = -1;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: code = kLineUp; break;
    case QAbstractSlider::SliderSingleStepAdd: code = kLineDown; break;
    case QAbstractSlider::SliderPageStepSub: code = kPageUp; break;
    case QAbstractSlider::SliderPageStepAdd: code = kPageDown; break;
    case QAbstractSlider::SliderMove: code = kThumbTrack; break;
    case QAbstractSlider::SliderToMinimum: code = kTop; break;
    case QAbstractSlider::SliderToMaximum: code = kBottom; break;
    default: code = -1; break;
    }
    const int page = bar == m_wndScrollH ? viewDeviceSize().width() : viewDeviceSize().height();
    const std::optional<int> next =
        scrolledPosition(position, code, bar->sliderPosition(), bar->maximum(), page);
    if (!next) {
        bar->setSliderPosition(position);
        return;
    }
    position = *next;
    // The bar shows our position, not the one it worked out itself.
    bar->setSliderPosition(position);
    m_wndView->update();
}

void CImageDlg::scrollView(QPoint delta)
{
    const auto move = [](QScrollBar* bar, int& position, int by) {
        if (by == 0 || bar->maximum() <= 0)
            return;
        position = *scrolledPosition(position, kThumbTrack, position + by, bar->maximum(), 0);
        bar->setSliderPosition(position);
    };
    move(m_wndScrollH, m_nScrollX, delta.x());
    move(m_wndScrollV, m_nScrollY, delta.y());
    m_wndView->update();
}

// Strg+wheel: the picture point under the pointer stays where it is.
void CImageDlg::zoomView(int notches, QPoint at)
{
    const QSize box = unscaledBoxSize();
    const QSize view = viewDeviceSize();
    const double before = m_viewOptions->scale(box, view);
    const int step = zoomedStep(before, notches);
    // At the end of the range a notch changes nothing.
    if (notches > 0 ? zoomFactor(step) <= before : zoomFactor(step) >= before)
        return;
    const QPoint scroll = scrollKeepingPoint(at, QPoint(m_nScrollX, m_nScrollY),
                                             scaledBox(box, before),
                                             scaledBox(box, zoomFactor(step)), view);
    m_nScrollX = scroll.x();
    m_nScrollY = scroll.y();
    m_viewOptions->zoomTo(step);
}

void CImageDlg::moveDivider(QPoint at)
{
    m_viewOptions->setDividerShare(dividerShareAt(shownPictureRect(), at.x()));
}
