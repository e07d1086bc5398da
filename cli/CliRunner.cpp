#include "CliRunner.h"

#include "batch/BatchConversion.h"
#include "batch/BatchSources.h"
#include "batch/BatchTree.h"
#include "batch/ResultNames.h"
#include "InputList.h"
#include "JsonLine.h"
#include "imaging/DecodeCancel.h"
#include "imaging/NativeNames.h"
#include "imaging/NativePaths.h"

#include <QDir>
#include <QFileInfo>

#include <atomic>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool standardErrorIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

constexpr int kProgressWidth = 30;

// Lock-free, so that a signal handler may use them. The flag also catches a
// stop asked for before the batch runs.
std::atomic<bool> g_stopRequested{false};
std::atomic<BatchConversion*> g_batch{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<BatchConversion*>::is_always_lock_free);

qint64 memoryLimitOf(const CliOptions& options)
{
    return options.memoryMegabytes > 0 ? options.memoryMegabytes << 20
                                       : MemoryBudget::defaultLimit();
}

} // namespace

CliRunner::CliRunner(const CliOptions& options, const EffectHost& effects)
    : m_options(options), m_effects(effects),
      m_destination(options.destination.isEmpty() ? QStringLiteral(".") : options.destination),
      m_memory(memoryLimitOf(options))
{}

bool CliRunner::checkPaths(QString& error) const
{
    if (!m_options.output.isEmpty()) {
        const QFileInfo output(m_options.output);
        if (isFolder(m_options.inputs.constFirst()))
            error = QStringLiteral("--output writes one picture, but '%1' is a folder")
                        .arg(m_options.inputs.constFirst());
        else if (isFolder(m_options.output))
            error = QStringLiteral("--output: '%1' is a folder; use --dest to write into it")
                        .arg(m_options.output);
        else if (!isFolder(absoluteFolderOf(m_options.output)))
            error = QStringLiteral("--output: the folder '%1' does not exist").arg(output.path());
        else if (fileIdentity(m_options.output) == fileIdentity(m_options.inputs.constFirst()))
            error = QStringLiteral("--output: '%1' is the picture itself").arg(m_options.output);
        return error.isEmpty();
    }
    if (pathExists(m_destination) && !isFolder(m_destination))
        error = QStringLiteral("--dest: '%1' is not a folder").arg(m_destination);
    return error.isEmpty();
}

bool CliRunner::prepareDestination(QString& error)
{
    if (m_options.output.isEmpty() && !pathExists(m_destination)) {
        if (!makeFolders(m_destination)) {
            error = QStringLiteral("pictavo-cli: cannot create the folder '%1'").arg(m_destination);
            return false;
        }
        printLine(stderr, QStringLiteral("pictavo-cli: created the folder '%1'").arg(m_destination));
    }
    const FileFailure failure = destinationFolderFailure(targetFolder());
    if (failure.failed())
        error = QStringLiteral("pictavo-cli: cannot write into the folder '%1': %2")
                    .arg(m_options.output.isEmpty() ? m_destination : QFileInfo(m_options.output).path(),
                         englishReason(failure));
    return !failure.failed();
}

bool CliRunner::readInputList(QString& error)
{
    if (m_options.filesFrom.isEmpty())
        return true;
    const std::optional<QStringList> entries =
        ::readInputList(m_options.filesFrom, m_options.nullSeparated, error);
    if (entries)
        m_listed = *entries;
    return entries.has_value();
}

void CliRunner::requestStop()
{
    g_stopRequested.store(true);
    stopEveryDecode();
    if (BatchConversion* batch = g_batch.load())
        batch->cancel();
}

int CliRunner::run()
{
    BatchJob job;
    job.settings = m_options.settings;
    job.files = listPictures();
    job.fileDestinations = m_destinations;
    job.jobs = m_options.jobs;
    job.shard = m_options.shard;
    job.skipExisting = m_options.skipExisting;
    makeResultFolders(job.files);
    if (m_options.output.isEmpty())
        job.destinationFolder = m_destination;
    else
        job.outputFile = m_options.output;
    m_progress = standardErrorIsTerminal() && !job.files.isEmpty();

    BatchConversion batch(&m_effects);
    batch.setMemoryBudget(&m_memory);
    const auto stopIfAsked = [&batch] {
        if (g_stopRequested.load())
            batch.cancel();
    };
    connectReports(batch);
    QObject::connect(&batch, &BatchConversion::progress, [this, stopIfAsked](int done, int total) {
        stopIfAsked();
        showProgress(done, total);
    });

    m_clock.start();
    g_batch.store(&batch);
    const BatchSummary summary = batch.run(job);
    g_batch.store(nullptr);

    clearProgress();
    printEnd(summary);
    const bool failed = summary.destinationFailure.failed() || summary.failed() > 0 ||
                        summary.notStarted > 0;
    return failed ? kCliExitFailure : kCliExitSuccess;
}

void CliRunner::connectReports(BatchConversion& batch)
{
    QObject::connect(&batch, &BatchConversion::fileDone,
                     [this](const QString& source, const QString& output,
                            const BatchFileResult& file) { reportDone(source, output, file); });
    QObject::connect(&batch, &BatchConversion::fileSkipped,
                     [this](const QString& source, const BatchSkip& skip) {
                         reportSkip(source, skip);
                     });
    QObject::connect(&batch, &BatchConversion::fileInPlace,
                     [this](const QString& source, const QString& output) {
                         reportInPlace(source, output);
                     });
}

void CliRunner::reportDone(const QString& source, const QString& output,
                           const BatchFileResult& file)
{
    const QString shownOutput = m_options.output.isEmpty() ? QDir::cleanPath(output) : output;
    const ConversionResult& made = file.conversion;
    QString details = QStringLiteral("%1 Kb").arg(made.kilobytes);
    // Under a size limit: what the limit made of the picture.
    if (m_options.settings.m_nMaxKb > 0)
        details += QStringLiteral(", quality %1").arg(made.qualityUsed);
    if (made.shrunk)
        details += QStringLiteral(", made %1x%2")
                       .arg(made.outputSize.width())
                       .arg(made.outputSize.height());
    if (made.frames > 1)
        details += QStringLiteral(", first of %1 frames").arg(made.frames);
    if (!file.takenName.isEmpty())
        details += QStringLiteral(", '%1' is taken").arg(file.takenName);
    printLine(m_options.json ? stderr : stdout,
              QStringLiteral("%1 -> %2 (%3)").arg(shownName(source), shownOutput, details));
    if (m_options.json)
        printRecord(JsonLine()
                        .add("source", shownName(source))
                        .add("output", shownOutput)
                        .add("status", QStringLiteral("converted"))
                        .add("width", made.outputSize.width())
                        .add("height", made.outputSize.height())
                        .add("bytes", made.fileBytes)
                        .add("quality", made.qualityUsed > 0 ? made.qualityUsed
                                                             : m_options.settings.m_nQuality)
                        .text());
}

void CliRunner::reportInPlace(const QString& source, const QString& output)
{
    if (!m_options.json)
        return;
    const std::optional<ResultName> name = parseResultName(QFileInfo(output).fileName());
    JsonLine record;
    record.add("source", shownName(source))
        .add("output", QDir::cleanPath(output))
        .add("status", QStringLiteral("skipped"));
    if (name)
        record.add("width", name->size.width()).add("height", name->size.height());
    record.add("bytes", fileSizeOf(output)).add("reason", QStringLiteral("result in place"));
    printRecord(record.text());
}

void CliRunner::reportSkip(const QString& source, const BatchSkip& skip)
{
    for (const QString& message : skip.messages)
        printLine(stderr, message);
    printLine(stderr, skipLine(source, skip));
    if (m_options.json)
        printRecord(JsonLine()
                        .add("source", shownName(source))
                        .add("status", QStringLiteral("failed"))
                        .add("reason", skipReason(skip))
                        .text());
}

// One record a line; a record that cannot be written stops the run as a
// line for people does.
void CliRunner::printRecord(const QByteArray& record)
{
    clearProgress();
    const bool written = std::fprintf(stdout, "%s\n", record.constData()) >= 0;
    if (std::fflush(stdout) != 0 || !written)
        requestStop();
}

void CliRunner::printEnd(const BatchSummary& summary)
{
    if (!summary.alreadyDone.isEmpty())
        printLine(stderr, QStringLiteral("pictavo-cli: %1 results in place, not converted again")
                              .arg(summary.alreadyDone.size()));
    if (summary.destinationFailure.failed())
        printLine(stderr, QStringLiteral("pictavo-cli: cannot write into the folder '%1': %2")
                              .arg(targetFolder(), englishReason(summary.destinationFailure)));
    if (!summary.earlierResults.isEmpty())
        printLine(stderr, QStringLiteral("pictavo-cli: %1 earlier results left out, "
                                         "not converted again")
                              .arg(summary.earlierResults.size()));
    if (summary.notStarted > 0)
        printLine(stderr, QStringLiteral("pictavo-cli: stopped; %1 of %2 pictures not converted")
                              .arg(summary.notStarted)
                              .arg(summary.total));
    printLine(stderr, QStringLiteral("%1 converted, %2 skipped, %3 failed")
                          .arg(summary.converted)
                          .arg(summary.skipped())
                          .arg(summary.failed()));
    if (!m_options.json)
        return;
    for (const QString& earlier : summary.earlierResults)
        printRecord(JsonLine()
                        .add("source", shownName(earlier))
                        .add("status", QStringLiteral("skipped"))
                        .add("reason", QStringLiteral("earlier result"))
                        .text());
    const QByteArray counts = JsonLine()
                                  .add("total", summary.total)
                                  .add("converted", summary.converted)
                                  .add("skipped", summary.skipped())
                                  .add("failed", summary.failed())
                                  .addRaw("seconds", QByteArray::number(m_clock.elapsed() / 1000.0, 'f', 3))
                                  .text();
    printRecord(JsonLine().addRaw("summary", counts).text());
}

// The pictures of the command line in its order, folders expanded, then those
// of the --files-from list; the batch converts a file named twice once, under
// its first name.
QStringList CliRunner::listPictures()
{
    QStringList files;
    for (const QString& input : m_options.inputs + m_listed) {
        if (isFolder(input)) {
            addFolder(input, files);
        } else if (!m_shown.contains(absolutePathOf(input))) {
            m_shown.insert(absolutePathOf(input), input);
            files << input;
            m_destinations << m_destination;
        }
    }
    return files;
}

// A folder's pictures, and with -r those of its subfolders, whose results go
// into the same folders below the destination.
void CliRunner::addFolder(const QString& input, QStringList& files)
{
    std::vector<TreePicture> pictures;
    if (m_options.recursive) {
        pictures = picturesInTree(input, m_destination);
    } else {
        for (const QString& picture : picturesInFolder(input))
            pictures.push_back({QDir(input).filePath(QFileInfo(picture).fileName()), QString()});
    }
    if (pictures.empty())
        printLine(stderr, QStringLiteral("pictavo-cli: %1: no pictures found").arg(input));
    for (const TreePicture& picture : pictures) {
        const QString path = absolutePathOf(picture.path);
        if (m_shown.contains(path))
            continue;
        m_shown.insert(path, QDir::cleanPath(picture.path));
        files << path;
        m_destinations << (picture.subfolder.isEmpty()
                               ? m_destination
                               : QDir::cleanPath(m_destination + u'/' + picture.subfolder));
    }
}

// The folders below the destination that results of this shard go into; one
// that cannot be made fails its pictures when they are written.
void CliRunner::makeResultFolders(const QStringList& files)
{
    QSet<QString> made;
    for (qsizetype index = 0; index < files.size(); ++index) {
        const QString& folder = m_destinations[index];
        if (folder == m_destination || made.contains(folder) ||
            !inShard(shardKey(m_destination, folder, files[index]), m_options.shard))
            continue;
        made.insert(folder);
        if (!pathExists(folder))
            makeFolders(folder);
    }
}

// The folder the results are put into, as the batch names it.
QString CliRunner::targetFolder() const
{
    if (!m_options.output.isEmpty())
        return absoluteFolderOf(m_options.output);
    return absolutePathOf(m_destination);
}

QString CliRunner::shownName(const QString& path) const
{
    return m_shown.value(absolutePathOf(path), path);
}

QString CliRunner::skipLine(const QString& source, const BatchSkip& skip) const
{
    return QStringLiteral("pictavo-cli: %1: %2").arg(shownName(source), skipReason(skip));
}

QString CliRunner::skipReason(const BatchSkip& skip) const
{
    const QString reason = englishReason(skip.failure);
    QString text;
    switch (skip.step) {
    case BatchSkip::Step::Read:
        // A file that is not there was not skipped: there is nothing to skip.
        text = skip.failure.problem == FileProblem::NotFound ? reason
                                                             : reason + QStringLiteral("; skipped");
        break;
    case BatchSkip::Step::Convert:
        text = skip.failure.problem == FileProblem::AboveSizeLimit
                   ? QStringLiteral("at most %1 Kb cannot be reached (quality 1: %2 Kb); not written")
                         .arg(m_options.settings.m_nMaxKb)
                         .arg(skip.bytesAtLowestQuality / 1000)
                   : QStringLiteral("could not be converted: %1").arg(reason);
        break;
    case BatchSkip::Step::Write:
        text = skip.target == targetFolder()
                   ? QStringLiteral("cannot write into the folder '%1': %2").arg(skip.target, reason)
                   : QStringLiteral("cannot write '%1': %2").arg(skip.target, reason);
        break;
    }
    return text;
}

// A report that cannot be written (a closed pipe) ends the run like a signal:
// nobody would learn which pictures were converted.
void CliRunner::printLine(std::FILE* stream, const QString& line)
{
    clearProgress();
    // Names go out with the bytes they have on the disk, as ls and find print them.
    const bool written = std::fprintf(stream, "%s\n", nativeName(line).constData()) >= 0;
    if (std::fflush(stream) != 0 || !written)
        requestStop();
}

// A bar on standard error, drawn only when that is a terminal; every other line
// clears it first and it is drawn again after.
void CliRunner::showProgress(int done, int total)
{
    if (!m_progress || total <= 0)
        return;
    const int filled = done * kProgressWidth / total;
    // The time left at the pace so far; unknown before the first picture.
    QByteArray left;
    if (done > 0 && done < total) {
        const qint64 seconds = m_clock.elapsed() * (total - done) / done / 1000;
        left = QStringLiteral(", %1:%2 left")
                   .arg(seconds / 60)
                   .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                   .toLatin1();
    }
    std::fprintf(stderr, "\r[%s%s] %d/%d%s\033[K", QByteArray(filled, '#').constData(),
                 QByteArray(kProgressWidth - filled, '.').constData(), done, total,
                 left.constData());
    std::fflush(stderr);
    m_progressShown = true;
}

void CliRunner::clearProgress()
{
    if (!m_progressShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_progressShown = false;
}
