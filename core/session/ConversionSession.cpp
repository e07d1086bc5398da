#include "session/ConversionSession.h"

#include "imaging/ConversionPipeline.h"
#include "imaging/NativeNames.h"
#include "program/SettingsStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <utility>

namespace {

const QString kCaption = QStringLiteral("Pictavo");

} // namespace

ConversionSession::ConversionSession(QSettings& store, const EffectHost* effects, QObject* parent)
    : QObject(parent), m_store(store)
{
    // The counter is advanced once for the session's own name, then once per run.
    const int first = takeTemporaryFileNumber(m_store);
    m_temporaryPath = temporaryPicturePath(first);
    m_nextTemporaryNumber.store(readNextTemporaryFileNumber(m_store));
    m_service = std::make_unique<ConversionService>(
        [this] { return m_nextTemporaryNumber.fetch_add(1); }, effects);
    connect(m_service.get(), &ConversionService::converted, this, &ConversionSession::apply);
    m_batch = std::make_unique<BatchConversion>(effects);
    m_batch->setMemoryBudget(&m_batchMemory);
    connect(m_batch.get(), &BatchConversion::progress, this, &ConversionSession::batchProgress);
    connect(m_batch.get(), &BatchConversion::fileDone, this,
            [this](const QString&, const QString&, const BatchFileResult& file) {
                emit batchFileDone(file);
            });
    connect(m_batch.get(), &BatchConversion::fileSkipped, this,
            &ConversionSession::batchFileSkipped);
    connect(m_batch.get(), &BatchConversion::questionAsked, this,
            &ConversionSession::batchQuestion);
    connect(m_batch.get(), &BatchConversion::finished, this, &ConversionSession::batchFinished);
    connect(&m_mailSender, &MailSender::sent, this, [this](const CMapiMailer::SendResult& result) {
        emit mailSent(result);
        // The send counts as under way until this returns.
        QMetaObject::invokeMethod(this, &ConversionSession::sendNextMail, Qt::QueuedConnection);
    });
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(250);
    connect(&m_timer, &QTimer::timeout, this, &ConversionSession::tick);
    // Ticks all along, so that a change waits two to three ticks whenever it comes.
    m_timer.start();
}

ConversionSession::~ConversionSession()
{
    shutdown();
}

void ConversionSession::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_timer.stop();
    // Cancels a running batch and joins its thread: an open question is
    // withdrawn and no report of it arrives any more.
    m_batch.reset();
    // Joins the conversion thread: nothing uses the effects after this.
    m_service.reset();
    writeNextTemporaryFileNumber(m_store, m_nextTemporaryNumber.load());
    QFile::remove(m_temporaryPath);
}

quint64 ConversionSession::post(ConversionKind kind, const QString& source,
                                const QString& outputPath, Continuation then)
{
    if (!m_service)
        return 0;
    ConversionRequest request;
    request.kind = kind;
    request.settings = m_settings;
    request.sourcePath = source;
    request.outputPath = outputPath;
    const quint64 id = m_service->post(request);
    m_lastPosted = id;
    // Every run leaves the service's view as this request makes it.
    m_newestView = id;
    // A superseded preview never returns: the continuation waits for this one.
    if (kind == ConversionKind::Preview && m_viewContinuation)
        m_viewContinuationId = id;
    if (then)
        m_continuations[id] = std::move(then);
    return id;
}

// The one place where the service's results are applied.
void ConversionSession::apply(const ConversionOutcome& outcome)
{
    if (m_shutDown)
        return;
    if (!outcome.temporaryPath.isEmpty()) {
        m_temporaryPath = outcome.temporaryPath;
        // Kept as each run takes it, as a second program running would see it.
        writeNextTemporaryFileNumber(m_store, m_nextTemporaryNumber.load());
    }
    // A source that could not be read changed nothing: the view, title and
    // information still show the picture before it.
    const bool read = !outcome.conversion.readFailure.failed();
    if (outcome.id >= m_newestView && read)
        show(outcome);
    Continuation then;
    if (m_viewContinuation && outcome.id == m_viewContinuationId) {
        then = std::exchange(m_viewContinuation, nullptr);
    } else if (const auto found = m_continuations.find(outcome.id);
               found != m_continuations.end()) {
        then = std::move(found->second);
        m_continuations.erase(found);
    }
    showMessages(outcome);
    if (then)
        then(outcome);
    emit conversionApplied(outcome);
}

void ConversionSession::show(const ConversionOutcome& outcome)
{
    if (outcome.kind == ConversionKind::Redraw) {
        m_shown.view = outcome.view;
        m_shown.source = outcome.source;
        m_shown.previewSize = outcome.previewSize;
    } else {
        m_shown = outcome;
    }
    // The view box follows the picture it shows: a size set before this result
    // arrived (the panel's at start, say) was set against the one before.
    if (!m_busy)
        m_settings.m_nTargetOther = viewBoxOtherSide(m_settings.m_nTargetSize, m_shown.previewSize);
    emit shownChanged();
    if (outcome.kind == ConversionKind::Redraw)
        return;
    emit titleChanged(outcome.conversion.title);
    emit informationChanged(outcome.conversion.information);
    if (m_settings.m_nMaxKb > 0)
        emit qualityUsed(outcome.conversion.qualityUsed);
}

// The picture loader's own messages ("CPicture Error: …") as its boxes always
// read; they say what a memory failure's German sentence would. A picture that
// was read but not converted is named otherwise; what a save or a mail copy
// could not do, their continuations say.
void ConversionSession::showMessages(const ConversionOutcome& outcome)
{
    for (const QString& line : outcome.conversion.messages) {
        const qsizetype colon = line.indexOf(QStringLiteral(": "));
        emit message(line.mid(colon + 2) + u'\t', line.left(std::max<qsizetype>(colon, 0)),
                     MessageIcon::Stop);
    }
    const bool forView =
        outcome.kind == ConversionKind::Preview || outcome.kind == ConversionKind::Redraw;
    if (forView && !outcome.conversion.readFailure.failed() && !outcome.error.isEmpty() &&
        outcome.conversion.messages.isEmpty())
        emit message(outcome.error, kCaption, MessageIcon::Warning);
}

QString ConversionSession::viewSource() const
{
    return m_openingPicture.isEmpty() ? m_picture : m_openingPicture;
}

void ConversionSession::openPicture(const QString& path)
{
    m_openingPicture = path;
    // The chosen name at once; the conversion adds its size.
    emit titleChanged(shownName(QFileInfo(path).fileName()));
    m_viewContinuation = [this, path](const ConversionOutcome& outcome) {
        m_openingPicture.clear();
        if (outcome.conversion.readFailure.failed()) {
            emit titleChanged(m_shown.conversion.title);
            emit message(outcome.error, kCaption, MessageIcon::Warning);
            // The open may have superseded the current picture's own conversion
            // before it ran.
            if (m_shown.conversion.title.isEmpty() || m_shown.sourcePath != m_picture)
                showCurrentPicture();
            return;
        }
        m_picture = path;
    };
    m_viewContinuationId = post(ConversionKind::Preview, path);
}

void ConversionSession::showCurrentPicture()
{
    m_openingPicture.clear();
    m_viewContinuation = [this](const ConversionOutcome& outcome) {
        if (!outcome.conversion.readFailure.failed() || m_picture.isEmpty())
            return;
        m_picture.clear();
        post(ConversionKind::Preview, m_picture);
    };
    m_viewContinuationId = post(ConversionKind::Preview, m_picture);
}

void ConversionSession::update(int value, UpdateKind kind)
{
    switch (kind) {
    case UpdateKind::Rescale:
        setTargetSize(std::clamp(value, 5, 3000));
        break;
    case UpdateKind::Convert:
        m_settings.m_nQuality = value;
        post(ConversionKind::Preview, viewSource());
        break;
    case UpdateKind::Redraw:
        // A redraw starts from the service's last conversion; a file of the
        // directory conversion shown instead is converted again.
        post(m_shown.kind == ConversionKind::BatchFile ? ConversionKind::Preview
                                                       : ConversionKind::Redraw,
             viewSource());
        break;
    }
    passSettingsToBatch();
}

// The files of a running batch that start later take the new settings.
void ConversionSession::passSettingsToBatch()
{
    if (isBatchRunning())
        m_batch->setSettings(m_settings);
}

void ConversionSession::setTargetSize(int size)
{
    if (m_busy)
        return;
    m_busy = true;
    m_settings.m_nTargetSize = size;
    m_settings.m_nTargetOther = viewBoxOtherSide(size, m_shown.previewSize);
    emit shownChanged();
    m_busy = false;
}

void ConversionSession::showBatchFile(const QString& source, const ConversionResult& conversion,
                                      const QImage& view)
{
    m_shown.kind = ConversionKind::BatchFile;
    m_shown.sourcePath = source;
    m_shown.conversion = conversion;
    m_shown.view = view;
    // The batch brings no source along: the comparison shows the file alone.
    m_shown.source = QImage();
    m_shown.previewSize = view.size();
    m_newestView = m_lastPosted + 1;
    emit shownChanged();
    emit informationChanged(conversion.information);
}

// A setter's change: the preview follows as `kind` says.
void ConversionSession::changed(UpdateKind kind)
{
    emit settingsChanged();
    update(kind == UpdateKind::Rescale ? m_settings.m_nTargetSize : m_settings.m_nQuality, kind);
}

void ConversionSession::setSize(int size)
{
    convertLater();
    emit settingsChanged();
    update(size, UpdateKind::Rescale);
}

void ConversionSession::setQuality(int quality)
{
    m_settings.m_nQuality = std::min(quality, 100);
    changed(UpdateKind::Convert);
}

void ConversionSession::setAdjustment(Adjustment which, int value)
{
    switch (which) {
    case Adjustment::Brightness: m_settings.m_nBrightness = value; break;
    case Adjustment::Contrast: m_settings.m_nContrast = value; break;
    case Adjustment::Red: m_settings.m_nRed = value; break;
    case Adjustment::Green: m_settings.m_nGreen = value; break;
    case Adjustment::Blue: m_settings.m_nBlue = value; break;
    }
    convertLater();
    changed(UpdateKind::Redraw);
}

void ConversionSession::setGrayscale(bool on)
{
    m_settings.m_bGrayscale = on ? 1 : 0;
    convertLater();
    changed(UpdateKind::Redraw);
}

void ConversionSession::resetAdjustments()
{
    m_settings.m_nBrightness = 0;
    m_settings.m_nContrast = 0;
    m_settings.m_nRed = 0;
    m_settings.m_nGreen = 0;
    m_settings.m_nBlue = 0;
    m_settings.m_bGrayscale = 0;
    convertLater();
    changed(UpdateKind::Redraw);
}

// The capture data changes the file, not the picture: a conversion measures it.
void ConversionSession::setKeepExif(bool on)
{
    m_settings.m_bKeepExif = on ? 1 : 0;
    changed(UpdateKind::Convert);
}

void ConversionSession::setMaxKb(int kilobytes)
{
    const int limit = std::max(kilobytes, 0);
    if (limit == m_settings.m_nMaxKb)
        return;
    m_settings.m_nMaxKb = limit;
    changed(UpdateKind::Convert);
}

void ConversionSession::setShrinkToFit(bool on)
{
    m_settings.m_bShrinkToFit = on ? 1 : 0;
    changed(UpdateKind::Convert);
}

void ConversionSession::setNoEnlarge(bool on)
{
    m_settings.m_bNoEnlarge = on ? 1 : 0;
    changed(UpdateKind::Convert);
}

// The resolution changes only the file's header and the print size: converted
// once the user has paused.
void ConversionSession::setDpi(int dpi)
{
    m_settings.m_nDpi = dpi;
    passSettingsToBatch();
    emit settingsChanged();
    convertLater();
}

void ConversionSession::setOrientation(int orientation)
{
    m_settings.m_nOrientation = orientation;
    changed(UpdateKind::Convert);
}

void ConversionSession::setEffect(int effect)
{
    m_settings.m_nEffect = std::max(effect, 0);
    changed(UpdateKind::Convert);
}

void ConversionSession::convertLater()
{
    m_pendingTicks = 3;
}

void ConversionSession::tick()
{
    if (m_pendingTicks > 0 && --m_pendingTicks == 0)
        update(m_settings.m_nQuality, UpdateKind::Convert);
}

void ConversionSession::sendMails(std::deque<MailSender::Message> messages)
{
    for (MailSender::Message& message : messages)
        m_waitingMails.push_back(std::move(message));
    sendNextMail();
}

void ConversionSession::sendNextMail()
{
    if (m_waitingMails.empty() || m_mailSender.isSending())
        return;
    MailSender::Message next = std::move(m_waitingMails.front());
    m_waitingMails.pop_front();
    m_mailSender.send(std::move(next));
}

void ConversionSession::startBatch(BatchJob job, bool asking)
{
    if (!m_batch || m_batch->isRunning())
        return;
    job.settings = m_settings;
    m_batch->setAsking(asking);
    m_batch->start(job);
}

void ConversionSession::answerBatch(BatchAnswer answer)
{
    if (isBatchRunning())
        m_batch->answer(answer);
}

void ConversionSession::cancelBatch()
{
    if (isBatchRunning())
        m_batch->cancel();
}
