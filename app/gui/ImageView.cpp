#include "ImageView.h"

#include <QPainter>

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
