// The program's working state without a window: the conversion settings, the
// current picture, the window's conversion service and what becomes of its
// results. The main window is a view over it (it draws shown() and listens to
// the signals); the control panel changes the settings through it.
//
// Lives on the GUI thread: every member is called there, and every signal is
// emitted there, from the service's results or from the calls themselves.
#pragma once

#include "imaging/ConversionService.h"
#include "imaging/ConversionSettings.h"
#include "imaging/UpdateKind.h"
#include "program/MessageIcon.h"

#include <QObject>
#include <QTimer>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

class EffectHost;
class QSettings;

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

    // Ends the service (waits for the conversion under way), removes the last
    // temporary file and stores the temporary-file counter. Nothing is
    // delivered afterwards; the getters keep their values. Idempotent.
    void shutdown();

    ConversionSettings& settings() { return m_settings; }
    const ConversionSettings& settings() const { return m_settings; }
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
    // A setter changed the settings (a running batch takes them for its next
    // files; the panel shows what is active).
    void settingsChanged();

private:
    void apply(const ConversionOutcome& outcome);
    void show(const ConversionOutcome& outcome);
    void showMessages(const ConversionOutcome& outcome);
    QString viewSource() const;
    void changed(UpdateKind kind);
    void tick();

    QSettings& m_store;
    ConversionSettings m_settings;
    QString m_picture;
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
