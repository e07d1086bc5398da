#include "CliRunner.h"

#include "DirectoryWalk.h"
#include "EffectHost.h"
#include "MessageSink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// While a worker thread converts a picture, the core's messages for it are
// collected here and printed with the picture's own report; null otherwise.
thread_local QStringList* t_messages = nullptr;

class CliMessageSink final : public MessageSink
{
public:
    void showMessage(const QString& text, const QString& caption, MessageIcon) override
    {
        const QString line = caption + QStringLiteral(": ") + text.trimmed();
        if (t_messages != nullptr)
            t_messages->append(line);
        else
            std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    }
};

CliMessageSink g_sink;

// Sends the core's messages to g_sink for as long as the object lives.
class SinkInstallation
{
public:
    SinkInstallation() { installMessageSink(&g_sink); }
    ~SinkInstallation() { installMessageSink(nullptr); }
    SinkInstallation(const SinkInstallation&) = delete;
    SinkInstallation& operator=(const SinkInstallation&) = delete;
};

// Collects this thread's messages into `messages` for as long as the object lives.
class MessageCapture
{
public:
    explicit MessageCapture(QStringList& messages) { t_messages = &messages; }
    ~MessageCapture() { t_messages = nullptr; }
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;
};

bool standardErrorIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

constexpr int kProgressWidth = 30;

// Lock-free, so that a signal handler may set it.
std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

bool stopRequested()
{
    return g_stopRequested.load();
}

// The canonical folder of `path` joined with its file name: the same for every
// spelling of a path, without resolving a link that the name itself is.
QString identityOf(const QString& path)
{
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return QDir(folder.isEmpty() ? info.absolutePath() : folder).filePath(info.fileName());
}

QString folderOfKey(const QString& key)
{
    return QFileInfo(key).path();
}

// The name of `path` without folder and last extension, as directory naming uses it.
QString stemOf(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

bool isDigits(QStringView text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// For a file named like a result of directory naming, "STEM WxH.jpg", the stem of
// the source it would come from; otherwise an empty string. The stem may hold
// spaces itself, the size never does.
QString writerStemOf(const QString& fileName)
{
    if (!fileName.endsWith(QLatin1String(".jpg")))
        return {};
    const QStringView name = QStringView(fileName).chopped(4);
    const qsizetype space = name.lastIndexOf(u' ');
    if (space <= 0)
        return {};
    const QStringView size = name.mid(space + 1);
    const qsizetype x = size.indexOf(u'x');
    if (x < 0 || !isDigits(size.left(x)) || !isDigits(size.mid(x + 1)))
        return {};
    return name.left(space).toString();
}

qint64 memoryLimitOf(const CliOptions& options)
{
    return options.memoryMegabytes > 0 ? options.memoryMegabytes << 20
                                       : MemoryBudget::defaultLimit();
}

} // namespace

CliRunner::CliRunner(const CliOptions& options, const EffectHost& effects)
    : m_options(options), m_effects(effects),
      m_destination(options.destination.isEmpty() ? QStringLiteral(".") : options.destination),
      m_memory(memoryLimitOf(options)), m_runAhead(2 * qsizetype(options.jobs) + 8)
{}

bool CliRunner::checkPaths(QString& error) const
{
    if (!m_options.output.isEmpty()) {
        const QFileInfo output(m_options.output);
        if (QFileInfo(m_options.inputs.constFirst()).isDir())
            error = QStringLiteral("--output writes one picture, but '%1' is a folder")
                        .arg(m_options.inputs.constFirst());
        else if (output.isDir())
            error = QStringLiteral("--output: '%1' is a folder; use --dest to write into it")
                        .arg(m_options.output);
        else if (!QFileInfo(output.absolutePath()).isDir())
            error = QStringLiteral("--output: the folder '%1' does not exist").arg(output.path());
        return error.isEmpty();
    }
    const QFileInfo destination(m_destination);
    if (!destination.exists())
        error = QStringLiteral("--dest: the folder '%1' does not exist").arg(m_destination);
    else if (!destination.isDir())
        error = QStringLiteral("--dest: '%1' is not a folder").arg(m_destination);
    return error.isEmpty();
}

void CliRunner::requestStop()
{
    g_stopRequested.store(true);
}

int CliRunner::run()
{
    const SinkInstallation sink;
    m_destinationKey = QFileInfo(m_destination).canonicalFilePath();
    collectSources();
    findEarlierWriters();
    m_outcomes.resize(m_sources.size());
    m_ready.assign(m_sources.size(), 0);
    m_progress = standardErrorIsTerminal() && !m_sources.empty();

    const qsizetype workers = std::min<qsizetype>(m_options.jobs, qsizetype(m_sources.size()));
    {
        std::vector<std::jthread> threads;
        for (qsizetype i = 0; i < workers; ++i)
            threads.emplace_back([this] { work(); });
        finishInOrder();
    }
    clearProgress();
    if (m_notStarted > 0)
        printLine(stderr, QStringLiteral("pictavo-cli: stopped; %1 of %2 pictures not converted")
                              .arg(m_notStarted)
                              .arg(m_sources.size()));
    return m_failures == 0 && m_notStarted == 0 ? kCliExitSuccess : kCliExitFailure;
}

// Every folder is listed before anything is converted, so this run's own results
// never turn up as sources unless a file of that name was there before; and a
// file named twice (directly and through its folder, say) is converted once.
void CliRunner::collectSources()
{
    for (const QString& input : m_options.inputs) {
        const QFileInfo info(input);
        if (info.isDir()) {
            const QStringList pictures = picturesInFolder(input);
            if (pictures.isEmpty())
                printLine(stderr, QStringLiteral("pictavo-cli: %1: no pictures found").arg(input));
            for (const QString& picture : pictures)
                addSource(QDir::cleanPath(QDir(input).filePath(QFileInfo(picture).fileName())),
                          picture);
        } else {
            addSource(input, info.absoluteFilePath(),
                      info.exists() ? QString() : QStringLiteral("no such file or folder"));
        }
    }
}

void CliRunner::addSource(const QString& shown, const QString& path, const QString& problem)
{
    const QString key = identityOf(path);
    if (m_seenKeys.contains(key))
        return;
    m_seenKeys.insert(key);
    m_sources.push_back({shown, path, key, problem});
}

// Directory naming writes "STEM WxH.jpg" into the destination. A source there
// that is named so may be replaced by the result of an earlier source with that
// stem; it must not be read before that result is in place, and is not
// converted at all if it is that result.
void CliRunner::findEarlierWriters()
{
    m_earlierWriter.assign(m_sources.size(), -1);
    if (!m_options.output.isEmpty())
        return;
    QHash<QString, qsizetype> lastWithStem;
    for (qsizetype index = 0; index < qsizetype(m_sources.size()); ++index) {
        const Source& source = m_sources[index];
        if (folderOfKey(source.key) == m_destinationKey) {
            const QString stem = writerStemOf(QFileInfo(source.key).fileName());
            if (!stem.isEmpty())
                m_earlierWriter[index] = lastWithStem.value(stem, -1);
        }
        lastWithStem.insert(stemOf(source.path), index);
    }
}

void CliRunner::work()
{
    for (;;) {
        const qsizetype index = m_next.fetch_add(1);
        if (index >= qsizetype(m_sources.size()))
            return;
        Outcome outcome;
        if (waitForTurn(index))
            outcome = convert(index);
        else
            outcome.status = Status::NotStarted;
        {
            const std::lock_guard lock(m_mutex);
            m_outcomes[index] = std::move(outcome);
            m_ready[index] = 1;
        }
        m_changed.notify_all();
    }
}

// Waits while this picture lies too far ahead of the last one put in place.
// False when the run is to stop.
bool CliRunner::waitForTurn(qsizetype index)
{
    std::unique_lock lock(m_mutex);
    while (index >= m_committed + m_runAhead) {
        if (stopRequested())
            return false;
        m_changed.wait_for(lock, std::chrono::milliseconds(100));
    }
    return true;
}

// The result goes into a PendingFile in the folder of its final place. Only a
// complete result of a picture that decoded is put in place later, so a picture
// that cannot be read never leaves anything behind, and an existing file of the
// final name survives every failure.
CliRunner::Outcome CliRunner::convert(qsizetype index)
{
    const Source& source = m_sources[index];
    Outcome outcome;
    if (stopRequested()) {
        outcome.status = Status::NotStarted;
        return outcome;
    }
    if (!source.problem.isEmpty()) {
        outcome.problem = source.problem;
        return outcome;
    }
    if (isOwnOutput(index)) {
        outcome.status = Status::OwnOutput;
        return outcome;
    }
    try {
        convertWithinBudget(source, outcome);
    } catch (const std::bad_alloc&) {
        outcome = Outcome();
        outcome.problem = englishReason({FileProblem::OutOfMemory, 0});
    }
    return outcome;
}

void CliRunner::convertWithinBudget(const Source& source, Outcome& outcome)
{
    // Special files, giants and files that are no picture are refused here,
    // before anything but their header is read.
    const MemoryEstimate estimate = ConversionPipeline::estimateMemory(source.path, m_options.settings);
    if (estimate.failure.failed()) {
        outcome.problem = englishReason(estimate.failure) + QStringLiteral("; skipped");
        return;
    }
    const MemoryReservation reservation(m_memory, estimate.bytes, stopRequested);
    if (!reservation.isHeld()) {
        outcome.status = Status::NotStarted;
        return;
    }
    {
        // A fresh pipeline each time: one kept would hold its last picture.
        ConversionPipeline pipeline(&m_effects);
        const MessageCapture capture(outcome.messages);
        outcome.result = pipeline.Convert(source.path, m_options.settings, QString(), QString(),
                                          QString());
    }
    const ConversionResult& result = outcome.result;
    if (result.readFailure.failed()) {
        outcome.problem = englishReason(result.readFailure) + QStringLiteral("; skipped");
        return;
    }
    if (!result.converted()) {
        outcome.problem =
            QStringLiteral("could not be converted: %1").arg(englishReason(result.writeFailure));
        return;
    }
    auto file = std::make_unique<PendingFile>(targetFolder());
    if (!file->isOpen() || !file->write(result.jpeg) || !file->sync()) {
        outcome.problem = QStringLiteral("cannot write into the folder '%1': %2")
                              .arg(targetFolder(), englishReason(file->failure()));
        return;
    }
    outcome.result.jpeg.clear();
    outcome.pending = std::move(file);
    outcome.status = Status::Converted;
}

bool CliRunner::isOwnOutput(qsizetype index)
{
    const qsizetype writer = m_earlierWriter[index];
    if (writer < 0)
        return false;
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_committed > writer; });
    return m_written.contains(m_sources[index].key);
}

// The folder the results are put into.
QString CliRunner::targetFolder() const
{
    if (!m_options.output.isEmpty())
        return QFileInfo(m_options.output).absolutePath();
    return QFileInfo(m_destination).absoluteFilePath();
}

// Takes the outcomes in the order of the sources, whichever thread finishes
// first, so the report reads the same with any number of threads. Results are
// put in place in that order too, so the files are the same as well.
void CliRunner::finishInOrder()
{
    for (qsizetype index = 0; index < qsizetype(m_sources.size()); ++index) {
        Outcome outcome;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_ready[index] != 0; });
            outcome = std::move(m_outcomes[index]);
        }
        commit(m_sources[index], outcome);
        {
            const std::lock_guard lock(m_mutex);
            m_committed = index + 1;
        }
        m_changed.notify_all();
        showProgress(index + 1);
    }
}

void CliRunner::commit(const Source& source, Outcome& outcome)
{
    for (const QString& message : std::as_const(outcome.messages))
        printLine(stderr, message);
    if (outcome.status == Status::OwnOutput)
        return;
    if (outcome.status == Status::NotStarted) {
        ++m_notStarted;
        return;
    }
    if (outcome.status == Status::Failed) {
        ++m_failures;
        printLine(stderr, QStringLiteral("pictavo-cli: %1: %2").arg(source.shown, outcome.problem));
        return;
    }
    const QString target =
        m_options.output.isEmpty()
            ? directoryOutputPath(m_destination, source.path, outcome.result.outputSize)
            : m_options.output;
    if (!outcome.pending->commit(target)) {
        ++m_failures;
        printLine(stderr, QStringLiteral("pictavo-cli: %1: cannot write '%2': %3")
                              .arg(source.shown, target, englishReason(outcome.pending->failure())));
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_written.insert(identityOf(target));
    }
    const QString shownTarget = m_options.output.isEmpty() ? QDir::cleanPath(target) : target;
    printLine(stdout, QStringLiteral("%1 -> %2 (%3 Kb)")
                          .arg(source.shown, shownTarget)
                          .arg(outcome.result.kilobytes));
}

// A report that cannot be written (a closed pipe) ends the run like a signal:
// nobody would learn which pictures were converted.
void CliRunner::printLine(std::FILE* stream, const QString& line)
{
    clearProgress();
    const bool written = std::fprintf(stream, "%s\n", line.toLocal8Bit().constData()) >= 0;
    if (std::fflush(stream) != 0 || !written)
        requestStop();
}

// A bar on standard error, drawn only when that is a terminal; every other line
// clears it first and it is drawn again after.
void CliRunner::showProgress(qsizetype done)
{
    if (!m_progress)
        return;
    const qsizetype total = qsizetype(m_sources.size());
    const int filled = int(done * kProgressWidth / total);
    std::fprintf(stderr, "\r[%s%s] %lld/%lld", QByteArray(filled, '#').constData(),
                 QByteArray(kProgressWidth - filled, '.').constData(), qlonglong(done),
                 qlonglong(total));
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
