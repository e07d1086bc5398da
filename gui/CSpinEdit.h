// An edit field for a number that gains up and down arrows at run time. The
// arrows take the right 20 pixels of the field's place and, like the up and down
// cursor keys, change the number in the field by one within a range. Whoever
// listens to the field sees every step as a change of its text.
#pragma once

#include <QLineEdit>
#include <QPointer>

// The number a field's text stands for: a decimal integer with an optional sign,
// blanks around it allowed; empty text, anything else and numbers beyond 32 bits
// read as 0.
int fieldInteger(const QString& text);

class CSpinEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit CSpinEdit(QWidget* parent = nullptr);
    ~CSpinEdit() override;

    // The first call narrows the field by 20 pixels and puts the arrows (control
    // id 2000, a sibling of the field) into the freed strip; every call sets the
    // range the arrows keep the number in.
    void SetRange(int low, int high);

    // The arrows, or null before the first SetRange.
    QWidget* spinArrows() const { return m_pSpin.data(); }

    // One step of the arrows: the field's number, brought into the range, moved
    // by `delta` and kept in the range, is written into the field when the text
    // changes by it. Does nothing before the first SetRange.
    void step(int delta);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void createArrows();

    // Owned: created as a child of the field's parent, deleted with the field.
    QPointer<QWidget> m_pSpin;
    int m_nLow = 0;
    int m_nHigh = 0;
};
