// A directory conversion as one object of the core, for the window and for
// pictavo-cli alike: it walks the list (the pictures of a folder pattern by
// pattern, or given files; each file once, never its own outputs), names each
// output "<destination>/<name> <W>x<H>.jpg", writes it as a pending file in the
// destination that appears under that name only once whole (a source that does
// not decode writes nothing), and reports as it goes.
//
// Without a question, files convert in parallel (BatchJob::jobs) within a
// memory budget; the files are the same bytes with any number of workers and
// the same the window writes for the same source and settings. With a question,
// the batch runs file by file and asks after each file is written.
//
// The object lives on one thread (its owner). start() runs the batch on a thread
// of its own and delivers every signal on the owner's thread through its event
// loop; run() works on the calling thread and emits there.
#pragma once

#include "batch/BatchJob.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class EffectHost;
class MemoryBudget;

class BatchConversion final : public QObject
{
    Q_OBJECT
public:
    // Asked on the batch's thread after each written file, while the batch
    // waits; the file's own fileDone is reported first. Must return soon once
    // the batch is cancelled (see cancelFlag).
    using Question = std::function<BatchAnswer(const BatchFileResult& file)>;

    // `effects` may be null and must outlive the object.
    explicit BatchConversion(const EffectHost* effects, QObject* parent = nullptr);
    // Cancels a running batch and waits for its thread.
    ~BatchConversion() override;

    // Before start() or run(): the question (empty: none), and the memory budget
    // pictures start within (null: no limit; must outlive the batch).
    void setQuestion(Question question);
    void setMemoryBudget(MemoryBudget* budget);

    // The settings for every file that starts after this call. Any thread.
    void setSettings(const ConversionSettings& settings);

    // Starts `job` on a thread of its own. Owner thread; only while !isRunning().
    void start(const BatchJob& job);

    // Runs `job` on the calling thread, which must be the owner's, and returns
    // what finished() reports as well.
    BatchSummary run(const BatchJob& job);

    // Ends the batch after the files under way: they are still put in place,
    // the others are left out. Any thread; async-signal-safe.
    void cancel() { m_cancel.store(1); }
    bool isCancelled() const { return m_cancel.load() != 0; }
    // Non-zero once cancelled, for a question that polls it.
    const std::atomic<int>& cancelFlag() const { return m_cancel; }

    // From start() until finished() is emitted. Owner thread.
    bool isRunning() const { return m_thread.joinable(); }

signals:
    // `done` of `total` files handled, in list order; (0, total) first, once the
    // list is known.
    void progress(int done, int total);
    void fileDone(const QString& source, const QString& output, const BatchFileResult& file);
    void fileSkipped(const QString& source, const BatchSkip& skip);
    // The batch has ended (its thread too); start() may be called again.
    void finished(const BatchSummary& summary);

private:
    BatchSummary execute(const BatchJob& job, bool onOwnThread);
    ConversionSettings currentSettings() const;
    void report(std::function<void()> signal);
    Q_INVOKABLE void deliverReports();
    void endThread(const BatchSummary& summary);

    const EffectHost* m_effects;
    Question m_question;
    MemoryBudget* m_budget = nullptr;
    std::atomic<int> m_cancel{0};
    static_assert(std::atomic<int>::is_always_lock_free);
    // A standard thread rather than a QThread: ThreadSanitizer follows only
    // threads that instrumented code starts.
    std::thread m_thread;

    mutable std::mutex m_settingsMutex;
    ConversionSettings m_settings; // guarded by m_settingsMutex

    // Reports on their way from the batch's thread to the owner's.
    std::mutex m_reportMutex;
    std::vector<std::function<void()>> m_reports; // guarded by m_reportMutex
};
