// The main window "Ansicht": the preview of the current conversion in a
// scrollable view, and the owner of the program's working state (the conversion
// settings, the pictures, the loaded effects, the control panel).
#pragma once

#include "session/ConversionSession.h"
#include "imaging/ConversionSettings.h"
#include "effects/EffectHost.h"
#include "imaging/UpdateKind.h"
#include "ShrunkViewCache.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

class CConfirmDlg;
class CPanelDlg;
class ImageView;
class QProgressDialog;
class QScrollBar;
class QSettings;
class QThread;
class ViewOptions;

class CImageDlg : public QDialog
{
    Q_OBJECT
public:
    // `store` holds the program's settings; the window reads and writes it and
    // keeps it for its lifetime.
    explicit CImageDlg(std::unique_ptr<QSettings> store, QWidget* parent = nullptr);
    ~CImageDlg() override;

    // Runs once before the window is shown, in the order of a dialog's
    // initialisation: effects, settings, the first conversion, the panel and the
    // command line.
    void OnInitDialog();

    // Queues a conversion of `source` with a snapshot of the current settings on
    // the conversion service; `outputPath` is the file a Save or MailCopy writes.
    // Never waits: applyConversion shows the result. Returns its number. GUI thread.
    quint64 post(ConversionKind kind, const QString& source, const QString& outputPath = QString());

    // Rescale: new target size `value` (5..3000), the view is only rescaled;
    // Convert: new quality `value` and a full conversion posted; Redraw: a
    // redraw of the view with the current adjustments posted (`value` unused).
    void Update(int value, UpdateKind kind);

    // Sets the target size and the view box's other side and repaints the view.
    void SetTargetSize(int size);

    // Posts a conversion of `path`, which becomes the current picture once it
    // was read. A file that cannot be read is named with the reason in a
    // message, and the picture, title and settings shown before stay. GUI thread.
    void OpenPicture(const QString& path);

    // Posts a conversion of the current picture. One that can no longer be read
    // gives way, without a message, to the sample photograph and no picture
    // name. GUI thread.
    void ShowCurrentPicture();

    // Acts on the program's arguments once: a folder after "/V" (or named alone)
    // starts a directory conversion, a picture becomes the current picture and is
    // converted. A path that names no picture is reported and never becomes the
    // current picture.
    void OnCommandLine();

    // Acts on files dropped onto the main window or the panel, once the drop has
    // ended: one picture is opened as the open command opens it, one folder
    // becomes the source of the directory conversion's dialog, several files are
    // offered as a conversion of just these files into the destination folder.
    // Addresses that are no local files are refused with a message.
    void OnDropFiles(const QList<QUrl>& urls);

    ConversionSession& session() { return *m_session; }
    ConversionSettings& settings() { return m_session->settings(); }
    const ConversionSettings& settings() const { return m_session->settings(); }
    const EffectHost& effects() const { return m_effects; }
    const QString& currentPicture() const { return m_session->currentPicture(); }
    void setCurrentPicture(const QString& path) { m_session->setCurrentPicture(path); }
    const QString& temporaryPath() const { return m_session->temporaryPath(); }
    // The conversion the view shows now.
    const ConversionResult& lastResult() const { return m_session->shown().conversion; }
    // No conversion is queued or running and every result has been applied.
    bool conversionsIdle() const { return m_session->isIdle(); }
    QSettings& store() { return *m_store; }

    // The attachments of a directory conversion's mail, collected while it runs, and
    // the sender that hands every mail over (its result is shown in a box). GUI
    // thread only.
    CMapiMailer& mailer() { return m_session->mailer(); }
    MailSender& mailSender() { return m_session->mailSender(); }
    // A directory conversion runs: from its start until its finished report.
    bool IsBatchRunning() const;
    // The question asked before each file of a directory conversion, and the
    // progress shown while one runs without it.
    CConfirmDlg* confirmDialog() const { return m_confirm.get(); }
    QProgressDialog* progressDialog() const { return m_progress; }

    // The arguments OnCommandLine acts on (without the program's name), and the
    // folder they are resolved against.
    void setCommandLine(const QStringList& arguments, const QString& startDirectory);

    // The folders, flags and mail texts of the directory conversion and the mail.
    BatchValues& values() { return m_session->values(); }
    const BatchValues& values() const { return m_session->values(); }

public slots:
    void OnOpen();
    void OnSaveAs();
    void OnConvertDirectory();
    void OnMailSetup();
    void OnSendMail();
    void OnAppAbout();

signals:
    // Sent while the window closes, before the settings are written: the control
    // panel stores its place.
    void aboutToSaveSettings();
    // The information text of the last conversion, for the control panel.
    void informationChanged(const QString& text);
    // The quality a size limit made the last conversion use, for the panel.
    void qualityUsed(int quality);
    // A directory conversion is asked for with the folder in values().m_strSourceDir.
    void directoryConversionRequested();
    // A result of the conversion service has been applied to the window.
    void conversionApplied(const ConversionOutcome& outcome);

protected:
    void accept() override;
    void done(int result) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    // Creates and attaches the control panel; it shows once this window is
    // mapped (see showPanelWhenMapped).
    virtual void createPanel();

private:
    void connectSession();
    void startCommandLine();
    void showPanelWhenMapped();
    void convertDirectory(const QString& source, const QStringList& files);
    void scrollView(QPoint delta);
    void zoomView(int notches, QPoint at);
    void moveDivider(QPoint at);
    QSize viewDeviceSize() const;
    QSize unscaledBoxSize() const;
    QSize shownBoxSize() const;
    QRect shownPictureRect() const;
    QSize previewSize() const;
    void LoadSettings();
    void SaveSettings();
    void createControls();
    void layoutControls();
    void DrawView(QPainter& painter, const QRect& item);
    void updateScrollBars();
    void scrollBy(QScrollBar* bar, int& position, int action);
    bool confirmReplacing(const QString& target);
    void shutdown();
    bool refuseWhileBatchRuns(const QString& text);
    void offerToStopBatch();
    QString batchProgressText() const;
    void connectBatch();
    bool destinationReady(const QString& folder);
    void startBatch(const BatchJob& job);
    void showBatchFile(const BatchFileResult& file);
    void noteBatchSkip(const QString& source, const BatchSkip& skip);
    void finishBatch(const BatchSummary& summary);
    void giveBackReplacedPicture();
    void mailBatchResults(const QStringList& files);
    void offerMailFolder(const CMapiMailer::SendResult& result);
    QString tooLargeForMail(const QStringList& files) const;

    std::unique_ptr<QSettings> m_store;
    EffectHost m_effects;
    // Settings, pictures and the conversions; shut down in shutdown(), before
    // the effects are freed.
    std::unique_ptr<ConversionSession> m_session;

    QStringList m_commandLine;
    QString m_startDirectory;
    int m_nScrollX = 0;
    int m_nScrollY = 0;
    bool m_shutDown = false;
    // The panel waits for this window's first exposure before it shows.
    bool m_panelWaitsForOwner = false;

    ImageView* m_wndView = nullptr;
    // Fit, zoom and before and after.
    ViewOptions* m_viewOptions = nullptr;
    // The result and, before and after, the source as the view shows them.
    ShrunkViewCache m_shownResult;
    ShrunkViewCache m_shownSource;
    QScrollBar* m_wndScrollH = nullptr;
    QScrollBar* m_wndScrollV = nullptr;
    QThread* m_commandLineThread = nullptr;

    // Without a parent, so that nothing typed into the main window answers it.
    std::unique_ptr<CConfirmDlg> m_confirm;
    QProgressDialog* m_progress = nullptr;
    int m_batchDone = 0;
    int m_batchTotal = 0;
    // "name: reason" of the files the running batch left out.
    QStringList m_batchUnreadable;
    QStringList m_batchUnwritten;
    // The user's current picture while a question has put a file in its place.
    std::optional<QString> m_replacedPicture;
    // The control panel "Schnellstart"; goes first when the window is destroyed,
    // after it has saved its place.
    std::unique_ptr<CPanelDlg> m_panel;
};
