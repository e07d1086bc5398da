#include "CImageDlg.h"

#include "CConfirmDlg.h"
#include "CFolderDlg.h"
#include "mail/MailHandOff.h"
#include "mail/MailSplit.h"
#include "imaging/SettingsSummary.h"
#include "CMailSetupDlg.h"
#include "CPanelDlg.h"
#include "program/CommandLine.h"
#include "DialogUnits.h"
#include "program/DroppedFiles.h"
#include "imaging/NativeNames.h"
#include "imaging/NativePaths.h"
#include "imaging/PictureFormats.h"
#include "ImageView.h"
#include "MailCopy.h"
#include "MessageSink.h"
#include "program/SaveAsName.h"
#include "program/SettingsStore.h"
#include "program/TemporaryFolder.h"
#include "CompareView.h"
#include "ViewGeometry.h"
#include "ViewOptions.h"
#include "program/WindowPlacement.h"
#include "resource.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QWindow>

#include <utility>

namespace {

constexpr char kSaveFilter[] = "Bilder (*.jpg)";

// The path of `picture` as the open and save dialogs propose it: the file itself
// when it exists (relative paths against the current folder), else empty.
QString existingPicturePath(const QString& picture)
{
    if (picture.isEmpty())
        return {};
    const QFileInfo info(picture);
    if (info.isFile())
        return info.absoluteFilePath();
    return {};
}

// Smallest stored window that is still usable: the view and its scroll bars fit.
constexpr QSize kMinimumWindowSize(160, 120);

const QString kCaption = QStringLiteral("Pictavo");

QSize screenSize()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->size() : QSize(1024, 768);
}

} // namespace

CImageDlg::CImageDlg(std::unique_ptr<QSettings> store, QWidget* parent)
    : QDialog(parent, Qt::Window), m_store(std::move(store))
{
    setObjectName(QStringLiteral("CImageDlg"));
    setProperty("id", IDD_IMAGE_DIALOG);
    setWindowTitle(QStringLiteral("Ansicht"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/pictavo.png")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);

    m_session = std::make_unique<ConversionSession>(*m_store, &m_effects);
    connectSession();
    const QSize screen = screenSize();
    settings().m_nTargetSize = screen.width();
    settings().m_nTargetOther = screen.height();
    settings().m_nQuality = 70;
    settings().m_nDpi = 90;
    values().m_strMailSubject = QStringLiteral("Beiliegend Ihre Bilder");
    values().m_strMailText = QStringLiteral("In der Beilage erhalten Sie die gewünschten Bilder");
    values().m_strDestDir = QStringLiteral("TEMP");
    values().m_strSourceDir = QDir::currentPath().left(1024);
    m_confirm = std::make_unique<CConfirmDlg>();
    connectBatch();

    connect(m_session.get(), &ConversionSession::mailSent, this,
            [this](const CMapiMailer::SendResult& result) {
                if (result.noMailClient)
                    offerMailFolder(result);
                else if (!result.message.isEmpty())
                    showMessage(result.message, kCaption, MessageIcon::None);
            });
    createControls();
    resize(DialogUnits(font()).size(468, 270));
    setAcceptDrops(true);
}

CImageDlg::~CImageDlg()
{
    shutdown();
    if (m_commandLineThread != nullptr) {
        m_commandLineThread->wait();
        delete m_commandLineThread;
    }
}

void CImageDlg::createControls()
{
    // At the template's places until the first layout.
    const DialogUnits units(font());
    m_wndView = units.place(new ImageView(this), IDC_VIEW, 7, 50, 431, 184);
    m_wndView->setPainter([this](QPainter& painter, const QRect& item) {
        updateScrollBars();
        DrawView(painter, item);
    });
    connect(m_wndView, &ImageView::scrollRequested, this, &CImageDlg::scrollView);
    connect(m_wndView, &ImageView::zoomRequested, this, &CImageDlg::zoomView);
    connect(m_wndView, &ImageView::dividerDragged, this, &CImageDlg::moveDivider);
    m_viewOptions = new ViewOptions(this);
    connect(m_viewOptions, &ViewOptions::changed, m_wndView, qOverload<>(&QWidget::update));
    connect(m_viewOptions, &ViewOptions::zoomRequested, this, [this](int notches) {
        zoomView(notches, QRect(QPoint(), viewDeviceSize()).center());
    });

    m_wndScrollH = units.place(new QScrollBar(Qt::Horizontal, this), IDC_SCROLL_H, 7, 249, 352, 14);
    m_wndScrollV = units.place(new QScrollBar(Qt::Vertical, this), IDC_SCROLL_V, 441, 51, 20, 156);
    for (QScrollBar* bar : {m_wndScrollH, m_wndScrollV}) {
        bar->setRange(0, 0);
        bar->setSingleStep(10);
        bar->hide();
        connect(bar, &QAbstractSlider::actionTriggered, this, [this, bar](int action) {
            scrollBy(bar, bar == m_wndScrollH ? m_nScrollX : m_nScrollY, action);
        });
    }
}

void CImageDlg::OnInitDialog()
{
    settings().m_nOrientation = 0;
    settings().m_nEffect = 0;
    m_effects.LoadEffectPlugin();
    MailHandOff::removeStaleCopies();
    LoadSettings();
    ShowCurrentPicture();
    createPanel();
    startCommandLine();
    m_nScrollX = 0;
    m_nScrollY = 0;
    layoutControls();
}

void CImageDlg::createPanel()
{
    // This window's own native window first, so that the panel names it as its
    // owner to the window manager from the start.
    winId();
    m_panel = std::make_unique<CPanelDlg>(this);
    CPanelDlg* panel = m_panel.get();
    // Like a dialog of the platform that defined the template: at the top left
    // of its owner's inside until a stored place says otherwise.
    panel->move(geometry().topLeft());
    panel->Attach(*m_session, m_effects, *m_store);
    addActions(panel->keyedCommands());
    connect(this, &CImageDlg::informationChanged, panel, &CPanelDlg::showInformation);
    connect(this, &CImageDlg::qualityUsed, panel, &CPanelDlg::showUsedQuality);
    connect(this, &CImageDlg::aboutToSaveSettings, panel, &CPanelDlg::SaveLayout);
    connect(panel, &CPanelDlg::openRequested, this, &CImageDlg::OnOpen);
    connect(panel, &CPanelDlg::saveAsRequested, this, &CImageDlg::OnSaveAs);
    connect(panel, &CPanelDlg::convertDirectoryRequested, this, &CImageDlg::OnConvertDirectory);
    connect(panel, &CPanelDlg::sendMailRequested, this, &CImageDlg::OnSendMail);
    connect(panel, &CPanelDlg::mailSetupRequested, this, &CImageDlg::OnMailSetup);
    connect(panel, &CPanelDlg::aboutRequested, this, &CImageDlg::OnAppAbout);
    connect(panel, &CPanelDlg::quitRequested, this, &CImageDlg::reject);
    connect(panel, &CPanelDlg::filesDropped, this, &CImageDlg::OnDropFiles);
    panel->InitControls();
    showPanelWhenMapped();
}

// A tool window shown before its owner is on the screen may be stacked below the
// owner by the window manager; the panel therefore follows once the window
// system has mapped this window and shows it (its first exposure).
void CImageDlg::showPanelWhenMapped()
{
    if (windowHandle() != nullptr && windowHandle()->isExposed()) {
        m_panel->show();
        return;
    }
    m_panelWaitsForOwner = true;
    if (windowHandle() != nullptr)
        windowHandle()->installEventFilter(this);
}

bool CImageDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (m_panelWaitsForOwner && watched == windowHandle() && event->type() == QEvent::Expose &&
        windowHandle()->isExposed() && m_panel) {
        m_panelWaitsForOwner = false;
        windowHandle()->removeEventFilter(this);
        m_panel->show();
    }
    return QDialog::eventFilter(watched, event);
}

void CImageDlg::startCommandLine()
{
    if (m_commandLine.isEmpty())
        return;
    m_commandLineThread = QThread::create([this] { OnCommandLine(); });
    m_commandLineThread->start(QThread::LowPriority);
}

void CImageDlg::setCommandLine(const QStringList& arguments, const QString& startDirectory)
{
    m_commandLine = arguments;
    m_startDirectory = startDirectory;
}

void CImageDlg::LoadSettings()
{
    const MainWindowSettings stored =
        withinRanges(readMainWindowSettings(*m_store, mainWindowDefaults(screenSize())));
    settings().m_nTargetSize = stored.m_nTargetSize;
    settings().m_nTargetOther = stored.m_nTargetOther;
    settings().m_nQuality = stored.m_nQuality;
    setCurrentPicture(stored.m_strPicture);
    values().m_strSourceDir = stored.m_strSourceDir;
    values().m_strMailSubject = stored.m_strMailSubject;
    values().m_strMailText = stored.m_strMailText;
    values().m_strDestDir = stored.m_strDestDir;
    values().m_bMailAfter = stored.m_bMailAfter;
    values().m_bAskEachFile = stored.m_bAskEachFile;
    settings().m_bKeepExif = stored.m_bKeepExif;
    settings().m_nMaxKb = std::max(stored.m_nMaxKb, 0);
    settings().m_bShrinkToFit = stored.m_bShrinkToFit;
    settings().m_bNoEnlarge = stored.m_bNoEnlarge;
    values().m_nMaxMailMb = std::max(stored.m_nMaxMailMb, 0);
    m_viewOptions->load(*m_store);
    // The stored rectangle holds the window's place and the size of its inside,
    // so that it comes back exactly as it was: when it is usable as a whole and
    // lies at least partly on a screen.
    const WindowEdges standard = defaultMainWindowEdges(screenSize());
    const QRect fallback(standard.left, standard.top, int(standard.width()), int(standard.height()));
    const QRect rect = placedWindowRect(stored.m_rcWindow, fallback, kMinimumWindowSize,
                                        availableScreenAreas());
    move(rect.topLeft());
    resize(rect.size());
}

void CImageDlg::SaveSettings()
{
    MainWindowSettings stored;
    stored.m_nTargetSize = settings().m_nTargetSize;
    stored.m_nTargetOther = settings().m_nTargetOther;
    stored.m_nQuality = settings().m_nQuality;
    stored.m_strPicture = currentPicture();
    stored.m_strSourceDir = values().m_strSourceDir;
    stored.m_strMailSubject = values().m_strMailSubject;
    stored.m_strMailText = values().m_strMailText;
    stored.m_strDestDir = values().m_strDestDir;
    stored.m_bMailAfter = values().m_bMailAfter;
    stored.m_bAskEachFile = values().m_bAskEachFile;
    stored.m_bKeepExif = settings().m_bKeepExif;
    stored.m_nMaxKb = settings().m_nMaxKb;
    stored.m_bShrinkToFit = settings().m_bShrinkToFit;
    stored.m_bNoEnlarge = settings().m_bNoEnlarge;
    stored.m_nMaxMailMb = values().m_nMaxMailMb;
    const QPoint place = pos();
    stored.m_rcWindow = WindowEdges{place.y(), place.x(), place.x() + width(), place.y() + height()};
    writeMainWindowSettings(*m_store, stored);
    m_viewOptions->save(*m_store);
    m_store->sync();
}

quint64 CImageDlg::post(ConversionKind kind, const QString& source, const QString& outputPath)
{
    return m_session->post(kind, source, outputPath);
}

// The session's news reach the widgets here.
void CImageDlg::connectSession()
{
    connect(m_session.get(), &ConversionSession::shownChanged, this, [this] {
        if (m_wndView != nullptr)
            m_wndView->update();
    });
    connect(m_session.get(), &ConversionSession::titleChanged, this, &QWidget::setWindowTitle);
    connect(m_session.get(), &ConversionSession::informationChanged, this,
            &CImageDlg::informationChanged);
    connect(m_session.get(), &ConversionSession::qualityUsed, this, &CImageDlg::qualityUsed);
    connect(m_session.get(), &ConversionSession::message, this,
            [](const QString& text, const QString& caption, MessageIcon icon) {
                showMessage(text, caption, icon);
            });
    connect(m_session.get(), &ConversionSession::conversionApplied, this,
            &CImageDlg::conversionApplied);

}

void CImageDlg::OpenPicture(const QString& path)
{
    m_session->openPicture(path);
}

void CImageDlg::ShowCurrentPicture()
{
    m_session->showCurrentPicture();
}

void CImageDlg::Update(int value, UpdateKind kind)
{
    m_session->update(value, kind);
}

void CImageDlg::SetTargetSize(int size)
{
    m_session->setTargetSize(size);
}

void CImageDlg::accept()
{
    // Enter never closes the main window.
}

void CImageDlg::done(int result)
{
    shutdown();
    // The panel goes with the window it belongs to.
    if (m_panel)
        m_panel->hide();
    QDialog::done(result);
}

void CImageDlg::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    // Cancels a running batch and joins its thread: an open question is
    // withdrawn and no report of it arrives any more.
    m_session->endBatch();
    m_confirm->hide();
    if (m_progress != nullptr)
        m_progress->hide();
    giveBackReplacedPicture();
    // Joins the conversion thread: nothing uses the effects after this.
    m_session->shutdown();
    m_effects.FreeAll();
    emit aboutToSaveSettings();
    SaveSettings();
}

void CImageDlg::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addActions(m_viewOptions->menuActions());
    menu.addSeparator();
    QAction* about = menu.addAction(QStringLiteral("Info über Pictavo"));
    about->setProperty("id", IDM_ABOUTBOX);
    connect(about, &QAction::triggered, this, &CImageDlg::OnAppAbout);
    menu.exec(event->globalPos());
}

void CImageDlg::OnAppAbout()
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Info über Pictavo"),
                    QStringLiteral("Pictavo Version %1\n\nBringt Fotos auf die gewünschte Größe "
                                   "und Qualität.")
                        .arg(programVersion()),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("AboutBox"));
    box.setIconPixmap(windowIcon().pixmap(48, 48));
    box.exec();
}

void CImageDlg::OnOpen()
{
    if (refuseWhileBatchRuns(QStringLiteral("Während ein Verzeichnis umgewandelt wird, kann kein "
                                            "Bild geöffnet werden.")))
        return;
    // PNG, WebP and HEIC are as common as JPEG: the dialog starts on every picture.
    QString filter = allPicturesFilter();
    const QString chosen = QFileDialog::getOpenFileName(
        this, QString(), existingPicturePath(currentPicture()), openDialogFilter(), &filter);
    if (chosen.isEmpty())
        return;
    OpenPicture(chosen);
}

void CImageDlg::OnSaveAs()
{
    if (refuseWhileBatchRuns(QStringLiteral("Während ein Verzeichnis umgewandelt wird, kann kein "
                                            "Bild gespeichert werden.")))
        return;
    // Beside the picture, under the name a directory conversion would give it;
    // never the picture itself.
    const QString proposal =
        proposedSaveName(currentPicture(), convertedSize(m_session->shown().originalSize, settings()));
    QFileDialog dialog(this, QString(), QFileInfo(proposal).absolutePath(),
                       QString::fromUtf8(kSaveFilter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("jpg"));
    // Asked below, for the name that is really written.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!proposal.isEmpty())
        dialog.selectFile(proposal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString target = jpegSavePath(dialog.selectedFiles().constFirst());
    if (!confirmReplacing(target))
        return;
    const auto saved = [target](const ConversionOutcome& outcome) {
        const ConversionResult& result = outcome.conversion;
        if (result.written)
            return;
        const FileFailure& failure =
            result.readFailure.failed() ? result.readFailure : result.writeFailure;
        showMessage(failure.failed() ? cannotSaveMessage(target, failure) : outcome.error, kCaption,
                    MessageIcon::Warning);
    };
    m_session->post(ConversionKind::Save, currentPicture(), target, saved);
}

// Asks before a file is replaced, and says so when it is the picture itself.
bool CImageDlg::confirmReplacing(const QString& target)
{
    if (!pathExists(target))
        return true;
    const QString name = shownName(QFileInfo(target).fileName());
    const bool original = isSameFile(target, currentPicture());
    const QString text =
        original ? QStringLiteral("«%1» ist das Original, aus dem das Bild umgewandelt wird.\n"
                                  "Es wird durch das umgewandelte Bild ersetzt und geht dabei "
                                  "verloren.\n\nSoll das Original ersetzt werden?")
                       .arg(name)
                 : QStringLiteral("«%1» existiert bereits.\n\nSoll die Datei ersetzt werden?")
                       .arg(name);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Speichern unter"), text,
                    QMessageBox::NoButton, this);
    box.setObjectName(original ? QStringLiteral("ReplaceOriginalBox")
                               : QStringLiteral("ReplaceFileBox"));
    QPushButton* replace = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
    box.setDefaultButton(box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole));
    box.exec();
    return box.clickedButton() == replace;
}

bool CImageDlg::IsBatchRunning() const
{
    return m_session->isBatchRunning();
}

bool CImageDlg::refuseWhileBatchRuns(const QString& text)
{
    if (!IsBatchRunning())
        return false;
    showMessage(QStringLiteral("%1\nBitte warten Sie, bis die Umwandlung beendet ist (%2).")
                    .arg(text, batchProgressText()),
                QStringLiteral("Pictavo"), MessageIcon::Information);
    return true;
}

void CImageDlg::offerToStopBatch()
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Pictavo"),
                    QStringLiteral("Es wird bereits ein Verzeichnis umgewandelt (%1).\n\n"
                                   "Soll die Umwandlung nach der laufenden Datei abgebrochen werden?")
                        .arg(batchProgressText()),
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("StopBatchBox"));
    QPushButton* stop = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
    box.setDefaultButton(box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole));
    box.exec();
    // The batch may have ended on its own while the box was open.
    if (box.clickedButton() == stop && IsBatchRunning())
        m_session->cancelBatch();
}

void CImageDlg::OnConvertDirectory()
{
    convertDirectory(values().m_strSourceDir, {});
}

// The dialog of a directory conversion, preset with `source`, or with just
// `files` when there are some; on OK its values are kept and the batch starts.
void CImageDlg::convertDirectory(const QString& source, const QStringList& files)
{
    emit directoryConversionRequested();
    // One batch at a time: a second command offers to stop the running one.
    if (IsBatchRunning()) {
        offerToStopBatch();
        return;
    }
    CFolderDlg dialog(this);
    dialog.m_bAskEachFile = values().m_bAskEachFile;
    dialog.m_bMailAfter = values().m_bMailAfter;
    dialog.m_strSourceDir = source;
    dialog.m_strDestDir = values().m_strDestDir;
    dialog.m_sourceFiles = files;
    const QStringList effects = m_effects.effectNames();
    dialog.m_strSettings = settingsSummary(
        settings(), settings().m_nEffect > 0 && settings().m_nEffect <= effects.size()
                        ? effects[settings().m_nEffect - 1]
                        : QString());
    if (dialog.exec() != QDialog::Accepted)
        return;
    values().m_bAskEachFile = dialog.m_bAskEachFile;
    values().m_bMailAfter = dialog.m_bMailAfter;
    if (files.isEmpty())
        values().m_strSourceDir = dialog.m_strSourceDir;
    values().m_strDestDir = dialog.m_strDestDir;
    if (!destinationReady(values().m_strDestDir))
        return;
    BatchJob job;
    job.settings = settings();
    if (files.isEmpty())
        job.sourceFolder = values().m_strSourceDir;
    else
        job.files = files;
    job.destinationFolder = values().m_strDestDir;
    job.jobs = QThread::idealThreadCount();
    job.lowPriority = true;
    startBatch(job);
}
