#include "CPanelDlg.h"

#include "session/ConversionSession.h"

#include "ActiveChoices.h"
#include "CFaceButton.h"
#include "CSpinEdit.h"
#include "imaging/ConversionSettings.h"
#include "effects/EffectHost.h"
#include "ScreenFit.h"
#include "program/SettingsStore.h"
#include "program/WindowPlacement.h"
#include "resource.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

// The panel's string table: tooltips by control id, and the two texts of the
// more/less button.
QString panelString(int id)
{
    if (id >= IDC_PANEL_QUALITY_10 && id <= IDC_PANEL_QUALITY_90)
        return QStringLiteral("Qualität auf %1% einstellen").arg((id - IDC_PANEL_QUALITY_10 + 1) * 10);
    switch (id) {
    case IDC_PANEL_OPEN: return QStringLiteral("Öffnet ein Testbild");
    case IDC_PANEL_SIZE_SLIDER: return QStringLiteral("Mit diesem Regler wird die Grösse des Bildes eingestellt");
    case IDC_PANEL_SIZE: return QStringLiteral("Geben Sie hier die genaue Grösse Ihres Bilds ein");
    case IDC_PANEL_QUALITY: return QStringLiteral("Qualität in feineren Schritten einstellen");
    case IDC_PANEL_SAVE: return QStringLiteral("Speichert das Bild in der gewünschten Grösse");
    case IDC_PANEL_DIRECTORY: return QStringLiteral("Wandelt ein ganzes Verzeichnis in die gewünschte Grösse um");
    case IDC_PANEL_INFORMATION: return QStringLiteral("Grösse mit den jetzigen Einstellungen");
    case IDC_PANEL_SEND: return QStringLiteral("Versendet das Bild an einen E-Mail Empfänger");
    case IDC_PANEL_BRIGHTNESS: return QStringLiteral("Stellen Sie hier die gewünschte Helligkeit ein");
    case IDC_PANEL_CONTRAST: return QStringLiteral("Hier stellen Sie den Kontrast ein");
    case IDC_PANEL_RED: return QStringLiteral("Stellen Sie den Rotanteil des Bildes ein");
    case IDC_PANEL_GREEN: return QStringLiteral("Stellen Sie den Grünanteil des Bildes ein");
    case IDC_PANEL_BLUE: return QStringLiteral("Stellen Sie den Blauanteil des Bildes ein");
    case IDC_PANEL_GRAYSCALE: return QStringLiteral("Hier erzeugen Sie ein Schwarz/Weiss Bild");
    case IDC_PANEL_RESET: return QStringLiteral("Setzt die Erweiterungen zurück");
    case IDS_PANEL_TIP_MORE: return QStringLiteral("Schaltet zusätzliche Erweiterungen ein");
    case IDS_PANEL_TIP_LESS: return QStringLiteral("Schaltet Erweiterungen aus");
    case IDC_PANEL_RESOLUTION: return QStringLiteral("Stellen Sie hier die Auflösung ein");
    case IDC_PANEL_KEEP_EXIF:
        return QStringLiteral("Behält Aufnahmedatum, Kamera und Belichtung im Bild, nie den Aufnahmeort");
    case IDC_PANEL_MAX_KB:
        return QStringLiteral("Grösste Datei in Kb: die Qualität wird so weit wie nötig gesenkt (0 = aus)");
    case IDC_PANEL_SHRINK:
        return QStringLiteral("Verkleinert das Bild, statt die Qualität unter 50 zu senken");
    case IDC_PANEL_NO_ENLARGE:
        return QStringLiteral("Ein kleineres Bild behält seine Grösse");
    case IDC_PANEL_PROMOTION_1:
        return QStringLiteral("Pictavo ermöglicht mit einem Schiebschalter die schnelle Proportionale "
                              "Veränderung der Bildgröße. Ebenso einfach kann die Qualität des Bildes "
                              "eingestellt werden.");
    case IDC_PANEL_PROMOTION_2:
        return QStringLiteral("Pictavo wandelt auch ganze Verzeichnisse in einem Durchgang in die "
                              "gewünschte Grösse um.");
    case IDC_PANEL_PROMOTION_3:
        return QStringLiteral("Mit Pictavo versenden Sie Ihre Bilder direkt als Anhang einer E-Mail.");
    default: return {};
    }
}

// The integer a list entry begins with ("72 dpi" is 72); 0 when there is none.
int leadingInteger(const QString& text)
{
    const QString trimmed = text.trimmed();
    qsizetype end = 0;
    if (end < trimmed.size() && (trimmed[end] == u'-' || trimmed[end] == u'+'))
        ++end;
    while (end < trimmed.size() && trimmed[end].isDigit())
        ++end;
    return fieldInteger(trimmed.left(end));
}

// The panel's font, or a smaller one where the information text would not fit
// its field otherwise: every line on one row, all rows within the field.
QFont fittingFont(const QFont& base, const QStringList& lines, QSize box)
{
    QFont font = base;
    if (base.pointSizeF() <= 0)
        return font;
    for (qreal size = base.pointSizeF(); size >= 6.0; size -= 0.5) {
        font.setPointSizeF(size);
        const QFontMetricsF metrics(font);
        qreal widest = 0;
        for (const QString& line : lines)
            widest = std::max(widest, metrics.horizontalAdvance(line));
        // A little room for the text cursor at the end of a row.
        if (widest + 4 <= box.width() && metrics.lineSpacing() * lines.size() <= box.height())
            break;
    }
    return font;
}

} // namespace

CPanelDlg::CPanelDlg(QWidget* owner)
    : QDialog(owner), m_client(new QWidget(this)), m_units(font())
{
    setObjectName(QStringLiteral("CPanelDlg"));
    setProperty("id", IDD_PANEL);
    setWindowTitle(QStringLiteral("Schnellstart"));
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->setSpacing(0);
    frame->setSizeConstraint(QLayout::SetFixedSize);
    // The controls keep their places in dialog units; on a screen too small for
    // them (a high scale factor, say) the panel scrolls instead (fitToScreen).
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setWidget(m_client);
    frame->addWidget(m_scroll);
    m_client->setFixedSize(m_units.size(193, 276));
    fitToScreen();

    createControls();
    fitToText();
    connectControls();
    // Files dropped anywhere on the panel go to the main window; the fields take
    // no dropped text of their own.
    for (QWidget* control : m_client->findChildren<QWidget*>())
        control->setAcceptDrops(false);
    setAcceptDrops(true);
}

CPanelDlg::~CPanelDlg() = default;

void CPanelDlg::Attach(ConversionSession& session, const EffectHost& effects, QSettings& store)
{
    m_pSession = &session;
    m_pEffects = &effects;
    m_pStore = &store;
    connect(&session, &ConversionSession::settingsChanged, this, &CPanelDlg::showActiveChoices);
}

void CPanelDlg::InitControls()
{
    {
        // Only the user's moves of the thumb count as moves.
        const QSignalBlocker quiet(m_slSize);
        m_slSize->setRange(20, 2000);
        m_slSize->setPageStep((2000 - 20) / 5);
        m_slSize->setValue(m_pSession != nullptr ? m_pSession->settings().m_nTargetSize : 20);
    }
    m_cbResolution->clear();
    m_cbResolution->addItems({QStringLiteral("Automatisch"), QStringLiteral("72 dpi"),
                              QStringLiteral("96 dpi"), QStringLiteral("144 dpi")});
    m_cbResolution->setCurrentIndex(-1);
    m_cbRotation->clear();
    m_cbRotation->addItems({QStringLiteral("Normal"), QStringLiteral("Drehung 90°"),
                            QStringLiteral("Drehung 180°"), QStringLiteral("Drehung 270°")});
    m_cbRotation->setCurrentIndex(0);

    if (m_pSession != nullptr) {
        const ConversionSettings& settings = m_pSession->settings();
        // Each write applies its adjustment through the field's own handling.
        writeField(m_edRed, settings.m_nRed);
        writeField(m_edBlue, settings.m_nBlue);
        writeField(m_edGreen, settings.m_nGreen);
        writeField(m_edBrightness, settings.m_nBrightness);
        writeField(m_edContrast, settings.m_nContrast);
        m_chGrayscale->setChecked(settings.m_bGrayscale != 0);
        m_chKeepExif->setChecked(settings.m_bKeepExif != 0);
        m_edMaxKb->setText(QString::number(settings.m_nMaxKb));
        m_chShrink->setChecked(settings.m_bShrinkToFit != 0);
        m_chNoEnlarge->setChecked(settings.m_bNoEnlarge != 0);
        for (int index = 0; index < m_cbResolution->count(); ++index) {
            if (leadingInteger(m_cbResolution->itemText(index)) == settings.m_nDpi) {
                m_cbResolution->setCurrentIndex(index);
                break;
            }
        }
    }
    for (CSpinEdit* field : {m_edRed, m_edGreen, m_edBlue, m_edBrightness, m_edContrast})
        field->SetRange(-100, 100);
    if (m_pSession != nullptr) {
        writeField(m_edSize, m_pSession->settings().m_nTargetSize);
        writeField(m_edQuality, m_pSession->settings().m_nQuality);
    }
    LoadLayout();
    ShowQuality();

    m_btSave->LoadFaces(IDB_FACE_SAVE);
    m_btOpen->LoadFaces(IDB_FACE_OPEN);
    m_btSend->LoadFaces(IDB_FACE_SEND);
    m_btDirectory->LoadFaces(IDB_FACE_DIRECTORY);
    m_btMoreLess->LoadFaces(IDB_FACE_MORE);
    m_btReset->LoadFaces(IDB_FACE_RESET);
    m_client->setFixedWidth(m_grQuality->geometry().right() + 1 + m_grSize->x());
    refreshToolTips();
    fillEffects();
    fitLists();
    layout()->setMenuBar(m_menu);
    m_menu->show();
    if (QWindow* window = windowHandle())
        connect(window, &QWindow::screenChanged, this, &CPanelDlg::fitToScreen);
    ToggleExtended();
    ToggleExtended();
    // With its final size: a stored place where the panel would stick out of the
    // screen brings it back inside.
    keepOnScreen(frameGeometry());
}

void CPanelDlg::fillEffects()
{
    if (m_pEffects == nullptr || m_pEffects->plugins().empty()) {
        m_cbEffect->hide();
        m_grEffect->hide();
        return;
    }
    m_cbEffect->addItem(QStringLiteral("(ohne)"));
    m_cbEffect->addItems(m_pEffects->effectNames());
    m_cbEffect->setCurrentIndex(0);
}

void CPanelDlg::writeField(QLineEdit* field, int value)
{
    const QString text = QString::number(value);
    if (field->text() != text) {
        field->setText(text); // runs the handling through textChanged
        return;
    }
    onFieldChanged(field->property("id").toInt());
}

void CPanelDlg::onFieldChanged(int id)
{
    switch (id) {
    case IDC_PANEL_SIZE: onSizeChanged(); break;
    case IDC_PANEL_QUALITY: onQualityChanged(); break;
    default: onAdjustmentChanged(id); break;
    }
}

// The field follows the thumb, and the field's handling does the rest.
void CPanelDlg::onSizeSlider(int position)
{
    if (m_pSession != nullptr)
        writeField(m_edSize, position);
}

void CPanelDlg::onSizeChanged()
{
    if (m_pSession == nullptr)
        return;
    const int size = fieldInteger(m_edSize->text());
    {
        // Moving the thumb is no move of the user's.
        const QSignalBlocker quiet(m_slSize);
        m_slSize->setValue(size);
    }
    m_pSession->setSize(size);
}

void CPanelDlg::onQualityChanged()
{
    m_bEditingQuality = 1;
    SetQuality(fieldInteger(m_edQuality->text()));
    m_bEditingQuality = 0;
}

CSpinEdit* CPanelDlg::adjustmentField(int id) const
{
    switch (id) {
    case IDC_PANEL_BRIGHTNESS: return m_edBrightness;
    case IDC_PANEL_CONTRAST: return m_edContrast;
    case IDC_PANEL_RED: return m_edRed;
    case IDC_PANEL_GREEN: return m_edGreen;
    case IDC_PANEL_BLUE: return m_edBlue;
    default: return nullptr;
    }
}

void CPanelDlg::onAdjustmentChanged(int id)
{
    CSpinEdit* field = adjustmentField(id);
    if (m_pSession == nullptr || field == nullptr)
        return;
    using Adjustment = ConversionSession::Adjustment;
    const Adjustment which = id == IDC_PANEL_BRIGHTNESS ? Adjustment::Brightness
                             : id == IDC_PANEL_CONTRAST ? Adjustment::Contrast
                             : id == IDC_PANEL_RED      ? Adjustment::Red
                             : id == IDC_PANEL_GREEN    ? Adjustment::Green
                                                        : Adjustment::Blue;
    m_pSession->setAdjustment(which, fieldInteger(field->text()));
}

void CPanelDlg::onGrayscaleClicked(bool checked)
{
    if (m_pSession != nullptr)
        m_pSession->setGrayscale(checked);
}

void CPanelDlg::onKeepExifClicked(bool checked)
{
    if (m_pSession != nullptr)
        m_pSession->setKeepExif(checked);
}

void CPanelDlg::onMaxKbChanged()
{
    if (m_pSession == nullptr)
        return;
    const int limit = std::max(fieldInteger(m_edMaxKb->text()), 0);
    // Without a limit the buttons show the chosen quality again.
    if (limit == 0 && m_pSession->settings().m_nMaxKb != 0)
        showUsedQuality(m_pSession->settings().m_nQuality);
    m_pSession->setMaxKb(limit);
}

void CPanelDlg::showUsedQuality(int quality)
{
    if (quality <= 0)
        return;
    // Shown only: neither the buttons nor the field choose it.
    m_bEditingQuality = 1;
    showQuality(quality);
    m_bEditingQuality = 0;
    const QSignalBlocker quiet(m_edQuality);
    m_edQuality->setText(QString::number(quality));
}

void CPanelDlg::onReset()
{
    if (m_pSession == nullptr)
        return;
    // The fields are cleared without their handling; the session resets at once.
    for (CSpinEdit* field : {m_edBrightness, m_edContrast, m_edRed, m_edBlue, m_edGreen}) {
        const QSignalBlocker quiet(field);
        field->setText(QStringLiteral("0"));
    }
    m_chGrayscale->setChecked(false);
    m_pSession->resetAdjustments();
}

void CPanelDlg::onResolution(int index)
{
    if (m_pSession != nullptr && index >= 0)
        m_pSession->setDpi(leadingInteger(m_cbResolution->itemText(index)));
}

void CPanelDlg::onOrientation()
{
    if (m_pSession == nullptr)
        return;
    const int turn = std::max(m_cbRotation->currentIndex(), 0);
    m_pSession->setOrientation(turn + (m_chMirror->isChecked() ? 4 : 0));
}

void CPanelDlg::onEffect()
{
    if (m_pSession != nullptr)
        m_pSession->setEffect(m_cbEffect->currentIndex());
}

void CPanelDlg::SetQuality(int quality)
{
    if (m_pSession == nullptr) {
        showQuality(quality);
        return;
    }
    if (quality > 100)
        writeField(m_edQuality, 100);
    m_pSession->setQuality(quality);
    ShowQuality();
}

void CPanelDlg::ShowQuality()
{
    if (m_pSession != nullptr)
        showQuality(m_pSession->settings().m_nQuality);
}

void CPanelDlg::showQuality(int quality)
{
    const int tens = quality / 10;
    QRadioButton* chosen = tens >= 1 && tens <= 9 ? m_rbQuality[tens - 1] : nullptr;
    for (QRadioButton* radio : m_rbQuality) {
        if (radio != chosen && radio->isChecked()) {
            // An exclusive radio button cannot be unchecked by itself.
            radio->setAutoExclusive(false);
            radio->setChecked(false);
            radio->setAutoExclusive(true);
        }
    }
    if (chosen != nullptr)
        chosen->setChecked(true);
    // The nine buttons are one stop of the tab order, the checked one (or the
    // first); the cursor keys move between them.
    for (QRadioButton* radio : m_rbQuality) {
        const bool stop = radio == (chosen != nullptr ? chosen : m_rbQuality.front());
        radio->setFocusPolicy(stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
    if (m_bEditingQuality == 0)
        writeField(m_edQuality, quality);
}

void CPanelDlg::showInformation(const QString& text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_edInfo->setFont(fittingFont(font(), lines.split(u'\n'), m_edInfo->size()));
    m_edInfo->setPlainText(lines);
}

QString CPanelDlg::OnToolTipText(int id) const
{
    if (id == IDC_PANEL_MORE_LESS)
        return panelString(m_bCompact != 0 ? IDS_PANEL_TIP_MORE : IDS_PANEL_TIP_LESS);
    const bool hasTip = id == IDC_PANEL_OPEN || id == IDC_PANEL_SIZE_SLIDER || id == IDC_PANEL_SIZE
                        || (id >= IDC_PANEL_QUALITY && id <= IDC_PANEL_SEND)
                        || (id >= IDC_PANEL_BRIGHTNESS && id <= IDC_PANEL_RESET)
                        || (id >= IDC_PANEL_RESOLUTION && id <= IDC_PANEL_PROMOTION_3)
                        || (id >= IDC_PANEL_KEEP_EXIF && id <= IDC_PANEL_NO_ENLARGE);
    return hasTip ? panelString(id) : QString();
}

void CPanelDlg::refreshToolTips()
{
    for (QWidget* control : m_client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        bool isControl = false;
        const int id = control->property("id").toInt(&isControl);
        if (isControl && id != IDC_PANEL_STATIC)
            control->setToolTip(OnToolTipText(id));
    }
}

void CPanelDlg::reject()
{
    if (m_pSession != nullptr)
        emit quitRequested();
}

void CPanelDlg::accept() {}

void CPanelDlg::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_pSession != nullptr && event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CPanelDlg::dragMoveEvent(QDragMoveEvent* event)
{
    if (m_pSession != nullptr && event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CPanelDlg::dropEvent(QDropEvent* event)
{
    if (m_pSession == nullptr || !event->mimeData()->hasUrls())
        return;
    event->acceptProposedAction();
    emit filesDropped(event->mimeData()->urls());
}
