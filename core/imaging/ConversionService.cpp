#include "imaging/ConversionService.h"

#include "imaging/FileFailure.h"

#include <QFileInfo>

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

} // namespace

ConversionService::ConversionService(std::function<int()> temporaryNumber,
                                     const EffectHost* effects, QObject* parent)
    : QObject(parent), m_temporaryNumber(std::move(temporaryNumber)),
      m_pipeline(std::make_unique<ConversionPipeline>(effects))
{
    qRegisterMetaType<ConversionOutcome>();
    m_thread = std::thread([this] { work(); });
}

ConversionService::~ConversionService()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.dropViewRequests();
    }
    m_wake.notify_all();
    m_thread.join();
}

quint64 ConversionService::post(const ConversionRequest& request)
{
    quint64 id = 0;
    {
        const std::lock_guard lock(m_mutex);
        id = m_queue.push(request);
    }
    m_wake.notify_all();
    return id;
}

bool ConversionService::isIdle() const
{
    const std::lock_guard lock(m_mutex);
    return m_queue.empty() && !m_running && m_results.empty();
}

void ConversionService::work()
{
    Queued next;
    while (takeNext(next))
        deliver(execute(next));
}

bool ConversionService::takeNext(Queued& next)
{
    std::unique_lock lock(m_mutex);
    m_running = false;
    m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
    if (m_queue.empty())
        return false;
    next = m_queue.take();
    m_running = true;
    return true;
}

ConversionOutcome ConversionService::execute(const Queued& queued)
{
    ConversionOutcome outcome;
    outcome.id = queued.id;
    outcome.kind = queued.request.kind;
    outcome.sourcePath = queued.request.sourcePath;
    if (queued.request.kind == ConversionKind::Redraw) {
        m_pipeline->RedrawView(queued.request.settings);
    } else {
        // Every run writes under a fresh name, which lives for this run only.
        outcome.temporaryPath = temporaryPicturePath(m_temporaryNumber());
        convert(queued, outcome);
    }
    outcome.view = m_pipeline->view();
    outcome.source = m_pipeline->sourceView(queued.request.settings);
    const CPicture& preview = m_pipeline->preview();
    outcome.previewSize = QSize(preview.m_cxPixels, preview.m_cyPixels);
    outcome.originalSize = m_pipeline->originalSize();
    return outcome;
}

void ConversionService::convert(const Queued& queued, ConversionOutcome& outcome)
{
    const ConversionRequest& request = queued.request;
    const QString folder =
        request.kind == ConversionKind::BatchFile ? request.destinationFolder : QString();
    const QString output =
        request.kind == ConversionKind::Preview || request.kind == ConversionKind::BatchFile
            ? QString()
            : request.outputPath;
    outcome.conversion = m_pipeline->Convert(request.sourcePath, request.settings, folder, output,
                                             outcome.temporaryPath);
    describeFailure(request, outcome);
}

// Results travel to the service's thread under m_mutex; Qt's queue only carries
// the wake-up, so every hand-over is one ThreadSanitizer can follow.
void ConversionService::deliver(ConversionOutcome outcome)
{
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        wake = m_results.empty();
        m_results.push_back(std::move(outcome));
    }
    if (wake)
        QMetaObject::invokeMethod(this, &ConversionService::deliverResults, Qt::QueuedConnection);
}

void ConversionService::deliverResults()
{
    for (;;) {
        ConversionOutcome outcome;
        {
            const std::lock_guard lock(m_mutex);
            if (m_results.empty())
                return;
            outcome = std::move(m_results.front());
            m_results.pop_front();
        }
        emit converted(outcome);
    }
}
