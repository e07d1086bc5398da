#include "CSpinEdit.h"

#include "resource.h"

#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kArrowWidth = 20;

QToolButton* arrowButton(QWidget* parent, Qt::ArrowType direction, const char* name)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setArrowType(direction);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    return button;
}

} // namespace

int fieldInteger(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

CSpinEdit::CSpinEdit(QWidget* parent) : QLineEdit(parent) {}

CSpinEdit::~CSpinEdit()
{
    delete m_pSpin.data();
}

void CSpinEdit::SetRange(int low, int high)
{
    if (m_pSpin.isNull())
        createArrows();
    m_nLow = std::min(low, high);
    m_nHigh = std::max(low, high);
}

void CSpinEdit::createArrows()
{
    QRect field = geometry();
    field.setWidth(std::max(0, field.width() - kArrowWidth));
    setGeometry(field);

    auto* arrows = new QWidget(parentWidget());
    arrows->setObjectName(QStringLiteral("2000"));
    arrows->setProperty("id", IDC_SPIN);
    arrows->setGeometry(field.x() + field.width(), field.y(), kArrowWidth, field.height());
    auto* layout = new QVBoxLayout(arrows);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QToolButton* up = arrowButton(arrows, Qt::UpArrow, "up");
    QToolButton* down = arrowButton(arrows, Qt::DownArrow, "down");
    layout->addWidget(up);
    layout->addWidget(down);
    connect(up, &QToolButton::clicked, this, [this] { step(1); });
    connect(down, &QToolButton::clicked, this, [this] { step(-1); });
    arrows->setVisible(!isHidden());
    m_pSpin = arrows;
}

void CSpinEdit::step(int delta)
{
    if (m_pSpin.isNull())
        return;
    const int value = std::clamp(fieldInteger(text()), m_nLow, m_nHigh);
    const int next = std::clamp(value + delta, m_nLow, m_nHigh);
    const QString shown = QString::number(next);
    if (shown != text())
        setText(shown);
}

void CSpinEdit::keyPressEvent(QKeyEvent* event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (!m_pSpin.isNull() && plain) {
        if (event->key() == Qt::Key_Up) {
            step(1);
            return;
        }
        if (event->key() == Qt::Key_Down) {
            step(-1);
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}
