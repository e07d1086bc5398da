#include "batch/BatchConversion.h"

#include "batch/BatchRun.h"

#include <cerrno>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

BatchConversion::BatchConversion(const EffectHost* effects, QObject* parent)
    : QObject(parent), m_effects(effects)
{
    qRegisterMetaType<BatchFileResult>();
    qRegisterMetaType<BatchSummary>();
    qRegisterMetaType<BatchSkip>();
}

BatchConversion::~BatchConversion()
{
    if (!m_thread.joinable())
        return;
    cancel();
    m_thread.join();
}

void BatchConversion::setAsking(bool asking)
{
    m_asking = asking;
}

void BatchConversion::setMemoryBudget(MemoryBudget* budget)
{
    m_budget = budget;
}

void BatchConversion::setSettings(const ConversionSettings& settings)
{
    const std::lock_guard lock(m_settingsMutex);
    m_settings = settings;
}

ConversionSettings BatchConversion::currentSettings() const
{
    const std::lock_guard lock(m_settingsMutex);
    return m_settings;
}

void BatchConversion::start(const BatchJob& job)
{
    Q_ASSERT(!isRunning());
    m_cancel.store(0);
    m_cancelled.clear();
    m_questionOpen = false;
    setSettings(job.settings);
    m_thread = std::thread([this, job] {
        if (job.lowPriority)
            runBelowNormalPriority();
        const BatchSummary summary = execute(job, true);
        report([this, summary] { endThread(summary); });
    });
}

BatchSummary BatchConversion::run(const BatchJob& job)
{
    Q_ASSERT(!isRunning());
    m_cancel.store(0);
    m_cancelled.clear();
    m_questionOpen = false;
    setSettings(job.settings);
    const BatchSummary summary = execute(job, false);
    m_questionOpen = false;
    emit finished(summary);
    return summary;
}

BatchSummary BatchConversion::execute(const BatchJob& job, bool onOwnThread)
{
    // Every report reaches the owner's thread: at once from run(), through
    // report() from the batch's own thread.
    const auto deliver = [this, onOwnThread](std::function<void()> signal) {
        if (onOwnThread)
            report(std::move(signal));
        else
            signal();
    };
    BatchRun::Reports reports;
    reports.progress = [this, deliver](int done, int total) {
        deliver([this, done, total] { emit progress(done, total); });
    };
    reports.fileDone = [this, deliver](const BatchFileResult& file) {
        deliver([this, file] { emit fileDone(file.source, file.output, file); });
    };
    reports.fileSkipped = [this, deliver](const QString& source, const BatchSkip& skip) {
        deliver([this, source, skip] { emit fileSkipped(source, skip); });
    };
    reports.fileInPlace = [this, deliver](const QString& source, const QString& output) {
        deliver([this, source, output] { emit fileInPlace(source, output); });
    };
    if (m_asking)
        reports.question = [this, onOwnThread](const BatchFileResult& file) {
            return ask(file, onOwnThread);
        };
    reports.settings = [this] { return currentSettings(); };
    BatchRun run(job, m_effects, m_budget, m_cancel, std::move(reports));
    // A cancel may come from a signal handler, which can only post: this thread
    // turns the post into wake-ups of the run's waits. The post that ends the
    // run wakes them once more, harmlessly.
    std::optional<std::thread> watcher;
    try {
        watcher.emplace([this, &run] {
            m_cancelled.wait();
            run.wakeWaiters();
        });
    } catch (const std::system_error&) {
        // No thread to be had: a cancel is then seen at the next picture.
    }
    const BatchSummary summary = run.execute();
    m_cancelled.post();
    if (watcher)
        watcher->join();
    return summary;
}

// Reports travel under m_reportMutex; Qt's queue only carries the wake-up, so
// every hand-over is one ThreadSanitizer can follow.
void BatchConversion::report(std::function<void()> signal)
{
    bool wake = false;
    {
        const std::lock_guard lock(m_reportMutex);
        wake = m_reports.empty();
        m_reports.push_back(std::move(signal));
    }
    if (wake)
        QMetaObject::invokeMethod(this, &BatchConversion::deliverReports, Qt::QueuedConnection);
}

void BatchConversion::deliverReports()
{
    std::vector<std::function<void()>> reports;
    {
        const std::lock_guard lock(m_reportMutex);
        reports.swap(m_reports);
    }
    for (const std::function<void()>& signal : reports)
        signal();
}

void BatchConversion::endThread(const BatchSummary& summary)
{
    m_thread.join();
    m_questionOpen = false;
    emit finished(summary);
}

// On the thread that executes the batch: its own from start(), the owner's
// from run(). The question reaches the owner like every other report, and the
// answer comes back through m_answer; this thread sleeps in m_answered until
// answer() or cancel() posts it.
BatchAnswer BatchConversion::ask(const BatchFileResult& file, bool onOwnThread)
{
    {
        const std::lock_guard lock(m_answerMutex);
        m_answer.reset();
    }
    // Posts left from an earlier question or cancel. A cancel from here on is
    // seen below either way: cancel() sets m_cancel before it posts.
    m_answered.clear();
    auto question = [this, file] {
        m_questionOpen = true;
        emit questionAsked(file);
    };
    if (onOwnThread)
        report(std::move(question));
    else
        question();
    for (;;) {
        if (isCancelled())
            return BatchAnswer::Cancel;
        {
            const std::lock_guard lock(m_answerMutex);
            if (m_answer)
                return *m_answer;
        }
        if (!onOwnThread) {
            // run(): the owner's thread is this one, so no answer can come any
            // more once the signal has returned.
            m_questionOpen = false;
            return BatchAnswer::Cancel;
        }
        m_answered.wait();
    }
}

void BatchConversion::answer(BatchAnswer answer)
{
    if (!m_questionOpen)
        return;
    m_questionOpen = false;
    {
        const std::lock_guard lock(m_answerMutex);
        m_answer = answer;
    }
    m_answered.post();
}

// Nothing here may lock or allocate: a signal handler may be the caller.
void BatchConversion::cancel()
{
    m_cancel.store(1);
    m_answered.post();
    m_cancelled.post();
}

void BatchConversion::Wake::wait()
{
    while (sem_wait(&m_semaphore) != 0 && errno == EINTR) {
    }
}

void BatchConversion::Wake::clear()
{
    while (sem_trywait(&m_semaphore) == 0) {
    }
}
