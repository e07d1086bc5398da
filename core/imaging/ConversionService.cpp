#include "imaging/ConversionService.h"

#include "imaging/DecodeCancel.h"
#include "imaging/FileFailure.h"

#include <QFileInfo>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

QString fileName(const QString& path)
{
    return QFileInfo(path).fileName();
}

// The sentence for the user and its reason when `outcome` did not do what its
// request asked; both empty when it did.
void describeFailure(const ConversionRequest& request, ConversionOutcome& outcome)
{
    const ConversionResult& result = outcome.conversion;
    if (result.readFailure.failed()) {
        outcome.error = cannotReadMessage(request.sourcePath, result.readFailure);
        outcome.cause = germanReason(result.readFailure);
        return;
    }
    const bool done = request.kind == ConversionKind::Preview ? result.converted() : result.written;
    if (done)
        return;
    FileFailure failure = result.writeFailure;
    if (!failure.failed())
        failure.problem = FileProblem::OutOfMemory; // nothing else stops a conversion
    outcome.cause = germanReason(failure);
    switch (request.kind) {
    case ConversionKind::Preview:
        outcome.error = QStringLiteral("«%1» kann nicht umgewandelt werden: %2.")
                            .arg(fileName(request.sourcePath), outcome.cause);
        break;
    case ConversionKind::MailCopy:
        outcome.error = QStringLiteral("Die Kopie für die Mail kann nicht angelegt werden: %1.")
                            .arg(outcome.cause);
        break;
    default:
        outcome.error = cannotSaveMessage(result.outputPath, failure);
        break;
    }
}

bool isViewRequest(ConversionKind kind)
{
    return kind == ConversionKind::Preview || kind == ConversionKind::Redraw;
}

// How long an ending service waits for a stopped conversion before it leaves the
// worker to end on its own: a stopped decode ends within milliseconds, so only
// a step no stop reaches (scaling a huge picture, say) outlasts it.
constexpr std::chrono::milliseconds kStoppedRunWait{200};

// Worker threads of ended services that are still running.
std::mutex g_unfinishedMutex;
std::condition_variable g_unfinishedEnded;
int g_unfinished = 0; // guarded by g_unfinishedMutex

} // namespace

struct ConversionService::Shared
{
    using Queued = ConversionQueue::Entry;

    Shared(std::function<int()> number, const EffectHost* effects)
        : temporaryNumber(std::move(number)), pipeline(effects)
    {}

    void work(ConversionService* service);
    bool takeNext(Queued& next, QString& temporaryPath);
    ConversionOutcome execute(const Queued& queued, const QString& temporaryPath);
    void convert(const Queued& queued, ConversionOutcome& outcome);
    void deliver(ConversionService* service, ConversionOutcome outcome);
    // Marks the worker's end; true when an ended service left it to end alone.
    bool endWork();

    // The caller's counter: called under `mutex` only, so never after the
    // service has ended and the caller may be gone.
    const std::function<int()> temporaryNumber;

    // Shared by the worker and the threads that post; guarded by `mutex`.
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable ended;
    ConversionQueue queue;
    std::deque<ConversionOutcome> results;
    bool running = false;
    // The running request's kind and whether it may run an effect.
    ConversionKind runningKind = ConversionKind::Preview;
    bool runningEffect = false;
    // The service has ended: nothing more is delivered.
    bool stopping = false;
    bool finished = false;
    bool leftAlone = false;

    // Stops the running request's decodes; cleared for each request.
    std::atomic<int> stopRunning{0};

    // The worker's alone.
    ConversionPipeline pipeline;
};

ConversionService::ConversionService(std::function<int()> temporaryNumber,
                                     const EffectHost* effects, QObject* parent)
    : QObject(parent), m_shared(std::make_shared<Shared>(std::move(temporaryNumber), effects))
{
    qRegisterMetaType<ConversionOutcome>();
    // The worker holds the shared state as long as it runs; `this` only to
    // deliver, which it does under the state's mutex while the service lives.
    m_thread = std::thread([shared = m_shared, this]() mutable {
        shared->work(this);
        const bool leftAlone = shared->endWork();
        shared.reset(); // the last one out frees the state
        if (leftAlone) {
            const std::lock_guard lock(g_unfinishedMutex);
            --g_unfinished;
            g_unfinishedEnded.notify_all();
        }
    });
}

ConversionService::~ConversionService()
{
    Shared& shared = *m_shared;
    bool join = true;
    {
        std::unique_lock lock(shared.mutex);
        shared.stopping = true;
        const bool stopAll = everyDecodeStopped();
        if (stopAll) {
            while (!shared.queue.empty())
                shared.queue.take();
        } else {
            shared.queue.dropViewRequests();
        }
        if (shared.running && (stopAll || isViewRequest(shared.runningKind)))
            shared.stopRunning.store(1);
        shared.wake.notify_all();
        // A file the user keeps is finished; an effect is the caller's, so a
        // worker that may run one is waited for. Otherwise the worker only ends
        // a run nobody looks at: it may do so alone, holding nothing of the
        // caller's.
        const bool keepsWorking =
            !shared.queue.empty() || (shared.running && shared.stopRunning.load() == 0);
        const bool mayRunEffect = shared.running && shared.runningEffect;
        if (!keepsWorking && !mayRunEffect &&
            !shared.ended.wait_for(lock, kStoppedRunWait, [&] { return shared.finished; })) {
            shared.leftAlone = true;
            const std::lock_guard count(g_unfinishedMutex);
            ++g_unfinished;
            join = false;
        }
    }
    if (join)
        m_thread.join();
    else
        m_thread.detach();
}

bool ConversionService::waitForUnfinishedWorkers(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(g_unfinishedMutex);
    return g_unfinishedEnded.wait_for(lock, timeout, [] { return g_unfinished == 0; });
}

quint64 ConversionService::post(const ConversionRequest& request)
{
    quint64 id = 0;
    {
        const std::lock_guard lock(m_shared->mutex);
        id = m_shared->queue.push(request);
    }
    m_shared->wake.notify_all();
    return id;
}

bool ConversionService::isIdle() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->queue.empty() && !m_shared->running && m_shared->results.empty();
}

void ConversionService::Shared::work(ConversionService* service)
{
    // Whatever the worker decodes stops with the request it belongs to.
    const DecodeCancelScope stopDecodes(stopRunning);
    Queued next;
    QString temporaryPath;
    while (takeNext(next, temporaryPath))
        deliver(service, execute(next, temporaryPath));
}

bool ConversionService::Shared::takeNext(Queued& next, QString& temporaryPath)
{
    std::unique_lock lock(mutex);
    running = false;
    wake.wait(lock, [this] { return stopping || !queue.empty(); });
    if (queue.empty())
        return false;
    next = queue.take();
    running = true;
    runningKind = next.request.kind;
    runningEffect = next.request.settings.m_nEffect > 0;
    stopRunning.store(0);
    // Every run writes under a fresh name, which lives for this run only.
    temporaryPath = next.request.kind == ConversionKind::Redraw
                        ? QString()
                        : temporaryPicturePath(temporaryNumber());
    return true;
}

bool ConversionService::Shared::endWork()
{
    const std::lock_guard lock(mutex);
    running = false;
    finished = true;
    ended.notify_all();
    return leftAlone;
}

ConversionOutcome ConversionService::Shared::execute(const Queued& queued,
                                                     const QString& temporaryPath)
{
    ConversionOutcome outcome;
    outcome.id = queued.id;
    outcome.kind = queued.request.kind;
    outcome.sourcePath = queued.request.sourcePath;
    outcome.temporaryPath = temporaryPath;
    if (queued.request.kind == ConversionKind::Redraw)
        pipeline.RedrawView(queued.request.settings);
    else
        convert(queued, outcome);
    outcome.view = pipeline.view();
    outcome.source = pipeline.sourceView(queued.request.settings);
    const CPicture& preview = pipeline.preview();
    outcome.previewSize = QSize(preview.m_cxPixels, preview.m_cyPixels);
    outcome.originalSize = pipeline.originalSize();
    return outcome;
}

void ConversionService::Shared::convert(const Queued& queued, ConversionOutcome& outcome)
{
    const ConversionRequest& request = queued.request;
    const QString folder =
        request.kind == ConversionKind::BatchFile ? request.destinationFolder : QString();
    const QString output =
        request.kind == ConversionKind::Preview || request.kind == ConversionKind::BatchFile
            ? QString()
            : request.outputPath;
    outcome.conversion = pipeline.Convert(request.sourcePath, request.settings, folder, output,
                                          outcome.temporaryPath);
    describeFailure(request, outcome);
}

// Results travel to the service's thread under the mutex; Qt's queue only
// carries the wake-up, so every hand-over is one ThreadSanitizer can follow. The
// wake-up is posted under the mutex too, so the service cannot end meanwhile.
void ConversionService::Shared::deliver(ConversionService* service, ConversionOutcome outcome)
{
    const std::lock_guard lock(mutex);
    if (stopping)
        return;
    const bool wakeService = results.empty();
    results.push_back(std::move(outcome));
    if (wakeService)
        QMetaObject::invokeMethod(service, &ConversionService::deliverResults,
                                  Qt::QueuedConnection);
}

void ConversionService::deliverResults()
{
    for (;;) {
        ConversionOutcome outcome;
        {
            const std::lock_guard lock(m_shared->mutex);
            if (m_shared->results.empty())
                return;
            outcome = std::move(m_shared->results.front());
            m_shared->results.pop_front();
        }
        emit converted(outcome);
    }
}
