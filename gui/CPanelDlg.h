// The control panel "Schnellstart": the small tool window with every conversion
// parameter (size, quality, brightness, contrast, colour shares, black and white,
// resolution, rotation, mirroring, effect), the program's menu bar and the buttons
// for opening, saving, converting a directory and sending by mail.
//
// The panel keeps no parameters of its own: every control hands its value to the
// ConversionSession it was attached to, through that session's setters, which
// bring the preview up to date (see there: cheap updates at once, the full
// conversion at once or once the user has paused); its buttons and menu ask for
// the program's commands through signals. It knows nothing of the window that
// answers.
//
// Everything here runs on the GUI thread.
#pragma once

#include "DialogUnits.h"
#include "imaging/UpdateKind.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <array>
#include <cstdint>

class CFaceButton;
class ConversionSession;
class CSpinEdit;
class EffectHost;
class QSettings;
struct ConversionSettings;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSlider;

class CPanelDlg : public QDialog
{
    Q_OBJECT
public:
    // Builds the window with every control of its template; `owner` becomes the
    // parent window (the panel stays above it and goes with it).
    explicit CPanelDlg(QWidget* owner = nullptr);
    ~CPanelDlg() override;

    // Binds the panel to the session whose settings it edits (through its
    // setters), the effects it offers and the store that keeps its place; all
    // three must outlive the panel. Until then the handlers that need them do
    // nothing.
    void Attach(ConversionSession& session, const EffectHost& effects, QSettings& store);

    // The menu's commands that have keys, for the owner to take as well, so
    // that the keys work whichever of the two windows has the focus.
    const QList<QAction*>& keyedCommands() const { return m_keyedCommands; }

    // Fills and presets every control from the main window's settings, starts the
    // timer and brings the panel into its start state (compact).
    void InitControls();

    // Stores quality `quality` (above 100 becomes 100) and converts at once, then
    // shows it. Without a main window it only shows it.
    void SetQuality(int quality);
    // Checks the radio button of the quality's tens (none below 10 or at 100) and,
    // unless the user is typing into the quality field, writes it into the field.
    void ShowQuality();

    // Switches between the compact panel (size and quality) and the extended one
    // (adding the adjustments, resolution, rotation, effect and reset).
    void ToggleExtended();
    bool isCompact() const { return m_bCompact != 0; }

    // The panel's place: LoadLayout moves it to the stored top-left corner,
    // SaveLayout stores its window rectangle (settings section "SettingSub1").
    void LoadLayout();
    void SaveLayout();

    // The tooltip of the control with id `id`; empty for controls without one.
    QString OnToolTipText(int id) const;

    // Shows the information text of the last conversion.
    void showInformation(const QString& text);
    // Shows `quality` on the quality buttons and in the field without choosing
    // it: the quality a size limit made a conversion use.
    void showUsedQuality(int quality);

public slots:
    // Escape, the close box and "Beenden" ask to end the program (quitRequested).
    // The panel does not close on its own.
    void reject() override;
    // Enter does nothing.
    void accept() override;

signals:
    void openRequested();
    void saveAsRequested();
    void convertDirectoryRequested();
    void sendMailRequested();
    void mailSetupRequested();
    void aboutRequested();
    void quitRequested();
    // Files were dropped onto the panel.
    void filesDropped(const QList<QUrl>& urls);

protected:
    // Files dropped onto the panel are handed on (filesDropped).
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls();
    void createMenu();
    void createAdjustmentColumn();
    void connectControls();
    void fitToText();
    void fitLists();
    CFaceButton* faceButton(int id, const char* text, int x, int y, int width, int height);
    QGroupBox* group(int id, const QString& title, int x, int y, int width, int height);
    CSpinEdit* spinEdit(int id, int x, int y);
    QComboBox* dropDownList(int id, int x, int y, int width, int height);

    // The panel's own writes into its fields raise the same handling as typing,
    // at once, even when the text does not change.
    void writeField(QLineEdit* field, int value);
    void onFieldChanged(int id);
    void onSizeSlider(int position);
    void onSizeChanged();
    void onQualityChanged();
    void onAdjustmentChanged(int id);
    void onGrayscaleClicked(bool checked);
    void onKeepExifClicked(bool checked);
    void onMaxKbChanged();
    void createLimitRows();
    void onReset();
    void onResolution(int index);
    void onOrientation();
    void onEffect();
    void showQuality(int quality);
    void fillEffects();
    void setExtensionsShown(int clientWidth);
    void showActiveChoices();
    void fitToScreen();
    void keepOnScreen(const QRect& frame);
    QMargins frameExtents() const;
    int contentBottom() const;
    void refreshToolTips();
    CSpinEdit* adjustmentField(int id) const;

    QMenuBar* m_menu = nullptr;
    // The menu's commands that have keys.
    QList<QAction*> m_keyedCommands;
    int m_bEditingQuality = 0;
    // The start state: compact, the panel's quick start with size and quality;
    // the button "more" switches on the further settings.
    int m_bCompact = 1;
    ConversionSession* m_pSession = nullptr;
    const EffectHost* m_pEffects = nullptr;
    QSettings* m_pStore = nullptr;

    QComboBox* m_cbEffect = nullptr;
    QComboBox* m_cbRotation = nullptr;
    std::array<QPushButton*, 3> m_btPromotion{};
    QComboBox* m_cbResolution = nullptr;
    CFaceButton* m_btReset = nullptr;
    CFaceButton* m_btMoreLess = nullptr;
    CFaceButton* m_btDirectory = nullptr;
    CFaceButton* m_btSend = nullptr;
    CFaceButton* m_btOpen = nullptr;
    CFaceButton* m_btSave = nullptr;
    QCheckBox* m_chGrayscale = nullptr;
    QCheckBox* m_chKeepExif = nullptr;
    QLineEdit* m_edMaxKb = nullptr;
    QCheckBox* m_chShrink = nullptr;
    QCheckBox* m_chNoEnlarge = nullptr;
    // Names, while the panel is compact, what its extended part has switched on.
    QLabel* m_lbActive = nullptr;
    // The extended panel's controls below the compact one's.
    QList<QWidget*> m_belowCompact;
    CSpinEdit* m_edGreen = nullptr;
    CSpinEdit* m_edBlue = nullptr;
    CSpinEdit* m_edContrast = nullptr;
    CSpinEdit* m_edBrightness = nullptr;
    CSpinEdit* m_edRed = nullptr;
    QSlider* m_slSize = nullptr;

    QLineEdit* m_edSize = nullptr;
    QLineEdit* m_edQuality = nullptr;
    std::array<QRadioButton*, 9> m_rbQuality{};
    QPlainTextEdit* m_edInfo = nullptr;
    QCheckBox* m_chMirror = nullptr;
    QGroupBox* m_grSize = nullptr;
    QGroupBox* m_grQuality = nullptr;
    QGroupBox* m_grColour = nullptr;
    QGroupBox* m_grEffect = nullptr;

    // Everything below the menu bar; control positions are relative to it.
    QWidget* m_client = nullptr;
    QScrollArea* m_scroll = nullptr;
    DialogUnits m_units;
    // Controls hidden because they lie beyond the compact panel's width.
    QList<QPointer<QWidget>> m_outside;
};
