// The picture view of the main window (control 1000): a plain widget whose
// painting the main window does, as an owner-drawn control's.
#pragma once

#include <QWidget>

#include <functional>

class ImageView final : public QWidget
{
    Q_OBJECT
public:
    using Painter = std::function<void(QPainter&, const QRect&)>;

    explicit ImageView(QWidget* parent = nullptr);
    void setPainter(Painter painter) { m_painter = std::move(painter); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Painter m_painter;
};
