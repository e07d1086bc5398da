// The control panel's shape and place: compact or extended, the line of active
// choices, and a place on the screen that is kept between starts.
#include "CPanelDlg.h"

#include "session/ConversionSession.h"

#include "ActiveChoices.h"
#include "CFaceButton.h"
#include "ScreenFit.h"
#include "program/SettingsStore.h"
#include "program/WindowPlacement.h"
#include "resource.h"

#include <QGroupBox>
#include <QLayout>
#include <QMenuBar>
#include <QScrollArea>
#include <QScreen>
#include <QStyle>

#include <algorithm>

namespace {

// Pixels between the panel's lowest control and its bottom edge.
constexpr int kBottomMargin = 20;

WindowEdges edgesOf(const QRect& rect)
{
    return WindowEdges{rect.top(), rect.left(), rect.left() + rect.width(), rect.top() + rect.height()};
}

} // namespace

void CPanelDlg::ToggleExtended()
{
    const int margin = m_grSize->x();
    const QGroupBox* right = nullptr;
    if (m_bCompact != 0) {
        m_bCompact = 0;
        m_btMoreLess->LoadFaces(IDB_FACE_LESS);
        right = m_grColour;
    } else {
        m_btMoreLess->LoadFaces(IDB_FACE_MORE);
        m_bCompact = 1;
        right = m_grQuality;
    }
    const int width = right->geometry().right() + 1 + margin;
    setExtensionsShown(width);
    showActiveChoices();
    m_client->setFixedSize(width, contentBottom() + kBottomMargin);
    fitToScreen();
    if (isVisible())
        keepOnScreen(frameGeometry());
    m_btMoreLess->setToolTip(OnToolTipText(IDC_PANEL_MORE_LESS));
    m_btMoreLess->update();
}

// The compact panel grows or shrinks with the line: a limit typed just before
// the panel went compact arrives after it did.
void CPanelDlg::showActiveChoices()
{
    const QString text =
        m_pSession != nullptr && m_bCompact != 0 ? activeChoicesText(m_pSession->settings())
                                                 : QString();
    if (!setActiveChoicesLine(*m_lbActive, text) || m_bCompact == 0)
        return;
    m_client->setFixedSize(m_client->width(), contentBottom() + kBottomMargin);
    fitToScreen();
}

// The compact panel hides what lies beyond its width, so that the keyboard does
// not reach controls nobody sees; the extended panel shows them again.
void CPanelDlg::setExtensionsShown(int clientWidth)
{
    if (m_bCompact == 0) {
        for (const QPointer<QWidget>& control : std::as_const(m_outside)) {
            if (control)
                control->show();
        }
        m_outside.clear();
        return;
    }
    for (QWidget* control : m_client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        // The capture data choice lies below the compact panel's controls.
        const bool beyond = control->x() >= clientWidth || m_belowCompact.contains(control);
        if (!control->isHidden() && beyond) {
            control->hide();
            m_outside << control;
        }
    }
}

// The bottom of the more/less button, or of a lower control that is shown.
int CPanelDlg::contentBottom() const
{
    int bottom = m_btMoreLess->geometry().bottom() + 1;
    for (const QWidget* control : m_client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!control->isHidden())
            bottom = std::max(bottom, control->geometry().bottom() + 1);
    }
    return bottom;
}

void CPanelDlg::LoadLayout()
{
    if (m_pSession == nullptr)
        return;
    // The panel keeps its own size: stored edges that cannot give it (they ran
    // into the end of the number range) leave it where it is; a place on no
    // screen is brought back onto the primary one.
    const QRect frame = frameGeometry();
    const PanelLayout stored = readPanelLayout(*m_pStore, PanelLayout{edgesOf(frame)});
    move(placedWindowRect(stored.m_rcPanel, frame, frame.size(), availableScreenAreas()).topLeft());
}

// The panel never reaches beyond the screen's available area: it shows what fits
// and scrolls the rest.
void CPanelDlg::fitToScreen()
{
    const QScreen* screen = this->screen();
    if (screen == nullptr)
        return;
    const QMargins frame = frameExtents();
    const int menu = layout()->menuBar() != nullptr ? m_menu->sizeHint().height() : 0;
    const QSize room = screen->availableGeometry().size().shrunkBy(frame) - QSize(0, menu);
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_scroll);
    const QSize content = m_client->size();
    const QSize view = visibleContentSize(content, room, bar);
    // The bars are set, not left to the area, so that they are there from the
    // start exactly where the content does not fit.
    const bool cutBelow = view.height() < content.height();
    const bool horizontal = view.width() - (cutBelow ? bar : 0) < content.width();
    const bool vertical = cutBelow || view.height() - (horizontal ? bar : 0) < content.height();
    m_scroll->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn
                                                      : Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    m_scroll->setFixedSize(view);
    layout()->activate();
}

// Moves the panel, whose frame would lie at `frame`, as little as needed to lie
// within the available area of the screen it is on.
void CPanelDlg::keepOnScreen(const QRect& frame)
{
    const QRect whole(frame.topLeft(), size().grownBy(frameExtents()));
    move(broughtOnScreen(whole, availableScreenAreas(), OnScreen::Inside).topLeft());
}

// The window manager's frame around the panel; before it is known (the panel
// not yet shown), a generous guess: a title bar of two text lines.
QMargins CPanelDlg::frameExtents() const
{
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    const QMargins known(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    if (!known.isNull() || isVisible())
        return known;
    const int line = fontMetrics().height();
    return QMargins(line / 2, 2 * line, line / 2, line / 2);
}

void CPanelDlg::SaveLayout()
{
    if (m_pSession != nullptr)
        writePanelLayout(*m_pStore, PanelLayout{edgesOf(frameGeometry())});
}
