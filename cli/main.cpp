// pictavo-cli: converts pictures from the command line with the same conversion
// unit the window runs, so a script gets the very bytes the window would write.
#include "CliOptions.h"
#include "CliRunner.h"
#include "effects/EffectHost.h"
#include "imaging/NativeNames.h"
#include "imaging/PictureFormats.h"

#include <QLoggingCategory>
#include <QCoreApplication>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include <malloc.h>
#include <semaphore.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QtMessageHandler g_qtHandler = nullptr;

// The runner hands the pipeline no temporary path (it names the output itself),
// and the pipeline removes that path unconditionally, which makes QFile warn
// about the empty name once for every picture. That warning says nothing to the
// user; every other message goes on to Qt's handler. Called on any thread.
void dropEmptyNameWarning(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message == QLatin1String("QFile::remove: Empty or null file name"))
        return;
    g_qtHandler(type, context, message);
}

// Ctrl+C and kill stop the run at once: the decodes under way end at their next
// read, pictures converted already are put in place, the rest are left out. The
// run then ends within milliseconds; what no stop reaches (a decoder that holds
// the whole file, scaling a huge picture, an effect) gets this long before the
// process ends without it, and a second signal ends it at once. A result is
// written as a nameless file and linked in under its name only once complete
// (see PendingFile.h), so ending at any moment leaves no partial result.
constexpr long kStopGraceMilliseconds = 750;

// Posted by the handler for every stop signal; sem_post is async-signal-safe.
sem_t g_stopSignals;
// Set once the run has returned: the process ends by itself from there on.
std::atomic<bool> g_runEnded{false};

void stopOnSignal(int)
{
    CliRunner::requestStop();
    sem_post(&g_stopSignals);
}

// Waits for a post; with a deadline, at most that long. False when it passed.
bool waitForStopSignal(const timespec* deadline)
{
    for (;;) {
        const int result = deadline != nullptr ? sem_timedwait(&g_stopSignals, deadline)
                                               : sem_wait(&g_stopSignals);
        if (result == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

// On a thread of its own: the end of a run that has not ended by itself.
void endStoppedRunLate()
{
    waitForStopSignal(nullptr);
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_nsec += kStopGraceMilliseconds * 1000000L;
    deadline.tv_sec += deadline.tv_nsec / 1000000000L;
    deadline.tv_nsec %= 1000000000L;
    waitForStopSignal(&deadline);
    if (g_runEnded.load())
        return;
    static const char kLine[] = "pictavo-cli: stopped\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kLine, sizeof kLine - 1);
    std::_Exit(kCliExitFailure);
}

// A closed output pipe shows up as a failed write.
void installSignalHandlers()
{
    sem_init(&g_stopSignals, 0, 0);
    // Waits in the semaphore until the process ends, one way or the other.
    std::thread(endStoppedRunLate).detach();
    std::signal(SIGINT, stopOnSignal);
    std::signal(SIGTERM, stopOnSignal);
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

// Every picture converted but not yet put in place holds an open file (see
// BatchRun), up to twice the jobs; many jobs need more than the usual soft limit.
void raiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int usageError(const QString& message)
{
    std::fprintf(stderr, "pictavo-cli: %s\nTry 'pictavo-cli --help' for more information.\n",
                 message.toLocal8Bit().constData());
    return kCliExitUsage;
}

void listEffects(const QStringList& names)
{
    for (qsizetype index = 0; index < names.size(); ++index)
        std::printf("%lld %s\n", qlonglong(index + 1), names[index].toLocal8Bit().constData());
}

void listFormats()
{
    for (const PictureFormat& format : readablePictureFormats())
        std::printf("%s: %s\n", format.name.toLocal8Bit().constData(),
                    format.extensions.join(u' ').toLocal8Bit().constData());
}

} // namespace

int main(int argc, char* argv[])
{
    // Every picture allocates and frees pictures of a few megabytes. glibc hands
    // such blocks back to the system at once by default, and the next picture
    // faults in fresh pages for them; kept in the heap, their pages serve the
    // pictures after them. The peak stays what one picture needs.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    // No window: QImage and the JPEG codecs need no more than the core application.
    QCoreApplication application(argc, argv);
    g_qtHandler = qInstallMessageHandler(dropEmptyNameWarning);
    // libpng's warnings about pictures it reads anyway ("known incorrect sRGB
    // profile") tell a user nothing; what a reader fails on is reported per picture.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio.info=false"));
    QCoreApplication::setApplicationName(QStringLiteral("pictavo-cli"));

    // By their bytes: QCoreApplication::arguments() loses names that are not UTF-8.
    QStringList arguments = nativeArguments(argc, argv);
    arguments.removeFirst();
    QString error;
    std::optional<CliOptions> options = parseCliArguments(arguments, error);
    if (!options)
        return usageError(error);
    if (options->action == CliAction::Help) {
        std::fputs(cliUsage().toLocal8Bit().constData(), stdout);
        return kCliExitSuccess;
    }
    if (options->action == CliAction::Version) {
        std::fputs("pictavo-cli " PICTAVO_VERSION "\n", stdout);
        return kCliExitSuccess;
    }

    if (options->action == CliAction::ListFormats) {
        listFormats();
        return kCliExitSuccess;
    }

    EffectHost effects;
    if (options->action == CliAction::ListEffects || !options->effect.isEmpty())
        effects.LoadEffectPlugin();
    if (options->action == CliAction::ListEffects) {
        listEffects(effects.effectNames());
        return kCliExitSuccess;
    }
    const std::optional<int> effect = effectNumber(options->effect, effects.effectNames(), error);
    if (!effect)
        return usageError(error);
    options->settings.m_nEffect = *effect;

    installSignalHandlers();
    raiseOpenFileLimit();
    CliRunner runner(*options, effects);
    if (!runner.checkPaths(error))
        return usageError(error);
    if (!runner.readInputList(error)) {
        std::fprintf(stderr, "pictavo-cli: %s\n", error.toLocal8Bit().constData());
        return kCliExitUsage;
    }
    if (!runner.prepareDestination(error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return kCliExitUsage;
    }
    const int status = runner.run();
    g_runEnded.store(true);
    return status;
}
