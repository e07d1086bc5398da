// The program's working state without a window: the conversion settings, the
// current picture, the window's conversion service and what becomes of its
// results. The main window is a view over it (it draws shown() and listens to
// the signals); the control panel changes the settings through it.
//
// Lives on the GUI thread: every member is called there, and every signal is
// emitted there, from the service's results or from the calls themselves.
#pragma once

#include "batch/BatchConversion.h"
#include "imaging/ConversionService.h"
#include "imaging/MemoryBudget.h"
#include "mail/CMapiMailer.h"
#include "mail/MailSender.h"
#include "imaging/ConversionSettings.h"
#include "imaging/UpdateKind.h"
#include "program/MessageIcon.h"

#include <QObject>
#include <QTimer>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>

class EffectHost;
class QSettings;

// What a directory conversion and a mail start from; stored with the settings.
struct BatchValues
{
    // The folder a directory conversion starts from, and its destination.
    QString m_strSourceDir;
    QString m_strDestDir;
    QString m_strMailSubject;
    QString m_strMailText;
    // Largest mail in megabytes; 0: no limit (see MailSplit.h).
    int m_nMaxMailMb = 0;
    // "Rückfrage beim Umwandeln" and "Bilder per Mail versenden".
    int m_bAskEachFile = 0;
    int m_bMailAfter = 0;
};

class ConversionSession final : public QObject
{
    Q_OBJECT
public:
    using Continuation = std::function<void(const ConversionOutcome&)>;

    // `store` holds the program's settings and `effects` the loaded effects
    // (may be null); both outlive the session. Takes the first temporary file's
    // number from the store and starts the conversion service.
    ConversionSession(QSettings& store, const EffectHost* effects, QObject* parent = nullptr);
    // See shutdown().
    ~ConversionSession() override;

    // Ends a running batch and the service (waits for the conversion under
    // way), removes the last temporary file and stores the temporary-file
    // counter. Nothing is
    // delivered afterwards; the getters keep their values. Idempotent.
    void shutdown();

    ConversionSettings& settings() { return m_settings; }
    const ConversionSettings& settings() const { return m_settings; }
    BatchValues& values() { return m_values; }
    const BatchValues& values() const { return m_values; }
    const QString& currentPicture() const { return m_picture; }
    void setCurrentPicture(const QString& path) { m_picture = path; }
    const QString& temporaryPath() const { return m_temporaryPath; }
    // The conversion the view shows.
    const ConversionOutcome& shown() const { return m_shown; }
    // No conversion is queued or running and every result has been applied.
    bool isIdle() const { return !m_service || m_service->isIdle(); }

    // Queues a conversion of `source` with a snapshot of the settings;
    // `outputPath` is the file a Save or MailCopy writes; `then` runs with its
    // result once it has been applied. Never waits. Returns its number.
    quint64 post(ConversionKind kind, const QString& source, const QString& outputPath = {},
                 Continuation then = {});

    // Posts a conversion of `path`, which becomes the current picture once it
    // was read; the title names it at once. A file that cannot be read is named
    // with the reason in a message, and the picture, title and settings shown
    // before stay.
    void openPicture(const QString& path);
    // Posts a conversion of the current picture. One that can no longer be read
    // gives way, without a message, to the sample photograph and no name.
    void showCurrentPicture();

    // Rescale: new target size `value` (5..3000), the view is only rescaled;
    // Convert: new quality `value` and a full conversion posted; Redraw: a
    // redraw of the view with the current adjustments posted (`value` unused).
    void update(int value, UpdateKind kind);
    // The target size and the view box's other side; the view repaints.
    void setTargetSize(int size);

    // The control panel's choices. Each stores its value (the settings keep
    // what they are given; the conversion limits it) and brings the preview up
    // to date as the choice needs: the size rescales the view; the quality,
    // capture data, size limit, turn, mirror and effect convert at once; colour
    // adjustments redraw the view at once and convert once the user has paused
    // (see convertLater); the resolution only converts then.
    enum class Adjustment
    {
        Brightness,
        Contrast,
        Red,
        Green,
        Blue,
    };
    void setSize(int size);
    void setQuality(int quality);
    void setAdjustment(Adjustment which, int value);
    void setGrayscale(bool on);
    // Colour adjustments and black and white back to none.
    void resetAdjustments();
    void setKeepExif(bool on);
    void setMaxKb(int kilobytes);
    void setShrinkToFit(bool on);
    void setNoEnlarge(bool on);
    void setDpi(int dpi);
    void setOrientation(int orientation);
    void setEffect(int effect);
    // Converts on the third tick of a 250 ms timer after the last call, so
    // once the settings have stayed unchanged for half a second or a little more.
    void convertLater();
    // A conversion waits for the user's pause (see convertLater).
    bool conversionPending() const { return m_pendingTicks > 0; }

    // The directory conversion, within a memory budget of its own, on a thread
    // of its own: started with the settings of the moment (its later files take
    // those of the moment they start, see update), its question answered and
    // the whole cancelled through here; its reports arrive as the batch…
    // signals. With `asking`, batchQuestion follows each written file and the
    // batch waits for answerBatch() or cancelBatch().
    void startBatch(BatchJob job, bool asking);
    void answerBatch(BatchAnswer answer);
    void cancelBatch();
    bool isBatchRunning() const { return m_batch && m_batch->isRunning(); }
    // Cancels a running directory conversion and waits for its thread; the
    // batch is gone afterwards (shutdown).
    void endBatch() { m_batch.reset(); }

    // The attachments a directory conversion collects, and the sender that
    // hands every mail over; mailSent reports each result.
    CMapiMailer& mailer() { return m_mailer; }
    MailSender& mailSender() { return m_mailSender; }
    // Hands `messages` over after those still waiting, one mail at a time, so
    // that the mail client opens them in their order.
    void sendMails(std::deque<MailSender::Message> messages);
    // Forgets the mails still waiting.
    void dropWaitingMails() { m_waitingMails.clear(); }

    // Shows a file of a directory conversion (its conversion and view) in place
    // of the current picture's result.
    void showBatchFile(const QString& source, const ConversionResult& conversion,
                       const QImage& view);

signals:
    // shown() or the view box changed: the view repaints.
    void shownChanged();
    void titleChanged(const QString& title);
    // The information text and, under a size limit, the quality used, of the
    // last conversion.
    void informationChanged(const QString& text);
    void qualityUsed(int quality);
    // A message for the user.
    void message(const QString& text, const QString& caption, MessageIcon icon);
    // A result of the service has been applied.
    void conversionApplied(const ConversionOutcome& outcome);
    // The running batch's reports (see BatchConversion).
    void batchProgress(int done, int total);
    void batchFileDone(const BatchFileResult& file);
    void batchFileSkipped(const QString& source, const BatchSkip& skip);
    void batchQuestion(const BatchFileResult& file);
    void batchFinished(const BatchSummary& summary);
    // One mail's hand-off has ended.
    void mailSent(const CMapiMailer::SendResult& result);
    // A setter changed the settings (a running batch takes them for its next
    // files; the panel shows what is active).
    void settingsChanged();

private:
    void apply(const ConversionOutcome& outcome);
    void show(const ConversionOutcome& outcome);
    void showMessages(const ConversionOutcome& outcome);
    QString viewSource() const;
    void changed(UpdateKind kind);
    void sendNextMail();
    void passSettingsToBatch();
    void tick();

    QSettings& m_store;
    ConversionSettings m_settings;
    QString m_picture;
    BatchValues m_values;
    // The picture being opened; later previews convert it until it was read.
    QString m_openingPicture;
    QString m_temporaryPath;
    // Handed to the service's thread; stored back by shutdown().
    std::atomic<int> m_nextTemporaryNumber{1};
    bool m_busy = false;
    // The deferred conversion: ticks left until it runs, 0 when none waits.
    QTimer m_timer;
    int m_pendingTicks = 0;
    bool m_shutDown = false;

    std::unique_ptr<ConversionService> m_service;
    MemoryBudget m_batchMemory{MemoryBudget::defaultLimit()};
    std::unique_ptr<BatchConversion> m_batch;
    CMapiMailer m_mailer;
    MailSender m_mailSender;
    std::deque<MailSender::Message> m_waitingMails;
    // The result the view shows; view results older than m_newestView are dropped.
    ConversionOutcome m_shown;
    quint64 m_newestView = 0;
    quint64 m_lastPosted = 0;
    // What to do with the result of the newest view request: a newer Preview
    // supersedes a waiting one and takes its continuation over.
    Continuation m_viewContinuation;
    quint64 m_viewContinuationId = 0;
    // What to do with the results of the other requests, by number.
    std::map<quint64, Continuation> m_continuations;
};
