// The work of one directory conversion, on the thread that calls execute():
// each file converted with a pipeline of its own into a pending file in the
// final folder and put in place in the order of the list, file by file when a
// question is asked, otherwise by several workers at once. Knows nothing of Qt's
// objects; BatchConversion starts it and passes its reports on.
//
// Names are given in the order of the list, when a file is put in place (see
// ResultNames.h): a result never takes the name of a source of the run, of
// another result of the run or of a file that is no earlier result, and
// replaces only an earlier result of its own name.
#pragma once

#include "batch/BatchJob.h"
#include "batch/BatchSources.h"
#include "imaging/PendingFile.h"

#include <QHash>
#include <QSet>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class EffectHost;
class MemoryBudget;

// Lowers the calling thread's priority below normal (Linux: a higher nice
// value for this thread alone); threads it starts afterwards inherit it.
void runBelowNormalPriority();

class BatchRun
{
public:
    // Called on the thread that runs execute(), in the order of the list.
    struct Reports
    {
        std::function<void(int done, int total)> progress;
        std::function<void(const BatchFileResult& file)> fileDone;
        std::function<void(const QString& source, const BatchSkip& skip)> fileSkipped;
        // A source whose result `output` was found in place and whole
        // (BatchJob::skipExisting); may be empty.
        std::function<void(const QString& source, const QString& output)> fileInPlace;
        // Asked after each written file while it returns anything but
        // YesToAll; may be empty (no question).
        std::function<BatchAnswer(const BatchFileResult& file)> question;
        // The settings for the next file to start; called on worker threads.
        std::function<ConversionSettings()> settings;
    };

    // `effects` (may be null), `budget` (null: no limit) and `cancel` must
    // outlive the run; `cancel` becomes non-zero to stop it, the decodes under
    // way included (see DecodeCancel.h): a file a stop cut short is not started.
    BatchRun(const BatchJob& job, const EffectHost* effects, MemoryBudget* budget,
             std::atomic<int>& cancel, Reports reports);

    BatchSummary execute();

    // Lets every wait of the run look at the cancel flag again; called once the
    // flag is set, on any thread but a signal handler.
    void wakeWaiters();

private:
    enum class Status
    {
        Converted,
        Skipped,
        NotStarted,
        InPlace,
    };

    struct Outcome
    {
        Status status = Status::NotStarted;
        ConversionResult result;
        // The converted file in the final folder, not yet visible there.
        std::unique_ptr<PendingFile> pending;
        QImage view;
        BatchSkip skip;
    };

    bool cancelled() const { return m_cancel.load() != 0; }
    void convertFileByFile();
    void convertInParallel(int workers);
    void work();
    bool waitForTurn(qsizetype index);
    Outcome convert(qsizetype index);
    void convertWithinBudget(const BatchSource& source, Outcome& outcome);
    QString targetFolder() const;
    void finish(qsizetype index, Outcome& outcome);
    void putInPlace(qsizetype index, Outcome& outcome);
    FileFailure commitUnderFreeName(const BatchSource& source, Outcome& outcome, QString& target);
    void skip(const QString& source, const BatchSkip& skip);
    void takeOwnShard();
    void findResultsInPlace();
    QString resultInPlace(qsizetype index);
    QString resultFolderOf(const BatchSource& source, QSize size) const;
    void ask(const BatchFileResult& file);

    const BatchJob m_job;
    const EffectHost* m_effects;
    MemoryBudget* m_budget;
    std::atomic<int>& m_cancel;
    const Reports m_reports;
    std::vector<BatchSource> m_sources;
    // Identities of the sources (of every shard), and of the results given so
    // far with the index of their source: no result takes one of them but its
    // own source's. Only the thread that puts files in place uses them, and the
    // search for results in place before any worker starts.
    QSet<QString> m_sourceKeys;
    QHash<QString, qsizetype> m_claimed;
    // Per source, its result found in place and whole; empty when it converts.
    std::vector<QString> m_inPlace;
    BatchSummary m_summary;
    bool m_asking = false;
    // How far the workers may run ahead of the files put in place: each file in
    // between holds an open pending file.
    qsizetype m_runAhead = 1;

    // Shared by the workers and the thread that finishes the files in order.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Outcome> m_outcomes;
    std::vector<char> m_ready;
    qsizetype m_finished = 0;
    std::atomic<qsizetype> m_next{0};
};
