// pictavo-cli: converts pictures from the command line with the same conversion
// unit the window runs, so a script gets the very bytes the window would write.
#include "CliOptions.h"
#include "CliRunner.h"
#include "effects/EffectHost.h"
#include "imaging/PictureFormats.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

#include <sys/resource.h>

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

void stopOnSignal(int)
{
    CliRunner::requestStop();
}

// Ctrl+C and kill let the pictures under way finish, so that no temporary file
// is left behind; a closed output pipe shows up as a failed write instead.
void installSignalHandlers()
{
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
    // No window: QImage and the JPEG codecs need no more than the core application.
    QCoreApplication application(argc, argv);
    g_qtHandler = qInstallMessageHandler(dropEmptyNameWarning);
    QCoreApplication::setApplicationName(QStringLiteral("pictavo-cli"));

    QStringList arguments = QCoreApplication::arguments();
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
    if (!runner.prepareDestination(error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return kCliExitUsage;
    }
    return runner.run();
}
