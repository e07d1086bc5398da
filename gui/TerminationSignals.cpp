#include "TerminationSignals.h"

#include "imaging/DecodeCancel.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may only do async-signal-safe things: it stops every decode
// (an atomic store), so that the end need not wait for one, and writes one
// byte, which the notifier reads in the event loop.
int g_socketPair[2] = {-1, -1};

void writeWakeUp(int)
{
    stopEveryDecode();
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_socketPair[0], &byte, 1);
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), m_onSignal(std::move(onSignal))
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_socketPair) != 0)
        return;
    m_notifier = new QSocketNotifier(g_socketPair[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(g_socketPair[1], &byte, 1);
        if (m_onSignal)
            m_onSignal();
    });
    struct sigaction action = {};
    action.sa_handler = writeWakeUp;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    delete m_notifier;
    for (int& end : g_socketPair) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}
