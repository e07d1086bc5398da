#include "batch/BatchRun.h"

#include "batch/CompleteResults.h"
#include "batch/ResultNames.h"
#include "imaging/DecodeCancel.h"
#include "imaging/MemoryBudget.h"
#include "imaging/NativePaths.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

// A picture name needs no more copies than this; past it the folder is treated
// as unable to take the result.
constexpr int kMostCopies = 9999;

} // namespace

void runBelowNormalPriority()
{
#ifdef Q_OS_LINUX
    // Linux keeps a nice value per thread; 5 steps is about a third of the
    // processor share against a thread of normal priority.
    const id_t thread = id_t(::gettid());
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, thread);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, thread, std::min(nice + 5, 19));
#endif
}

BatchRun::BatchRun(const BatchJob& job, const EffectHost* effects, MemoryBudget* budget,
                   std::atomic<int>& cancel, Reports reports)
    : m_job(job), m_effects(effects), m_budget(budget), m_cancel(cancel),
      m_reports(std::move(reports))
{}

BatchSummary BatchRun::execute()
{
    // Nothing is read while nothing could be written.
    m_summary.destinationFailure = destinationFolderFailure(targetFolder());
    if (m_summary.destinationFailure.failed())
        return m_summary;
    BatchList list = batchList(m_job.sourceFolder, m_job.files, m_job.destinationFolder,
                               m_job.fileDestinations);
    m_sources = std::move(list.sources);
    m_summary.earlierResults = list.earlierResults;
    for (const BatchSource& source : m_sources)
        m_sourceKeys.insert(source.key);
    takeOwnShard();
    m_inPlace.assign(m_sources.size(), QString());
    if (m_job.skipExisting && m_job.outputFile.isEmpty())
        findResultsInPlace();
    const qsizetype count = qsizetype(m_sources.size());
    m_summary.total = int(count);
    m_outcomes.resize(m_sources.size());
    m_ready.assign(m_sources.size(), 0);
    m_asking = bool(m_reports.question);
    const int jobs =
        m_job.jobs >= 1 ? m_job.jobs : int(std::max(1u, std::thread::hardware_concurrency()));
    m_runAhead = 2 * qsizetype(jobs) + 8;
    m_reports.progress(0, m_summary.total);
    if (m_asking || jobs == 1 || count < 2)
        convertFileByFile();
    else
        convertInParallel(int(std::min<qsizetype>(jobs, count)));
    m_summary.cancelled = cancelled();
    return m_summary;
}

// Every shard lists the whole run, so that a name belonging to a source in
// another shard is known as taken; then it keeps only its own sources.
void BatchRun::takeOwnShard()
{
    if (m_job.shard.isWhole())
        return;
    std::erase_if(m_sources, [this](const BatchSource& source) {
        return !inShard(shardKey(m_job.destinationFolder, source.destination, source.path),
                        m_job.shard);
    });
}

// In list order, before anything converts: each source's result name is
// looked for as putInPlace would choose it, and a name found for one source
// is kept from the others, so the sources that still convert get the names a
// whole run would give them.
void BatchRun::findResultsInPlace()
{
    for (qsizetype index = 0; index < qsizetype(m_sources.size()); ++index)
        m_inPlace[index] = resultInPlace(index);
}

// The result of source `index` when it is in place and whole; empty when the
// source converts (its name is then held for it if free or a result of ours).
QString BatchRun::resultInPlace(qsizetype index)
{
    const BatchSource& source = m_sources[index];
    const std::optional<QSize> size = expectedResultSize(source.path, m_reports.settings());
    if (!size)
        return {};
    ResultName name{resultStemOf(source.path), *size, 1};
    const QString folder = resultFolderOf(source, *size);
    for (; name.copy <= kMostCopies; ++name.copy) {
        const QString target = folder + resultFileName(name);
        const QString key = fileIdentity(target);
        if (m_sourceKeys.contains(key) || m_claimed.contains(key))
            continue;
        if (!hasEntry(target)) {
            m_claimed.insert(key, index);
            return {};
        }
        if (looksWrittenByPictavo(target, name.size)) {
            m_claimed.insert(key, index);
            return isCompleteResult(target, name.size) ? target : QString();
        }
    }
    return {};
}

// The result folder of `source` as the user spelled it, ending in '/'.
QString BatchRun::resultFolderOf(const BatchSource& source, QSize size) const
{
    const QString usual = directoryOutputPath(source.destination, source.path, size);
    return usual.chopped(QFileInfo(usual).fileName().size());
}

// While a question is asked, each file is asked about before the next starts,
// with the settings of that moment.
void BatchRun::convertFileByFile()
{
    for (qsizetype index = 0; index < qsizetype(m_sources.size()); ++index) {
        Outcome outcome = convert(index);
        finish(index, outcome);
    }
}

// Workers take the files in list order and convert them at once; this thread
// puts the results in place in list order, so the files and reports are the
// same with any number of workers.
void BatchRun::convertInParallel(int workers)
{
    std::vector<std::jthread> threads;
    for (int i = 0; i < workers; ++i) {
        try {
            threads.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // No memory or no thread left for another worker: the run goes on
            // with those it has, or on this thread alone.
            break;
        }
    }
    if (threads.empty())
        work();
    for (qsizetype index = 0; index < qsizetype(m_sources.size()); ++index) {
        Outcome outcome;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_ready[index] != 0; });
            outcome = std::move(m_outcomes[index]);
        }
        finish(index, outcome);
    }
}

void BatchRun::work()
{
    if (m_job.lowPriority)
        runBelowNormalPriority();
    for (;;) {
        const qsizetype index = m_next.fetch_add(1);
        if (index >= qsizetype(m_sources.size()))
            return;
        Outcome outcome;
        if (waitForTurn(index))
            outcome = convert(index);
        {
            const std::lock_guard lock(m_mutex);
            m_outcomes[index] = std::move(outcome);
            m_ready[index] = 1;
        }
        m_changed.notify_all();
    }
}

// Waits while this file lies too far ahead of the last one put in place. False
// when the batch is cancelled meanwhile.
bool BatchRun::waitForTurn(qsizetype index)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return index < m_finished + m_runAhead || cancelled(); });
    return index < m_finished + m_runAhead;
}

void BatchRun::wakeWaiters()
{
    { const std::lock_guard lock(m_mutex); }
    m_changed.notify_all();
    if (m_budget != nullptr)
        m_budget->wakeWaiters();
}

BatchRun::Outcome BatchRun::convert(qsizetype index)
{
    Outcome outcome;
    if (cancelled())
        return outcome;
    if (!m_inPlace[index].isEmpty()) {
        outcome.status = Status::InPlace;
        return outcome;
    }
    // A cancel ends the decodes under way on this thread too.
    const DecodeCancelScope stopDecodes(m_cancel);
    try {
        convertWithinBudget(m_sources[index], outcome);
    } catch (const std::bad_alloc&) {
        outcome = Outcome();
        outcome.status = Status::Skipped;
        outcome.skip = {BatchSkip::Step::Convert, {FileProblem::OutOfMemory, 0}, QString(), {}};
    }
    return outcome;
}

void BatchRun::convertWithinBudget(const BatchSource& source, Outcome& outcome)
{
    const ConversionSettings settings = m_reports.settings();
    outcome.status = Status::Skipped;
    // Special files, giants and files that are no picture are refused here,
    // before anything but their header is read.
    const MemoryEstimate estimate = ConversionPipeline::estimateMemory(source.path, settings);
    if (estimate.failure.failed()) {
        outcome.skip = {BatchSkip::Step::Read, estimate.failure, QString(), {}};
        return;
    }
    std::optional<MemoryReservation> reservation;
    if (m_budget != nullptr) {
        reservation.emplace(*m_budget, estimate.bytes, [this] { return cancelled(); });
        if (!reservation->isHeld()) {
            outcome.status = Status::NotStarted;
            return;
        }
    }
    {
        // A fresh pipeline for every file: nothing of one file stays in memory
        // while the next converts, and nothing of it shapes the next one's
        // bytes. The core's failures come back in the result, never as boxes.
        ConversionPipeline pipeline(m_effects);
        outcome.result = pipeline.Convert(source.path, settings, QString(), QString(), QString());
        if (m_asking)
            outcome.view = pipeline.view();
        outcome.skip.messages = outcome.result.messages;
    }
    const ConversionResult& result = outcome.result;
    // Cut short by a stop, whatever the pipeline made of it: left out, not failed.
    const bool stopped = cancelled() || result.readFailure.problem == FileProblem::Cancelled;
    if (stopped && !result.converted()) {
        outcome = Outcome();
        return;
    }
    if (result.readFailure.failed()) {
        outcome.skip.step = BatchSkip::Step::Read;
        outcome.skip.failure = result.readFailure;
        return;
    }
    if (!result.converted()) {
        outcome.skip.step = BatchSkip::Step::Convert;
        outcome.skip.failure = result.writeFailure;
        return;
    }
    if (result.limitMissed) {
        // Never a file above the limit the user set.
        outcome.skip.step = BatchSkip::Step::Convert;
        outcome.skip.failure.problem = FileProblem::AboveSizeLimit;
        outcome.skip.bytesAtLowestQuality = result.bytesAtLowestQuality;
        return;
    }
    auto file = std::make_unique<PendingFile>(targetFolder());
    if (!file->isOpen() || !file->write(result.jpeg) || !file->sync()) {
        outcome.skip = {BatchSkip::Step::Write, file->failure(), targetFolder(), {}};
        return;
    }
    outcome.result.jpeg.clear();
    outcome.pending = std::move(file);
    outcome.status = Status::Converted;
}

QString BatchRun::targetFolder() const
{
    if (!m_job.outputFile.isEmpty())
        return absoluteFolderOf(m_job.outputFile);
    return absolutePathOf(m_job.destinationFolder);
}

void BatchRun::finish(qsizetype index, Outcome& outcome)
{
    switch (outcome.status) {
    case Status::NotStarted:
        ++m_summary.notStarted;
        break;
    case Status::Skipped:
        skip(m_sources[index].path, outcome.skip);
        break;
    case Status::Converted:
        putInPlace(index, outcome);
        break;
    case Status::InPlace:
        m_summary.alreadyDone << m_inPlace[index];
        if (m_reports.fileInPlace)
            m_reports.fileInPlace(m_sources[index].path, m_inPlace[index]);
        break;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_finished = index + 1;
    }
    m_changed.notify_all();
    if (outcome.status != Status::NotStarted)
        m_reports.progress(int(index + 1), m_summary.total);
}

void BatchRun::putInPlace(qsizetype index, Outcome& outcome)
{
    const BatchSource& source = m_sources[index];
    QString target = m_job.outputFile;
    FileFailure failure;
    if (m_job.outputFile.isEmpty())
        failure = commitUnderFreeName(source, outcome, target);
    else if (m_sourceKeys.contains(fileIdentity(target)))
        // A file the user named is replaced, unless it is a source of the run.
        failure = failureFromError(EEXIST, true);
    else if (!outcome.pending->commit(target))
        failure = outcome.pending->failure();
    if (failure.failed()) {
        skip(source.path, {BatchSkip::Step::Write, failure, target, {}});
        return;
    }
    ++m_summary.converted;
    outcome.result.outputPath = target;
    outcome.result.written = true;
    BatchFileResult file{source.path, target, {}, outcome.result, outcome.view};
    const QString usualName =
        QFileInfo(directoryOutputPath(source.destination, source.path,
                                      outcome.result.outputSize))
            .fileName();
    if (m_job.outputFile.isEmpty() && QFileInfo(target).fileName() != usualName) {
        file.takenName = usualName;
        m_summary.renamed << QStringLiteral("%1 -> %2").arg(usualName, QFileInfo(target).fileName());
    }
    m_reports.fileDone(file);
    if (m_asking)
        ask(file);
    else
        m_summary.accepted << file.output;
}

// The first of "<stem> WxH.jpg", "<stem> WxH (2).jpg", ... that is neither a
// source nor another result of this run, and either free or an earlier result
// of that very name and size, which it replaces.
FileFailure BatchRun::commitUnderFreeName(const BatchSource& source, Outcome& outcome,
                                          QString& target)
{
    ResultName name{resultStemOf(source.path), outcome.result.outputSize, 1};
    const QString folder = resultFolderOf(source, outcome.result.outputSize);
    const qsizetype index = qsizetype(&source - m_sources.data());
    for (; name.copy <= kMostCopies; ++name.copy) {
        target = folder + resultFileName(name);
        const QString key = fileIdentity(target);
        if (m_sourceKeys.contains(key) || m_claimed.value(key, index) != index)
            continue;
        const bool placed = hasEntry(target)
                                ? looksWrittenByPictavo(target, name.size) &&
                                      outcome.pending->commit(target)
                                : outcome.pending->commitAsNew(target);
        if (placed) {
            m_claimed.insert(key, index);
            return {};
        }
        if (outcome.pending->failure().failed())
            return outcome.pending->failure();
    }
    return failureFromError(EEXIST, true);
}

void BatchRun::skip(const QString& source, const BatchSkip& skip)
{
    if (skip.step == BatchSkip::Step::Read)
        m_summary.unreadable << QFileInfo(source).fileName();
    else
        m_summary.unwritten << QFileInfo(source).fileName();
    m_reports.fileSkipped(source, skip);
}

void BatchRun::ask(const BatchFileResult& file)
{
    switch (m_reports.question(file)) {
    case BatchAnswer::Yes:
        m_summary.accepted << file.output;
        break;
    case BatchAnswer::No:
        break;
    case BatchAnswer::Cancel:
        m_cancel.store(1);
        break;
    case BatchAnswer::YesToAll:
        m_asking = false;
        m_summary.accepted << file.output;
        break;
    }
}
