#include "CliRunner.h"

#include "batch/BatchConversion.h"
#include "batch/BatchSources.h"
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
    job.jobs = m_options.jobs;
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
    QObject::connect(&batch, &BatchConversion::fileDone,
                     [this](const QString& source, const QString& output,
                            const BatchFileResult& file) {
                         const QString shownOutput =
                             m_options.output.isEmpty() ? QDir::cleanPath(output) : output;
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
                         printLine(stdout, QStringLiteral("%1 -> %2 (%3)")
                                               .arg(shownName(source), shownOutput, details));
                     });
    QObject::connect(&batch, &BatchConversion::fileSkipped,
                     [this](const QString& source, const BatchSkip& skip) {
                         for (const QString& message : skip.messages)
                             printLine(stderr, message);
                         printLine(stderr, skipLine(source, skip));
                     });
    QObject::connect(&batch, &BatchConversion::progress, [this, stopIfAsked](int done, int total) {
        stopIfAsked();
        showProgress(done, total);
    });

    g_batch.store(&batch);
    const BatchSummary summary = batch.run(job);
    g_batch.store(nullptr);

    clearProgress();
    printEnd(summary);
    const bool failed = summary.destinationFailure.failed() || summary.failed() > 0 ||
                        summary.notStarted > 0;
    return failed ? kCliExitFailure : kCliExitSuccess;
}

void CliRunner::printEnd(const BatchSummary& summary)
{
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
}

// The pictures of the command line in its order, folders expanded; the batch
// converts a file named twice once, under its first name.
QStringList CliRunner::listPictures()
{
    QStringList files;
    const auto add = [&](const QString& shown, const QString& path) {
        m_shown.insert(absolutePathOf(path), shown);
        files << path;
    };
    for (const QString& input : m_options.inputs) {
        if (!isFolder(input)) {
            if (!m_shown.contains(absolutePathOf(input)))
                add(input, input);
            continue;
        }
        const QStringList pictures = picturesInFolder(input);
        if (pictures.isEmpty())
            printLine(stderr, QStringLiteral("pictavo-cli: %1: no pictures found").arg(input));
        for (const QString& picture : pictures) {
            if (!m_shown.contains(absolutePathOf(picture)))
                add(QDir::cleanPath(QDir(input).filePath(QFileInfo(picture).fileName())),
                    picture);
        }
    }
    return files;
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
    return QStringLiteral("pictavo-cli: %1: %2").arg(shownName(source), text);
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
    std::fprintf(stderr, "\r[%s%s] %d/%d", QByteArray(filled, '#').constData(),
                 QByteArray(kProgressWidth - filled, '.').constData(), done, total);
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
