// The main window "Ansicht": the preview of the current conversion in a
// scrollable view, and the owner of the program's working state (the conversion
// settings, the pictures, the loaded effects, the control panel).
#pragma once

#include "mail/CMapiMailer.h"
#include "mail/MailSender.h"
#include "imaging/ConversionPipeline.h"
#include "imaging/ConversionSettings.h"
#include "effects/EffectHost.h"
#include "imaging/UpdateKind.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QUrl>

#include <atomic>
#include <memory>
#include <mutex>

class CDirectoryConversion;
class CPanelDlg;
class ImageView;
class QScrollBar;
class QSettings;
class QThread;

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

    // Converts `source` with the current settings (see ConversionPipeline) and
    // shows the result: the view, the title "NAME (N Kb)" and the information
    // text. May be called from any thread; conversions never overlap, and the
    // widgets are only touched by the GUI thread. Returns the path written.
    QString Convert(const QString& source, const QString& destinationFolder = QString(),
                    const QString& outputPath = QString());

    // Rescale: new target size `value` (5..3000), the view is only rescaled;
    // Convert: new quality `value` and a full conversion; Redraw: the view
    // redrawn from the preview with the current adjustments (`value` unused).
    void Update(int value, UpdateKind kind);

    // Sets the target size and the view box's other side and repaints the view.
    void SetTargetSize(int size);

    // Converts `path` and makes it the current picture. A file that cannot be
    // read is named with the reason in a message, and the picture, title and
    // settings shown before stay. GUI thread. True when the picture was opened.
    bool OpenPicture(const QString& path);

    // Converts the current picture again. One that can no longer be read gives
    // way, without a message, to the sample photograph and no picture name.
    // GUI thread.
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

    ConversionSettings& settings() { return m_settings; }
    const EffectHost& effects() const { return m_effects; }
    const QString& currentPicture() const { return m_strPicture; }
    void setCurrentPicture(const QString& path) { m_strPicture = path; }
    const QString& temporaryPath() const { return m_strTempPath; }
    const ConversionResult& lastResult() const { return m_lastResult; }
    QSettings& store() { return *m_store; }

    // The attachments of a directory conversion's mail, collected while it runs, and
    // the sender that hands every mail over (its result is shown in a box). GUI
    // thread only.
    CMapiMailer& mailer() { return m_mailer; }
    MailSender& mailSender() { return m_mailSender; }
    // A directory conversion runs: from its start until its thread has ended.
    bool IsBatchRunning() const;
    // The running or last directory conversion; null before the first.
    CDirectoryConversion* directoryConversion() const { return m_batch.get(); }

    // The arguments OnCommandLine acts on (without the program's name), and the
    // folder they are resolved against.
    void setCommandLine(const QStringList& arguments, const QString& startDirectory);

    // The folder a directory conversion starts from, and its destination.
    QString m_strSourceDir;
    QString m_strDestDir;
    QString m_strMailSubject;
    QString m_strMailText;
    std::atomic<int> m_bAskEachFile{0};
    std::atomic<int> m_bMailAfter{0};

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
    // A directory conversion is asked for with the folder in m_strSourceDir.
    void directoryConversionRequested();

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
    void startCommandLine();
    void showPanelWhenMapped();
    void convertDirectory(const QString& source, const QStringList& files);
    void scrollView(QPoint delta);
    QSize viewDeviceSize() const;
    QSize previewSize() const;
    void LoadSettings();
    void SaveSettings();
    void createControls();
    void layoutControls();
    void DrawView(QPainter& painter, const QRect& item);
    void updateScrollBars();
    void scrollBy(QScrollBar* bar, int& position, int action);
    QString convertOnGuiThread(const QString& source, const QString& destinationFolder,
                               const QString& outputPath);
    void showConversion(const ConversionResult& result);
    bool confirmReplacing(const QString& target);
    void shutdown();
    bool refuseWhileBatchRuns(const QString& text);
    void offerToStopBatch();

    std::unique_ptr<QSettings> m_store;
    ConversionSettings m_settings;
    EffectHost m_effects;
    ConversionPipeline m_pipeline{&m_effects};
    std::mutex m_conversionMutex;
    ConversionResult m_lastResult;

    QString m_strPicture;
    QString m_strTempPath;
    QStringList m_commandLine;
    QString m_startDirectory;
    int m_nScrollX = 0;
    int m_nScrollY = 0;
    bool m_bBusy = false;
    bool m_shutDown = false;
    // The panel waits for this window's first exposure before it shows.
    bool m_panelWaitsForOwner = false;

    ImageView* m_wndView = nullptr;
    QScrollBar* m_wndScrollH = nullptr;
    QScrollBar* m_wndScrollV = nullptr;
    QThread* m_commandLineThread = nullptr;

    CMapiMailer m_mailer;
    MailSender m_mailSender;
    // Stopped in shutdown(); its thread uses the members above.
    std::unique_ptr<CDirectoryConversion> m_batch;
    // The control panel "Schnellstart"; goes first when the window is destroyed,
    // after it has saved its place.
    std::unique_ptr<CPanelDlg> m_panel;
};
