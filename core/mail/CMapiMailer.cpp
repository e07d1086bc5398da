#include "mail/CMapiMailer.h"

#include "mail/MailHandOff.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// The full path must fit a buffer of 1024 characters with its terminating zero.
constexpr qsizetype kMaxFullPath = 1023;

// xdg-email's exit status as a Simple MAPI result:
//   0  success                                 -> SUCCESS_SUCCESS
//   1  error in the command line               -> MAPI_E_FAILURE
//   2  one of the files does not exist         -> MAPI_E_ATTACHMENT_NOT_FOUND
//   3  no tool found to open a mail client     -> MAPI_E_FAILURE
//   4  the mail client (or the hook) failed    -> MAPI_E_FAILURE
//   5  no permission to read one of the files  -> MAPI_E_ATTACHMENT_OPEN_FAILURE
//   anything else                              -> MAPI_E_FAILURE
int resultOfExitCode(int exitCode)
{
    switch (exitCode) {
    case 0:
        return CMapiMailer::SUCCESS_SUCCESS;
    case 2:
        return CMapiMailer::MAPI_E_ATTACHMENT_NOT_FOUND;
    case 5:
        return CMapiMailer::MAPI_E_ATTACHMENT_OPEN_FAILURE;
    default:
        return CMapiMailer::MAPI_E_FAILURE;
    }
}

// Exit statuses with which xdg-email gives up before starting any mail client (syntax,
// a missing file, no tool, an unreadable file, an unwritable file). Only then can the
// copies handed over for this message go at once.
bool refusedBeforeMailClient(int exitCode)
{
    return exitCode == 1 || exitCode == 2 || exitCode == 3 || exitCode == 5 || exitCode == 6;
}

// How often a waiting send looks whether xdg-email has returned where the wait cannot
// be woken by its end (see waitForClient).
constexpr auto kFallbackInterval = 20ms;

// A file descriptor, closed with the object.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }

private:
    int m_fd;
};

// The spawn's file actions and attributes, destroyed with the object.
class SpawnSetup
{
public:
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawnattr_init(&m_attributes);
    }
    ~SpawnSetup()
    {
        posix_spawnattr_destroy(&m_attributes);
        posix_spawn_file_actions_destroy(&m_actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

// Starts `program` with `arguments`, every standard stream on /dev/null: no pipe that
// nobody reads, and a mail client that xdg-email leaves running never writes into one.
// Never through a shell, so every text reaches xdg-email as one argument, unchanged.
// Returns the process id, or -1 when it could not be started.
pid_t startProcess(const QString& program, const QStringList& arguments)
{
    std::vector<QByteArray> encoded{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        encoded.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& argument : encoded)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.m_actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&setup.m_actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&setup.m_actions, 2, "/dev/null", O_WRONLY, 0);
    // The client starts with no signal blocked and SIGPIPE at its default, whatever
    // the sending thread had.
    sigset_t signalSet;
    sigemptyset(&signalSet);
    posix_spawnattr_setsigmask(&setup.m_attributes, &signalSet);
    sigaddset(&signalSet, SIGPIPE);
    posix_spawnattr_setsigdefault(&setup.m_attributes, &signalSet);
    posix_spawnattr_setflags(&setup.m_attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &setup.m_actions, &setup.m_attributes, argv.data(), environ) != 0)
        return -1;
    return pid;
}

// Waits for `pid` to end; false when it could not be waited for.
bool waitForEnd(pid_t pid, int& status)
{
    pid_t ended = -1;
    do
        ended = waitpid(pid, &status, 0);
    while (ended < 0 && errno == EINTR);
    return ended == pid;
}

// A descriptor that poll() reports readable once `pid` has ended; -1 where the kernel
// has none (pidfd_open came with Linux 5.3: ENOSYS before).
int openProcessDescriptor(pid_t pid)
{
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

enum class ClientWait
{
    Ended, // xdg-email has ended; it is not reaped yet
    Left,  // the stop was requested first
    TimedOut,
    Failed, // it cannot be waited for
};

// Sleeps in poll() until xdg-email ends, `leave` is requested or `deadline` passes; the
// stop callback wakes it through an eventfd, on whichever thread requests the stop.
// Without a process descriptor or an eventfd (an old kernel, or no descriptor left) the
// missing wake-up is made up for by looking every kFallbackInterval.
ClientWait waitForClient(pid_t pid, std::chrono::steady_clock::time_point deadline,
                         const std::stop_token& leave)
{
    const FileDescriptor process(openProcessDescriptor(pid));
    const FileDescriptor wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    // Declared after `wake`, so that it is gone, and no longer writes, before `wake` closes.
    const std::stop_callback onLeave(leave, [&wake] {
        const std::uint64_t one = 1;
        if (wake.isOpen())
            (void)!::write(wake.get(), &one, sizeof one);
    });
    const bool wokenByBoth = process.isOpen() && wake.isOpen();
    // poll() passes over the entries of a descriptor that could not be opened (-1).
    pollfd watched[2] = {{process.get(), POLLIN, 0}, {wake.get(), POLLIN, 0}};
    for (;;) {
        // In the order of precedence: a client that has ended is never left or killed.
        siginfo_t info{};
        if (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) < 0) {
            if (errno != EINTR)
                return ClientWait::Failed;
        } else if (info.si_pid == pid) {
            return ClientWait::Ended;
        }
        if (leave.stop_requested())
            return ClientWait::Left;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return ClientWait::TimedOut;
        auto timeout = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        if (!wokenByBoth)
            timeout = std::min<std::chrono::milliseconds>(timeout, kFallbackInterval);
        const int milliseconds =
            int(std::min<std::chrono::milliseconds::rep>(timeout.count(), INT_MAX));
        if (::poll(watched, 2, milliseconds) < 0 && errno != EINTR)
            return ClientWait::Failed;
    }
}

// Lets a started xdg-email run on with nobody waiting for its result; a thread of its
// own reaps it when it ends, so that it does not linger as a zombie.
void leaveRunning(pid_t pid)
{
    std::thread([pid] {
        int status = 0;
        waitForEnd(pid, status);
    }).detach();
}

} // namespace

int CMapiMailer::LoadMapi()
{
    m_mailClient = QStandardPaths::findExecutable(QStringLiteral("xdg-email"));
    return 0;
}

QString CMapiMailer::AddAttachment(const QString& path, unsigned position)
{
    // QFileInfo makes a relative path absolute against the current working directory.
    const QString fullPath =
        path.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString fileName = QFileInfo(fullPath).fileName();
    if (fullPath.isEmpty() || fullPath.size() > kMaxFullPath || fileName.isEmpty() ||
        path.endsWith(QLatin1Char('/')) || path.endsWith(QDir::separator())) {
        return QStringLiteral("Anhang '%1' kann nicht gefunden werden").arg(path);
    }
    m_attachments.push_back({fileName, fullPath, position});
    return QString();
}

CMapiMailer::SendResult CMapiMailer::SendMail(const QString& subject, const QString& text,
                                              const QString& recipient, std::stop_token leave)
{
    if (!IsLoaded())
        LoadMapi();
    if (!IsLoaded())
        return NoMailClientResult();

    MailHandOff handOff;
    const ClientRun run =
        runMailClient(clientArguments(subject, text, recipient, handOff), leave);
    if (run.messageRefused)
        handOff.discard();
    ClearAttachments();
    if (run.result == SUCCESS_SUCCESS)
        return {};
    if (run.stopped)
        return {run.result, QStringLiteral("Das Mailprogramm hat nicht geantwortet und wurde "
                                           "beendet; die Mail wurde nicht versendet.")};
    return {run.result, GetErrorText(unsigned(run.result))};
}

CMapiMailer::SendResult CMapiMailer::NoMailClientResult() const
{
    const QString folder =
        m_attachments.empty() ? QString() : QFileInfo(m_attachments.front().fullPath).path();
    return {MAPI_E_FAILURE,
            QStringLiteral("Es kann kein Mailprogramm gestartet werden: xdg-email (Paket "
                           "xdg-utils) wurde nicht gefunden."),
            true, folder};
}

QStringList CMapiMailer::clientArguments(const QString& subject, const QString& text,
                                         const QString& recipient, MailHandOff& handOff) const
{
    // Qt passes every argument as UTF-8; "--utf8" tells xdg-email so whatever the locale.
    QStringList arguments{QStringLiteral("--utf8")};
    // xdg-email refuses an empty option value, so an empty text is left out.
    if (!subject.isEmpty())
        arguments << QStringLiteral("--subject") << subject;
    // xdg-email turns each line break into CR LF itself; a CR of our own would double.
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (!body.isEmpty())
        arguments << QStringLiteral("--body") << body;
    for (const Attachment& attachment : m_attachments)
        arguments << QStringLiteral("--attach")
                  << handOff.handOver(attachment.fullPath, attachment.fileName);
    if (!recipient.isEmpty())
        arguments << recipient;
    return arguments;
}

CMapiMailer::ClientRun CMapiMailer::runMailClient(const QStringList& arguments,
                                                  const std::stop_token& leave) const
{
    const pid_t pid = startProcess(m_mailClient, arguments);
    if (pid < 0)
        return {MAPI_E_FAILURE, true};
    int status = 0;
    switch (waitForClient(pid, std::chrono::steady_clock::now() + m_clientTimeout, leave)) {
    case ClientWait::Ended:
        if (!waitForEnd(pid, status))
            return {MAPI_E_FAILURE, false};
        break;
    case ClientWait::Left:
        // Nobody waits for the result any more; the message goes its way all the same.
        leaveRunning(pid);
        return {SUCCESS_SUCCESS, false};
    case ClientWait::TimedOut:
        // Whether a message ever reached a mail client is unknown, so it does not count
        // as sent. What xdg-email started may still read the copies, so they stay.
        kill(pid, SIGKILL);
        waitForEnd(pid, status);
        return {MAPI_E_FAILURE, false, true};
    case ClientWait::Failed:
        // Reaped, if it is still there, by a thread of its own.
        leaveRunning(pid);
        return {MAPI_E_FAILURE, false};
    }
    if (!WIFEXITED(status))
        return {MAPI_E_FAILURE, false};
    const int exitCode = WEXITSTATUS(status);
    return {resultOfExitCode(exitCode), refusedBeforeMailClient(exitCode)};
}

QString CMapiMailer::GetErrorText(unsigned code)
{
    switch (code) {
    case MAPI_USER_ABORT:
        return QStringLiteral("Vorgang duch Benutzer abgebrochen");
    case MAPI_E_FAILURE:
        return QStringLiteral("One or more unspecified errors occurred. No message was sent.\r\n");
    case MAPI_E_LOGIN_FAILURE:
        return QStringLiteral("There was no default logon, and the user failed to log on "
                              "successfully when the logon dialog box was displayed. No message "
                              "was sent.\r\n");
    case MAPI_E_INSUFFICIENT_MEMORY:
        return QStringLiteral("There was insufficient memory to proceed. No message was sent.\r\n");
    case MAPI_E_TOO_MANY_FILES:
        return QStringLiteral("There were too many file attachments. No message was sent.\r\n");
    case MAPI_E_TOO_MANY_RECIPIENTS:
        return QStringLiteral("There were too many recipients. No message was sent.\r\n");
    case MAPI_E_ATTACHMENT_NOT_FOUND:
        return QStringLiteral("The specified attachment was not found. No message was sent.\r\n");
    case MAPI_E_ATTACHMENT_OPEN_FAILURE:
        return QStringLiteral(
            "The specified attachment could not be opened. No message was sent.\r\n");
    case MAPI_E_UNKNOWN_RECIPIENT:
        return QStringLiteral(
            "A recipient did not appear in the address list. No message was sent.\r\n");
    case MAPI_E_BAD_RECIPTYPE:
        return QStringLiteral("The type of a recipient was not MAPI_TO, MAPI_CC, or MAPI_BCC. No "
                              "message was sent.\r\n");
    case MAPI_E_TEXT_TOO_LARGE:
        return QStringLiteral("The text in the message was too large. No message was sent.\r\n");
    case MAPI_E_AMBIGUOUS_RECIPIENT:
        return QStringLiteral("A recipient matched more than one of the recipient descriptor "
                              "structures and MAPI_DIALOG was not set. No message was sent.\r\n");
    case MAPI_E_INVALID_RECIPS:
        return QStringLiteral(
            "One or more recipients were invalid or did not resolve to any address.\r\n");
    default:
        return QStringLiteral("Unknown error code.\r\n");
    }
}

void CMapiMailer::ClearAttachments()
{
    m_attachments.clear();
}
