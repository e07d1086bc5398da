// The control panel's controls: made at the places of its template, fitted to
// their texts and connected to the panel's handling.
#include "CPanelDlg.h"

#include "session/ConversionSession.h"

#include "ActiveChoices.h"
#include "CFaceButton.h"
#include "CSpinEdit.h"
#include "ScreenFit.h"
#include "resource.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QUrl>

#include <algorithm>

namespace {

// The pages the hidden promotion buttons 1057 to 1059 open.
constexpr std::array<const char*, 3> kPromotionPages = {
    "https://www.orvendel.example/pictavo/",
    "https://www.orvendel.example/pictavo/verzeichnisse/",
    "https://www.orvendel.example/pictavo/versenden/",
};

} // namespace

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
