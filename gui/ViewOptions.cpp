#include "ViewOptions.h"

#include "program/SettingsStore.h"
#include "resource.h"

#include <QAction>
#include <QEvent>
#include <QKeyEvent>
#include <QWidget>

#include <algorithm>

namespace {

// The notches a key zooms by: +1 for "+" and "=" (the "+" key's unshifted
// character on many keyboards), -1 for "−", the same with Strg or on the keypad;
// Shift is what some layouts need to reach "+". 0 for every other key.
int zoomNotches(const QKeyEvent& key)
{
    const Qt::KeyboardModifiers allowed =
        Qt::ControlModifier | Qt::ShiftModifier | Qt::KeypadModifier;
    if ((key.modifiers() & ~allowed) != Qt::NoModifier)
        return 0;
    switch (key.key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        return 1;
    case Qt::Key_Minus:
        return -1;
    default:
        return 0;
    }
}

} // namespace

ViewOptions::ViewOptions(QWidget* window) : QObject(window)
{
    const auto command = [window](const QString& text, int id, const QKeySequence& keys) {
        auto* action = new QAction(text, window);
        action->setProperty("id", id);
        action->setShortcut(keys);
        action->setCheckable(true);
        window->addAction(action);
        return action;
    };
    m_compare =
        command(QStringLiteral("Vergleich"), ID_VIEW_COMPARE, QKeySequence(Qt::CTRL | Qt::Key_Y));
    m_fit = command(QStringLiteral("Einpassen"), ID_VIEW_FIT, QKeySequence(Qt::CTRL | Qt::Key_0));
    m_oneToOne = command(QStringLiteral("Originalgrösse"), ID_VIEW_ONE_TO_ONE,
                         QKeySequence(Qt::CTRL | Qt::Key_1));
    connect(m_compare, &QAction::toggled, this, &ViewOptions::changed);
    connect(m_fit, &QAction::triggered, this, [this] { setMode(ViewMode::Fit); });
    connect(m_oneToOne, &QAction::triggered, this, [this] { setMode(ViewMode::OneToOne); });
    showMode();
    window->installEventFilter(this);
}

QList<QAction*> ViewOptions::menuActions() const
{
    return {m_compare, m_fit, m_oneToOne};
}

void ViewOptions::zoomTo(int step)
{
    m_zoomStep = std::clamp(step, kZoomStepMin, kZoomStepMax);
    setMode(ViewMode::Zoom);
}

bool ViewOptions::comparing() const
{
    return m_compare->isChecked() || m_spaceHeld;
}

void ViewOptions::setDividerShare(double share)
{
    m_dividerShare = std::clamp(share, 0.0, 1.0);
    emit changed();
}

void ViewOptions::setMode(ViewMode mode)
{
    m_mode = mode;
    showMode();
    emit changed();
}

// A checked entry names the mode; a zoomed view is neither of the two.
void ViewOptions::showMode()
{
    m_fit->setChecked(m_mode == ViewMode::Fit);
    m_oneToOne->setChecked(m_mode == ViewMode::OneToOne);
}

void ViewOptions::holdSpace(bool held)
{
    if (held == m_spaceHeld)
        return;
    m_spaceHeld = held;
    emit changed();
}

bool ViewOptions::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto* key = static_cast<QKeyEvent*>(event);
        // A held key repeats; only its first press and its last release count.
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
            if (!key->isAutoRepeat())
                holdSpace(event->type() == QEvent::KeyPress);
            return true;
        }
        if (const int notches = zoomNotches(*key); notches != 0) {
            if (event->type() == QEvent::KeyPress)
                emit zoomRequested(notches);
            return true;
        }
        break;
    }
    // A release outside the window never arrives.
    case QEvent::WindowDeactivate:
        holdSpace(false);
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void ViewOptions::load(QSettings& store)
{
    const ViewSettings values = readViewSettings(store);
    m_zoomStep = std::clamp(values.m_nZoomStep, kZoomStepMin, kZoomStepMax);
    switch (values.m_nViewMode) {
    case int(ViewMode::Fit):
        m_mode = ViewMode::Fit;
        break;
    case int(ViewMode::Zoom):
        m_mode = ViewMode::Zoom;
        break;
    default:
        m_mode = ViewMode::OneToOne;
        break;
    }
    showMode();
    emit changed();
}

void ViewOptions::save(QSettings& store) const
{
    writeViewSettings(store, ViewSettings{int(m_mode), m_zoomStep});
}
