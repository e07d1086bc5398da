// Runs the conversions of one pictavo-cli command with the directory conversion
// the window uses (BatchConversion): expands the command line into a list of
// pictures and reports each as the batch finishes it, in the order of the
// command line, with the names as they were given.
#pragma once

#include "CliOptions.h"
#include "imaging/MemoryBudget.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdio>

class EffectHost;
class BatchConversion;
struct BatchFileResult;
struct BatchSkip;
struct BatchSummary;

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

    // Makes a missing destination folder (as mkdir -p does) and says so on
    // standard error, then checks that the results can be written there. False,
    // with the one line to show, when they cannot: nothing has been read then.
    bool prepareDestination(QString& error);

    // Reads the --files-from list, if any. False, with a message for the user,
    // when it cannot be read.
    bool readInputList(QString& error);

    // Converts every picture and reports each on standard output as
    // "SOURCE -> OUTPUT (N Kb)", failures on standard error, and ends with the
    // line "N converted, M skipped, K failed" on standard error. Returns
    // kCliExitSuccess or kCliExitFailure. Call once, after prepareDestination().
    int run();

    // Asks the run to end at once: the decodes under way stop (see
    // DecodeCancel.h), pictures converted already are put in place, the rest
    // are left out and the run fails. Async-signal-safe, so a signal handler may
    // call it.
    static void requestStop();

private:
    QStringList listPictures();
    void addFolder(const QString& input, QStringList& files);
    void makeResultFolders(const QStringList& files);
    void connectReports(BatchConversion& batch);
    void reportDone(const QString& source, const QString& output, const BatchFileResult& file);
    void reportInPlace(const QString& source, const QString& output);
    void reportSkip(const QString& source, const BatchSkip& skip);
    void printRecord(const QByteArray& record);
    QString targetFolder() const;
    QString shownName(const QString& path) const;
    QString skipLine(const QString& source, const BatchSkip& skip) const;
    QString skipReason(const BatchSkip& skip) const;
    void printEnd(const BatchSummary& summary);
    void printLine(std::FILE* stream, const QString& line);
    void showProgress(int done, int total);
    void clearProgress();

    const CliOptions m_options;
    const EffectHost& m_effects;
    // Where directory naming writes: the destination as given, or ".".
    const QString m_destination;
    MemoryBudget m_memory;
    // Absolute path of each picture -> its name as reported: the argument, or
    // the folder as given joined with the name.
    QHash<QString, QString> m_shown;
    // The --files-from entries, after the arguments.
    QStringList m_listed;
    // Per listed picture, the folder its result goes into: the destination, or
    // below it for a picture of a subfolder (-r).
    QStringList m_destinations;
    QElapsedTimer m_clock;
    bool m_progress = false;
    bool m_progressShown = false;
};
