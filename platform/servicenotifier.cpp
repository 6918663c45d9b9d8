#include "platform/servicenotifier.h"

#include <QString>

#include <cstdint>

#if defined(VQ_HAVE_LIBSYSTEMD)
#include <systemd/sd-daemon.h>
#elif !defined(Q_OS_WIN)
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace Platform {

namespace {

#ifndef Q_OS_WIN
#ifdef VQ_HAVE_LIBSYSTEMD
void send(const char *state)
{
    sd_notify(0, state);
}

uint64_t watchdogUsec()
{
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? usec : 0;
}
#else
// Without libsystemd, its datagram protocol, which systemd keeps stable for programs that speak
// it themselves: one datagram of "NAME=value" lines to the socket NOTIFY_SOCKET names, a path or
// "@" for the abstract namespace.
void send(const char *state)
{
    const QByteArray path = qgetenv("NOTIFY_SOCKET");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() < 2 || size_t(path.size()) >= sizeof address.sun_path
        || (path.at(0) != '/' && path.at(0) != '@'))
        return;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    if (path.at(0) == '@')
        address.sun_path[0] = '\0';
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    ::sendto(fd, state, std::strlen(state), MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr *>(&address),
             socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size())));
    ::close(fd);
}

// The watchdog is meant for this process alone when WATCHDOG_PID says so, or says nothing.
uint64_t watchdogUsec()
{
    bool ok = false;
    const qint64 pid = qEnvironmentVariable("WATCHDOG_PID").toLongLong(&ok);
    if (qEnvironmentVariableIsSet("WATCHDOG_PID") && (!ok || pid != qint64(::getpid())))
        return 0;
    const uint64_t usec = qEnvironmentVariable("WATCHDOG_USEC").toULongLong(&ok);
    return ok ? usec : 0;
}
#endif
#endif

}

ServiceNotifier::ServiceNotifier(QObject *parent)
    : QObject(parent)
{
#ifndef Q_OS_WIN
    const uint64_t usec = watchdogUsec();
    if (usec == 0)
        return;
    connect(&watchdog, &QTimer::timeout, this, [this] { notify("WATCHDOG=1"); });
    watchdog.start(int(qBound<uint64_t>(1, usec / 2000, 24 * 3600 * 1000)));
    notify("WATCHDOG=1");
#endif
}

bool ServiceNotifier::isListened()
{
    return qEnvironmentVariableIsSet("NOTIFY_SOCKET");
}

void ServiceNotifier::notifyReady()
{
    notify("READY=1");
}

void ServiceNotifier::notifyStatus(const QString &status)
{
    // One line: a line end would start a field of its own.
    notify("STATUS=" + status.simplified().toUtf8());
}

void ServiceNotifier::notifyStopping()
{
    watchdog.stop();
    notify("STOPPING=1");
}

void ServiceNotifier::notify(const QByteArray &state)
{
#ifdef Q_OS_WIN
    Q_UNUSED(state)
#else
    send(state.constData());
#endif
}

}
