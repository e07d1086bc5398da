#include "batch/BatchConversion.h"

#include "batch/BatchRun.h"

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

void BatchConversion::setQuestion(Question question)
{
    m_question = std::move(question);
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
    setSettings(job.settings);
    const BatchSummary summary = execute(job, false);
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
    reports.question = m_question;
    reports.settings = [this] { return currentSettings(); };
    return BatchRun(job, m_effects, m_budget, m_cancel, std::move(reports)).execute();
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
        QMetaObject::invokeMethod(this, "deliverReports", Qt::QueuedConnection);
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
    emit finished(summary);
}
