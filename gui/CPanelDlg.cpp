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

// Pixels between the panel's lowest control and its bottom edge.
constexpr int kBottomMargin = 20;

// The pages the hidden promotion buttons 1057 to 1059 open.
constexpr std::array<const char*, 3> kPromotionPages = {
    "https://www.orvendel.example/pictavo/",
    "https://www.orvendel.example/pictavo/verzeichnisse/",
    "https://www.orvendel.example/pictavo/versenden/",
};

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
        return QStringLiteral("Verkleinert das Bild, wenn es auch mit Qualität 1 zu gross bleibt");
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

WindowEdges edgesOf(const QRect& rect)
{
    return WindowEdges{rect.top(), rect.left(), rect.left() + rect.width(), rect.top() + rect.height()};
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

CFaceButton* CPanelDlg::faceButton(int id, const char* text, int x, int y, int width, int height)
{
    auto* button = m_units.place(new CFaceButton(m_client), id, x, y, width, height);
    button->setText(QString::fromUtf8(text));
    return button;
}

QGroupBox* CPanelDlg::group(int id, const QString& title, int x, int y, int width, int height)
{
    auto* box = m_units.place(new QGroupBox(title, m_client), id, x, y, width, height);
    // A frame only: clicks go to the controls inside it.
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
    return box;
}

CSpinEdit* CPanelDlg::spinEdit(int id, int x, int y)
{
    return m_units.place(new CSpinEdit(m_client), id, x, y, 40, 14);
}

QComboBox* CPanelDlg::dropDownList(int id, int x, int y, int width, int height)
{
    // The template's height is that of the open list; fitLists() gives the
    // closed one the height its font needs once the entries are in.
    auto* list = m_units.place(new QComboBox(m_client), id, x, y, width, height);
    list->setMaxVisibleItems(8);
    return list;
}

// The controls in the order of the template, which is also their tab order.
void CPanelDlg::createControls()
{
    m_btOpen = faceButton(IDC_PANEL_OPEN, "Open", 7, 7, 18, 14);
    m_btSave = faceButton(IDC_PANEL_SAVE, "Speichern", 28, 7, 18, 14);
    m_btDirectory = faceButton(IDC_PANEL_DIRECTORY, "Verzeichnis erstellen", 49, 7, 18, 14);
    m_btSend = faceButton(IDC_PANEL_SEND, "Senden", 93, 7, 18, 14);
    m_btReset = faceButton(IDC_PANEL_RESET, "reset", 117, 7, 18, 14);

    m_edInfo = m_units.place(new QPlainTextEdit(m_client), IDC_PANEL_INFORMATION, 7, 25, 105, 29);
    m_edInfo->setReadOnly(true);
    m_edInfo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_edInfo->setFrameShape(QFrame::NoFrame);
    m_edInfo->setTabChangesFocus(true);
    m_edInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_edInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_edInfo->document()->setDocumentMargin(0);
    QPalette info = m_edInfo->palette();
    info.setColor(QPalette::Base, info.color(QPalette::Window));
    m_edInfo->setPalette(info);

    m_grSize = group(IDC_PANEL_SIZE_GROUP, QStringLiteral("Grösse"), 7, 58, 39, 151);
    m_slSize =
        m_units.place(new QSlider(Qt::Vertical, m_client), IDC_PANEL_SIZE_SLIDER, 17, 68, 19, 115);
    m_slSize->setAccessibleName(QStringLiteral("Grösse"));
    m_slSize->setTickPosition(QSlider::NoTicks);
    // The smallest size at the top; the up key moves the thumb up.
    m_slSize->setInvertedAppearance(true);
    m_slSize->setInvertedControls(true);
    m_edSize = m_units.place(new QLineEdit(m_client), IDC_PANEL_SIZE, 13, 188, 27, 14);
    m_edSize->setAlignment(Qt::AlignCenter);

    const std::array<const char*, 3> promotion = {"W1", "Werbung 2", "Werbung 3"};
    const std::array<QRect, 3> promotionPlace = {QRect(49, 67, 12, 14), QRect(48, 89, 9, 14),
                                                 QRect(50, 110, 7, 14)};
    for (std::size_t k = 0; k < promotion.size(); ++k) {
        const QRect at = promotionPlace[k];
        m_btPromotion[k] =
            m_units.place(new QPushButton(QString::fromUtf8(promotion[k]), m_client),
                          IDC_PANEL_PROMOTION_1 + int(k), at.x(), at.y(), at.width(), at.height());
        m_btPromotion[k]->setAutoDefault(false);
        m_btPromotion[k]->hide();
    }

    m_grQuality = group(IDC_PANEL_QUALITY_GROUP, QStringLiteral("Qualität"), 62, 58, 42, 151);
    for (int k = 0; k < int(m_rbQuality.size()); ++k) {
        m_rbQuality[k] =
            m_units.place(new QRadioButton(QStringLiteral("%1%").arg((k + 1) * 10), m_client),
                          IDC_PANEL_QUALITY_10 + k, 69, 76 + 12 * k, 26, 10);
    }
    m_edQuality = m_units.place(new QLineEdit(m_client), IDC_PANEL_QUALITY, 67, 188, 31, 14);
    m_edQuality->setAlignment(Qt::AlignCenter);

    createAdjustmentColumn();

    m_chMirror = m_units.place(new QCheckBox(QStringLiteral("Spiegeln"), m_client),
                               IDC_PANEL_MIRROR, 7, 216, 43, 10);
    m_grEffect = group(IDC_PANEL_EFFECT_GROUP, QStringLiteral("Effekte"), 113, 238, 73, 31);
    m_cbEffect = dropDownList(IDC_PANEL_EFFECT, 119, 247, 60, 67);
    m_btMoreLess = faceButton(IDC_PANEL_MORE_LESS, "Button1", 61, 240, 50, 16);
    m_chKeepExif = m_units.place(new QCheckBox(QStringLiteral("Aufnahmedaten behalten"), m_client),
                                 IDC_PANEL_KEEP_EXIF, 7, 260, 100, 10);
    createLimitRows();

    // The information text is as wide as the compact panel allows.
    const int infoRight = m_grQuality->geometry().right();
    m_edInfo->resize(std::min(m_edInfo->width(), infoRight + 1 - m_edInfo->x()), m_edInfo->height());
    createMenu();
}

// The size limit and the choices about the picture's size, below the capture data.
void CPanelDlg::createLimitRows()
{
    auto* before = m_units.place(new QLabel(QStringLiteral("Höchstens"), m_client), IDC_PANEL_STATIC,
                                 7, 276, 36, 8);
    m_edMaxKb = m_units.place(new QLineEdit(m_client), IDC_PANEL_MAX_KB, 44, 273, 30, 14);
    m_edMaxKb->setAlignment(Qt::AlignCenter);
    m_edMaxKb->setValidator(new QIntValidator(0, 999999, m_edMaxKb));
    before->setBuddy(m_edMaxKb);
    auto* after = m_units.place(new QLabel(QStringLiteral("Kb"), m_client), IDC_PANEL_STATIC, 77, 276, 14, 8);
    m_chShrink = m_units.place(new QCheckBox(QStringLiteral("notfalls verkleinern"), m_client),
                               IDC_PANEL_SHRINK, 7, 290, 100, 10);
    m_chNoEnlarge = m_units.place(new QCheckBox(QStringLiteral("Nie vergrössern"), m_client),
                                  IDC_PANEL_NO_ENLARGE, 7, 302, 100, 10);
    m_belowCompact = {m_chKeepExif, before, m_edMaxKb, after, m_chShrink, m_chNoEnlarge};
    m_lbActive = createActiveChoicesLine(m_units, m_client);
}

// Brightness, contrast, colour shares, black and white, resolution and rotation.
void CPanelDlg::createAdjustmentColumn()
{
    const auto label = [this](const QString& text, int x, int y, int width) {
        return m_units.place(new QLabel(text, m_client), IDC_PANEL_STATIC, x, y, width, 8);
    };
    group(IDC_PANEL_STATIC, QStringLiteral("Helligkeit"), 113, 23, 73, 29);
    m_edBrightness = spinEdit(IDC_PANEL_BRIGHTNESS, 123, 33);
    group(IDC_PANEL_STATIC, QStringLiteral("Kontrast"), 113, 52, 73, 29);
    m_edContrast = spinEdit(IDC_PANEL_CONTRAST, 123, 64);
    m_grColour = group(IDC_PANEL_COLOUR_GROUP, QStringLiteral("Farbeinstellung"), 113, 83, 73, 80);
    QLabel* red = label(QStringLiteral("Rot"), 123, 92, 12);
    m_edRed = spinEdit(IDC_PANEL_RED, 123, 100);
    red->setBuddy(m_edRed);
    QLabel* green = label(QStringLiteral("Grün"), 123, 114, 16);
    m_edGreen = spinEdit(IDC_PANEL_GREEN, 123, 122);
    green->setBuddy(m_edGreen);
    QLabel* blue = label(QStringLiteral("Blau"), 123, 137, 15);
    m_edBlue = spinEdit(IDC_PANEL_BLUE, 123, 145);
    blue->setBuddy(m_edBlue);
    m_chGrayscale = m_units.place(new QCheckBox(QStringLiteral("Schwarzweis"), m_client),
                                  IDC_PANEL_GRAYSCALE, 123, 164, 57, 10);
    group(IDC_PANEL_STATIC, QStringLiteral("Auflösung"), 113, 174, 73, 31);
    m_cbResolution = dropDownList(IDC_PANEL_RESOLUTION, 119, 186, 48, 70);
    group(IDC_PANEL_STATIC, QStringLiteral("Drehen"), 113, 204, 73, 31);
    m_cbRotation = dropDownList(IDC_PANEL_ROTATION, 119, 215, 60, 67);
}

void CPanelDlg::createMenu()
{
    m_menu = new QMenuBar(this);
    // The keys stand beside the entries; the main window takes the same actions
    // (keyedCommands), so they work whichever of the two windows has the focus.
    const auto command = [this](QMenu* menu, const QString& text, int id, const QKeySequence& keys,
                                auto slot) {
        QAction* action = menu->addAction(text);
        action->setProperty("id", id);
        if (!keys.isEmpty()) {
            action->setShortcut(keys);
            m_keyedCommands << action;
        }
        connect(action, &QAction::triggered, this, slot);
    };
    QMenu* file = m_menu->addMenu(QStringLiteral("&Datei"));
    command(file, QStringLiteral("Ö&ffnen"), ID_OPEN, Qt::CTRL | Qt::Key_O,
            &CPanelDlg::openRequested);
    command(file, QStringLiteral("&Speichern unter"), ID_SAVE_AS, Qt::CTRL | Qt::Key_S,
            &CPanelDlg::saveAsRequested);
    file->addSeparator();
    command(file, QStringLiteral("&Versenden per Mail"), ID_SEND_MAIL, Qt::CTRL | Qt::Key_M,
            &CPanelDlg::sendMailRequested);
    file->addSeparator();
    command(file, QStringLiteral("&Ganzes Verzeichnis umwandeln"), ID_CONVERT_DIRECTORY,
            Qt::CTRL | Qt::Key_D, &CPanelDlg::convertDirectoryRequested);
    file->addSeparator();
    command(file, QStringLiteral("&Beenden"), IDCANCEL, Qt::CTRL | Qt::Key_Q, [this] { reject(); });
    QMenu* options = m_menu->addMenu(QStringLiteral("&Optionen"));
    command(options, QStringLiteral("&Maileinstellung"), ID_MAIL_SETUP, QKeySequence(),
            &CPanelDlg::mailSetupRequested);
    QMenu* help = m_menu->addMenu(QStringLiteral("&?"));
    command(help, QStringLiteral("Inf&o über Pictavo..."), ID_APP_ABOUT, Qt::Key_F1,
            &CPanelDlg::aboutRequested);
    m_menu->hide();
}

// Texts must not be cut off in whatever font the platform gives the panel:
// labels, check boxes and radio buttons grow to their text where the template
// is too small for it.
void CPanelDlg::fitToText()
{
    QList<QWidget*> texts;
    for (QLabel* label : m_client->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        texts << label;
    for (QAbstractButton* button : m_client->findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
        if (qobject_cast<QCheckBox*>(button) != nullptr || qobject_cast<QRadioButton*>(button) != nullptr)
            texts << button;
    }
    for (QWidget* text : texts) {
        const QSize needed = text->sizeHint();
        text->resize(std::max(text->width(), needed.width()), std::max(text->height(), needed.height()));
    }
}

// The drop-down lists grow to their longest entry. Where the right column is too
// narrow for that, its groups grow with them, and with the groups the extended
// panel.
void CPanelDlg::fitLists()
{
    const int innerRight = m_grColour->geometry().right() + 1 - m_units.x(2);
    int missing = 0;
    for (QComboBox* list : {m_cbResolution, m_cbRotation, m_cbEffect}) {
        const QSize wanted = list->sizeHint();
        list->resize(std::max(list->width(), wanted.width()), wanted.height());
        missing = std::max(missing, list->geometry().right() + 1 - innerRight);
    }
    if (missing <= 0)
        return;
    for (QGroupBox* group : m_client->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly)) {
        if (group->x() == m_grColour->x())
            group->resize(group->width() + missing, group->height());
    }
}

void CPanelDlg::connectControls()
{
    connect(m_slSize, &QSlider::valueChanged, this, &CPanelDlg::onSizeSlider);
    for (QLineEdit* field : {m_edSize, m_edQuality, static_cast<QLineEdit*>(m_edBrightness),
                             static_cast<QLineEdit*>(m_edContrast), static_cast<QLineEdit*>(m_edRed),
                             static_cast<QLineEdit*>(m_edGreen), static_cast<QLineEdit*>(m_edBlue)}) {
        const int id = field->property("id").toInt();
        connect(field, &QLineEdit::textChanged, this, [this, id] { onFieldChanged(id); });
    }
    for (int k = 0; k < int(m_rbQuality.size()); ++k)
        connect(m_rbQuality[k], &QRadioButton::clicked, this, [this, k] { SetQuality((k + 1) * 10); });
    connect(m_chGrayscale, &QCheckBox::clicked, this, &CPanelDlg::onGrayscaleClicked);
    connect(m_chKeepExif, &QCheckBox::clicked, this, &CPanelDlg::onKeepExifClicked);
    connect(m_edMaxKb, &QLineEdit::editingFinished, this, &CPanelDlg::onMaxKbChanged);
    connect(m_chShrink, &QCheckBox::clicked, this, [this](bool checked) {
        if (m_pSession != nullptr)
            m_pSession->setShrinkToFit(checked);
    });
    connect(m_chNoEnlarge, &QCheckBox::clicked, this, [this](bool checked) {
        if (m_pSession != nullptr)
            m_pSession->setNoEnlarge(checked);
    });
    connect(m_btReset, &CFaceButton::clicked, this, &CPanelDlg::onReset);
    connect(m_cbResolution, &QComboBox::activated, this, &CPanelDlg::onResolution);
    connect(m_cbRotation, &QComboBox::activated, this, &CPanelDlg::onOrientation);
    connect(m_chMirror, &QCheckBox::clicked, this, &CPanelDlg::onOrientation);
    connect(m_cbEffect, &QComboBox::activated, this, &CPanelDlg::onEffect);
    connect(m_btOpen, &CFaceButton::clicked, this, &CPanelDlg::openRequested);
    connect(m_btSave, &CFaceButton::clicked, this, &CPanelDlg::saveAsRequested);
    connect(m_btDirectory, &CFaceButton::clicked, this, &CPanelDlg::convertDirectoryRequested);
    connect(m_btSend, &CFaceButton::clicked, this, &CPanelDlg::sendMailRequested);
    for (std::size_t k = 0; k < m_btPromotion.size(); ++k) {
        connect(m_btPromotion[k], &QPushButton::clicked, this, [k] {
            QDesktopServices::openUrl(QUrl(QString::fromLatin1(kPromotionPages[k])));
        });
    }
    connect(m_btMoreLess, &CFaceButton::clicked, this, &CPanelDlg::ToggleExtended);
}

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
