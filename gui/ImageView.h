// The picture view of the main window (control 1000): a plain widget whose
// painting the main window does, as an owner-drawn control's. The wheel and a
// drag with the left button ask the main window to scroll the picture; Strg+wheel
// asks it to zoom; while before and after are shown, the drag moves the divider.
#pragma once

#include <QPointF>
#include <QWidget>

#include <functional>
#include <optional>

class ImageView final : public QWidget
{
    Q_OBJECT
public:
    using Painter = std::function<void(QPainter&, const QRect&)>;

    explicit ImageView(QWidget* parent = nullptr);
    void setPainter(Painter painter) { m_painter = std::move(painter); }

    // Whether the picture is larger than the view, so that dragging pans it; the
    // cursor shows a hand then.
    void setPannable(bool pannable);
    // Whether before and after are shown, so that dragging moves the divider.
    void setDividing(bool dividing);

signals:
    // Move the visible part of the picture by `delta` device pixels; positive
    // values go towards the picture's right and bottom ends. The wheel scrolls
    // (Shift+wheel sideways), a drag with the left button pulls the picture along.
    void scrollRequested(QPoint delta);
    // Zoom by `notches` steps (positive: larger) about `at`, in device pixels of
    // the view.
    void zoomRequested(int notches, QPoint at);
    // The divider was dragged to `at`, in device pixels of the view.
    void dividerDragged(QPoint at);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void showHand();
    QPoint devicePoint(const QPointF& position) const;

    Painter m_painter;
    bool m_pannable = false;
    // Where the drag last was, in the view's coordinates; none while not dragging.
    std::optional<QPointF> m_dragFrom;
    bool m_dividing = false;
    bool m_dragsDivider = false;
    // Strg+wheel turns not yet a whole notch (touchpads send fractions).
    int m_zoomAngle = 0;
};
