#include "platform/shutdownsignals.h"

#include <QCoreApplication>
#include <QEvent>

#ifndef Q_OS_WIN
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace Platform {

#ifndef Q_OS_WIN
namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: one byte into the pipe, handled in the event loop.
void onSignal(int)
{
    const char byte = 1;
    const ssize_t written = ::write(signalPipe[0], &byte, 1);
    (void)written;
}

// Reads the pipe in the event loop and ends it.
class TerminationNotifier : public QSocketNotifier
{
public:
    TerminationNotifier(QCoreApplication *app)
        : QSocketNotifier(signalPipe[1], QSocketNotifier::Read, app)
        , app(app)
    {
    }

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::SockAct)
            return QSocketNotifier::event(event);
        setEnabled(false);
        char byte;
        const ssize_t got = ::read(signalPipe[1], &byte, 1);
        (void)got;
        app->exit(0);
        return true;
    }

private:
    QCoreApplication *app;
};

}
#endif

void quitOnTerminationRequest(QCoreApplication *app)
{
#ifndef Q_OS_WIN
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    new TerminationNotifier(app);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
#else
    Q_UNUSED(app)
#endif
}

}
