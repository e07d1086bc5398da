// The main window's choices of how its view shows the picture: one to one,
// fitted or zoomed ("Originalgrösse", "Einpassen", Strg+wheel, + and −), and
// before and after ("Vergleich", or while the space bar is held), with the
// divider's place.
// The scale is kept between starts; the comparison is not.
#pragma once

#include "ViewZoom.h"

#include <QList>
#include <QObject>

class QAction;
class QSettings;
class QWidget;

class ViewOptions final : public QObject
{
    Q_OBJECT
public:
    // Adds the commands to `window`, so that their keys work there, and watches
    // it for the space bar and the zoom keys.
    explicit ViewOptions(QWidget* window);

    // "Vergleich", "Einpassen", "Originalgrösse", for the window's context menu.
    QList<QAction*> menuActions() const;

    // The scale a box of `box` device pixels is drawn at in a view of `view`.
    double scale(QSize box, QSize view) const { return viewScale(m_mode, m_zoomStep, box, view); }
    // The box the picture is drawn in, in a view of `view` (see viewBox).
    QSize shownBox(QSize box, QSize view) const { return viewBox(m_mode, m_zoomStep, box, view); }
    // Zooms to `step` (kZoomStepMin..kZoomStepMax).
    void zoomTo(int step);

    // The view shows before and after: switched on, or the space bar held.
    bool comparing() const;
    // Where the divider lies, 0 at the picture's left edge, 1 at its right edge.
    double dividerShare() const { return m_dividerShare; }
    void setDividerShare(double share);

    // Section "Ansicht"; values out of range read as one to one.
    void load(QSettings& store);
    void save(QSettings& store) const;

signals:
    // The view has to be drawn again.
    void changed();
    // "+" or "−" (with or without Strg, "=" too, or the keypad's): zoom by
    // `notches` as the wheel would, about the view's centre.
    void zoomRequested(int notches);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setMode(ViewMode mode);
    void showMode();
    void holdSpace(bool held);

    ViewMode m_mode = ViewMode::OneToOne;
    int m_zoomStep = 0;
    bool m_spaceHeld = false;
    double m_dividerShare = 0.5;
    QAction* m_compare = nullptr;
    QAction* m_fit = nullptr;
    QAction* m_oneToOne = nullptr;
};
