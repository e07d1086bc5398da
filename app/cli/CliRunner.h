// Runs the conversions of one pictavo-cli command: finds the pictures, converts
// them on several threads with the conversion unit the window uses, puts each
// result in place and reports it, in the order of the command line. A picture
// starts only while its memory estimate fits the run's MemoryBudget beside the
// pictures under way.
#pragma once

#include "CliOptions.h"
#include "ConversionPipeline.h"
#include "MemoryBudget.h"
#include "PendingFile.h"

#include <QSet>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

class EffectHost;

// Exit statuses of pictavo-cli.
inline constexpr int kCliExitSuccess = 0;
inline constexpr int kCliExitFailure = 1;
inline constexpr int kCliExitUsage = 2;

class CliRunner
{
public:
    // `options.settings.m_nEffect` must already be resolved against `effects`.
    // `effects` must outlive the runner; the worker threads only read it.
    CliRunner(const CliOptions& options, const EffectHost& effects);

    // Checks the destination folder or output file named on the command line.
    // False, with a message for the user, when they cannot be used.
    bool checkPaths(QString& error) const;

    // Converts every picture and reports each on standard output as
    // "SOURCE -> OUTPUT (N Kb)", failures on standard error. Returns
    // kCliExitSuccess or kCliExitFailure. Call once, after checkPaths().
    int run();

    // Asks every runner to take no further picture: conversions under way are
    // finished and put in place, the rest are left out and the run fails.
    // Async-signal-safe, so a signal handler may call it.
    static void requestStop();

private:
    // A picture to convert, from the command line or from a folder given there.
    struct Source
    {
        // As reported: the argument, or the folder as given joined with the name.
        QString shown;
        // Absolute path handed to the pipeline.
        QString path;
        // Identity for comparisons: the canonical folder joined with the name.
        QString key;
        // Why it cannot even be tried; empty when it can.
        QString problem;
    };

    enum class Status
    {
        Converted,
        OwnOutput,
        Failed,
        NotStarted,
    };

    struct Outcome
    {
        Status status = Status::Failed;
        // The converted file in the folder of its final place, not yet visible
        // there, waiting to be put in place.
        std::unique_ptr<PendingFile> pending;
        ConversionResult result;
        // Why it failed.
        QString problem;
        // What the core reported while converting this picture.
        QStringList messages;
    };

    void collectSources();
    void addSource(const QString& shown, const QString& path, const QString& problem = {});
    void findEarlierWriters();

    // Worker threads.
    void work();
    bool waitForTurn(qsizetype index);
    Outcome convert(qsizetype index);
    void convertWithinBudget(const Source& source, Outcome& outcome);
    bool isOwnOutput(qsizetype index);
    QString targetFolder() const;

    // The reporting thread (the one that called run()).
    void finishInOrder();
    void commit(const Source& source, Outcome& outcome);
    void printLine(std::FILE* stream, const QString& line);
    void showProgress(qsizetype done);
    void clearProgress();

    const CliOptions m_options;
    const EffectHost& m_effects;
    // Where directory naming writes: the destination as given, or ".".
    const QString m_destination;
    QString m_destinationKey;
    MemoryBudget m_memory;
    // How far the workers may run ahead of the pictures put in place: each
    // picture in between holds an open file.
    const qsizetype m_runAhead;

    std::vector<Source> m_sources;
    QSet<QString> m_seenKeys;
    // For each source, the last earlier source whose result could be written
    // over it (-1 for none); it waits for that one to be put in place first.
    std::vector<qsizetype> m_earlierWriter;

    // Shared between the worker threads and the reporting thread.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Outcome> m_outcomes;
    std::vector<char> m_ready;
    qsizetype m_committed = 0;
    QSet<QString> m_written;
    std::atomic<qsizetype> m_next{0};

    int m_failures = 0;
    int m_notStarted = 0;
    bool m_progress = false;
    bool m_progressShown = false;
};
