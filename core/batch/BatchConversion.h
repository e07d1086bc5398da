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
//
// The question is a value that crosses threads: the batch emits questionAsked
// on the owner's thread and waits until the owner calls answer() or anybody
// cancels; no object of the owner's is ever used on the batch's thread.
#pragma once

#include "batch/BatchJob.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <semaphore.h>

class EffectHost;
class MemoryBudget;

class BatchConversion final : public QObject
{
    Q_OBJECT
public:
    // `effects` may be null and must outlive the object.
    explicit BatchConversion(const EffectHost* effects, QObject* parent = nullptr);
    // Cancels a running batch and waits for its thread.
    ~BatchConversion() override;

    // Before start() or run(): whether the batch asks after each written file
    // (see questionAsked), and the memory budget pictures start within (null:
    // no limit; must outlive the batch). Owner thread.
    void setAsking(bool asking);
    void setMemoryBudget(MemoryBudget* budget);

    // The settings for every file that starts after this call. Any thread.
    void setSettings(const ConversionSettings& settings);

    // Starts `job` on a thread of its own. Owner thread; only while !isRunning().
    void start(const BatchJob& job);

    // Runs `job` on the calling thread, which must be the owner's, and returns
    // what finished() reports as well.
    BatchSummary run(const BatchJob& job);

    // The answer to the open question (see questionAsked). Owner thread. An
    // answer while no question is open (none asked yet, this one answered
    // already, or the batch has stopped waiting) is ignored.
    void answer(BatchAnswer answer);

    // Ends the batch: the decodes under way stop (see DecodeCancel.h), files
    // already converted are still put in place, the others are left out; an
    // open question counts as cancelled and the batch stops waiting for it at
    // once. Any thread; async-signal-safe (an atomic store and sem_post), so
    // that pictavo-cli's SIGINT handler may call it.
    void cancel();
    bool isCancelled() const { return m_cancel.load() != 0; }

    // From start() until finished() is emitted. Owner thread.
    bool isRunning() const { return m_thread.joinable(); }

signals:
    // `done` of `total` files handled, in list order; (0, total) first, once the
    // list is known.
    void progress(int done, int total);
    void fileDone(const QString& source, const QString& output, const BatchFileResult& file);
    void fileSkipped(const QString& source, const BatchSkip& skip);
    // BatchJob::skipExisting: the result `output` of `source` is in place and
    // whole, and the source was not converted again.
    void fileInPlace(const QString& source, const QString& output);
    // With setAsking(true), after each written file and its fileDone: the batch
    // waits until answer() or cancel() before it goes on. From start() the wait
    // is on the batch's thread, so a slot may show the question and return.
    // From run() the batch waits on this very thread, where nobody else could
    // answer: a slot must call answer() before it returns, and a question left
    // unanswered ends the batch as BatchAnswer::Cancel does.
    void questionAsked(const BatchFileResult& file);
    // The batch has ended (its thread too); start() may be called again.
    void finished(const BatchSummary& summary);

private:
    // Wakes the one thread that waits in wait(). post() is sem_post, which POSIX
    // lets a signal handler call; posts are counted, so one that comes before
    // the wait is not lost, and a stale one only makes the waiter look again.
    class Wake
    {
    public:
        Wake() { sem_init(&m_semaphore, 0, 0); }
        ~Wake() { sem_destroy(&m_semaphore); }
        Wake(const Wake&) = delete;
        Wake& operator=(const Wake&) = delete;

        void post() { sem_post(&m_semaphore); }
        void wait();
        // Forgets the posts so far.
        void clear();

    private:
        sem_t m_semaphore;
    };

    BatchSummary execute(const BatchJob& job, bool onOwnThread);
    BatchAnswer ask(const BatchFileResult& file, bool onOwnThread);
    ConversionSettings currentSettings() const;
    void report(std::function<void()> signal);
    void deliverReports();
    void endThread(const BatchSummary& summary);

    const EffectHost* m_effects;
    bool m_asking = false;
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

    // The question: open from its questionAsked until answer() (owner thread
    // only); the answer on its way to the thread that waits, which takes it.
    bool m_questionOpen = false;
    std::mutex m_answerMutex;
    std::optional<BatchAnswer> m_answer; // guarded by m_answerMutex
    // Posted by answer() and cancel() for the thread that waits for an answer.
    Wake m_answered;
    // Posted by cancel() for the thread that wakes the run's waits.
    Wake m_cancelled;
};
