#include "TerminationWatcher.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int s_pipe[2] = {-1, -1};

void handleSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[0], &byte, 1);
}
} // namespace
#endif

TerminationWatcher::TerminationWatcher(QObject *parent) : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (s_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_pipe) != 0)
        return;
    m_notifier = new QSocketNotifier(s_pipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationWatcher::onSignal);
    struct sigaction action = {};
    action.sa_handler = handleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
#endif
}

TerminationWatcher::~TerminationWatcher()
{
#ifdef Q_OS_UNIX
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
#endif
}

void TerminationWatcher::ignoreBrokenPipes()
{
#ifdef Q_OS_UNIX
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
#endif
}

void TerminationWatcher::onSignal()
{
#ifdef Q_OS_UNIX
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(s_pipe[1], &byte, 1);
#endif
    Q_EMIT terminationRequested();
}
