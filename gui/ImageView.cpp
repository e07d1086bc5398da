#include "ImageView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

namespace {

// Pixels of one wheel line; a notch scrolls QApplication::wheelScrollLines() of them.
constexpr int kWheelLine = 20;

} // namespace

ImageView::ImageView(QWidget* parent) : QWidget(parent)
{
    // The whole area is painted every time: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ImageView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_painter)
        m_painter(painter, rect());
}

void ImageView::setPannable(bool pannable)
{
    if (pannable == m_pannable)
        return;
    m_pannable = pannable;
    if (!pannable)
        m_dragFrom.reset();
    showHand();
}

void ImageView::setDividing(bool dividing)
{
    if (dividing == m_dividing)
        return;
    m_dividing = dividing;
    m_dragsDivider = false;
    m_dragFrom.reset();
    showHand();
}

QPoint ImageView::devicePoint(const QPointF& position) const
{
    return (position * devicePixelRatioF()).toPoint();
}

void ImageView::showHand()
{
    if (m_dividing)
        setCursor(Qt::SplitHCursor);
    else if (!m_pannable)
        unsetCursor();
    else
        setCursor(m_dragFrom ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
}

void ImageView::wheelEvent(QWheelEvent* event)
{
    if (event->modifiers() & Qt::ControlModifier) {
        m_zoomAngle += event->angleDelta().y();
        const int notches = m_zoomAngle / 120;
        m_zoomAngle -= notches * 120;
        if (notches != 0)
            emit zoomRequested(notches, devicePoint(event->position()));
        event->accept();
        return;
    }
    QPoint delta;
    if (!event->pixelDelta().isNull())
        delta = (QPointF(event->pixelDelta()) * devicePixelRatioF()).toPoint();
    else
        delta = event->angleDelta() * (QApplication::wheelScrollLines() * kWheelLine) / 120;
    // Shift turns a plain wheel sideways.
    if ((event->modifiers() & Qt::ShiftModifier) && delta.x() == 0)
        delta = QPoint(delta.y(), 0);
    // Turning the wheel away from the user shows what lies further up or left.
    emit scrollRequested(-delta);
    event->accept();
}

void ImageView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_dividing) {
        m_dragsDivider = true;
        emit dividerDragged(devicePoint(event->position()));
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton || !m_pannable) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragFrom = event->position();
    showHand();
    event->accept();
}

void ImageView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragsDivider) {
        emit dividerDragged(devicePoint(event->position()));
        event->accept();
        return;
    }
    if (!m_dragFrom) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    // The picture follows the pointer: dragging right shows more of its left.
    const QPoint delta = ((*m_dragFrom - event->position()) * devicePixelRatioF()).toPoint();
    if (delta.isNull())
        return;
    m_dragFrom = *m_dragFrom - QPointF(delta) / devicePixelRatioF();
    emit scrollRequested(delta);
    event->accept();
}

void ImageView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_dragsDivider) {
        m_dragsDivider = false;
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton || !m_dragFrom) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_dragFrom.reset();
    showHand();
    event->accept();
}
