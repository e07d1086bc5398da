#include "CFolderDlg.h"

#include "CFolderPicker.h"
#include "DialogUnits.h"
#include "imaging/NativeNames.h"
#include "resource.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>

namespace {

// A text control keeps its template place but grows to show its whole text in
// the platform's font, which is wider than the template's.
template <typename Control> Control* labelled(Control* control)
{
    control->resize(std::max(control->width(), control->sizeHint().width()), control->height());
    return control;
}

QLineEdit* readOnly(QLineEdit* field)
{
    field->setReadOnly(true);
    return field;
}

} // namespace

CFolderDlg::CFolderDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CFolderDlg"));
    setProperty("id", IDD_FOLDER_DIALOG);
    setWindowTitle(QStringLiteral("Verzeichnis umwandeln"));
    createControls();
    setFixedSize(DialogUnits(font()).size(411, 252));
}

void CFolderDlg::createControls()
{
    const DialogUnits units(font());
    auto* ok = units.place(new QPushButton(QStringLiteral("OK"), this), IDOK, 147, 231, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CFolderDlg::accept);
    auto* cancel =
        units.place(new QPushButton(QStringLiteral("Abbrechen"), this), IDCANCEL, 213, 231, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &CFolderDlg::reject);

    m_wndSourceLabel = labelled(
        units.place(new QLabel(QStringLiteral("Quell Verzeichnis"), this), 0, 7, 7, 55, 8));
    labelled(units.place(new QLabel(QStringLiteral("Ziel Verzeichnis"), this), 0, 211, 7, 50, 8));
    m_wndSourcePath =
        readOnly(units.place(new QLineEdit(this), IDC_FOLDER_SOURCE_PATH, 7, 20, 193, 12));
    m_wndDestPath =
        readOnly(units.place(new QLineEdit(this), IDC_FOLDER_DEST_PATH, 211, 20, 193, 12));
    m_wndSourcePicker = units.place(new CFolderPicker(IDC_FOLDER_SOURCE_TREE, this),
                                    IDC_FOLDER_SOURCE_TREE, 7, 39, 193, 155);
    m_wndDestPicker = units.place(new CFolderPicker(IDC_FOLDER_DEST_TREE, this),
                                  IDC_FOLDER_DEST_TREE, 211, 39, 193, 155);
    // Settings the user may have forgotten (a turn, a mirror) are named here.
    m_wndSettings = units.place(new QLabel(this), IDC_FOLDER_SETTINGS, 7, 196, 397, 8);
    m_wndAskEachFile =
        labelled(units.place(new QCheckBox(QStringLiteral("Rückfrage beim Umwandeln"), this),
                             IDC_FOLDER_ASK_EACH_FILE, 7, 206, 105, 10));
    m_wndMailAfter =
        labelled(units.place(new QCheckBox(QStringLiteral("Bilder per Mail versenden"), this),
                             IDC_FOLDER_MAIL_AFTER, 211, 206, 95, 10));
}

void CFolderDlg::showEvent(QShowEvent* event)
{
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CFolderDlg::OnInitDialog()
{
    m_wndAskEachFile->setChecked(m_bAskEachFile != 0);
    m_wndMailAfter->setChecked(m_bMailAfter != 0);
    m_wndSourcePath->setText(m_strSourceDir);
    m_wndDestPath->setText(m_strDestDir);
    m_wndSettings->setText(m_strSettings);
    m_wndSettings->setToolTip(m_strSettings);
    // The owners are set after the presets, so presetting reports nothing.
    if (m_sourceFiles.isEmpty()) {
        m_wndSourcePicker->SetPath(m_strSourceDir);
        m_wndSourcePicker->setOwner(this);
    } else {
        showSourceFiles();
    }
    m_wndDestPicker->SetPath(m_strDestDir);
    m_wndDestPicker->setOwner(this);
}

void CFolderDlg::showSourceFiles()
{
    setWindowTitle(QStringLiteral("Bilder umwandeln"));
    m_wndSourceLabel->setText(QStringLiteral("Quell Dateien"));
    m_wndSourceLabel->resize(
        std::max(m_wndSourceLabel->width(), m_wndSourceLabel->sizeHint().width()),
        m_wndSourceLabel->height());
    m_wndSourcePath->setText(m_sourceFiles.size() == 1
                                 ? QStringLiteral("1 Datei")
                                 : QStringLiteral("%1 Dateien").arg(m_sourceFiles.size()));
    auto* list = new QListWidget(this);
    list->setObjectName(QStringLiteral("SourceFiles"));
    list->setGeometry(m_wndSourcePicker->geometry());
    list->setSelectionMode(QAbstractItemView::NoSelection);
    for (const QString& file : std::as_const(m_sourceFiles))
        list->addItem(shownName(QDir::toNativeSeparators(file)));
    m_wndSourcePicker->hide();
    list->show();
}

int CFolderDlg::OnFolderSelected(int controlId, const QString& path)
{
    if (controlId == IDC_FOLDER_SOURCE_TREE)
        m_wndSourcePath->setText(path);
    else if (controlId == IDC_FOLDER_DEST_TREE)
        m_wndDestPath->setText(path);
    return 1;
}

bool CFolderDlg::event(QEvent* event)
{
    if (event->type() == FolderSelectedEvent::kType) {
        const auto* selected = static_cast<FolderSelectedEvent*>(event);
        event->setAccepted(OnFolderSelected(selected->controlId(), selected->path()) == 1);
        return true;
    }
    return QDialog::event(event);
}

void CFolderDlg::accept()
{
    m_bAskEachFile = m_wndAskEachFile->isChecked() ? 1 : 0;
    m_bMailAfter = m_wndMailAfter->isChecked() ? 1 : 0;
    if (m_sourceFiles.isEmpty())
        m_strSourceDir = m_wndSourcePath->text();
    m_strDestDir = m_wndDestPath->text();
    QDialog::accept();
}
