// Dialog units, the measure of the program's window templates: a quarter of the
// dialog font's average character width horizontally, an eighth of its height
// vertically. Templates keep their proportions and still follow the user's font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QWidget>

class DialogUnits
{
public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const { return units * m_baseWidth / 4; }
    int y(int units) const { return units * m_baseHeight / 8; }
    QRect rect(int left, int top, int width, int height) const
    {
        return QRect(x(left), y(top), x(width), y(height));
    }
    QSize size(int width, int height) const { return QSize(x(width), y(height)); }

    // Puts `control` at its template place (dialog units) and gives it its
    // template id: the property "id" unless the id is 0 (none), and the object
    // name of the number unless the id is 0 or negative (a static text).
    template <class Control>
    Control* place(Control* control, int id, int left, int top, int width, int height) const
    {
        identify(control, id);
        control->setGeometry(rect(left, top, width, height));
        return control;
    }
    static void identify(QWidget* control, int id);

private:
    int m_baseWidth;
    int m_baseHeight;
};
