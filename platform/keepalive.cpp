#include "platform/keepalive.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <mstcpip.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace Platform {

void enableKeepAlive(qintptr descriptor, int idleSeconds, int intervalSeconds, int probes)
{
#ifdef Q_OS_WIN
    const SOCKET s = SOCKET(descriptor);
    tcp_keepalive values{1, ULONG(idleSeconds) * 1000, ULONG(intervalSeconds) * 1000};
    DWORD returned = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
             nullptr);
#ifdef TCP_KEEPCNT
    const DWORD count = DWORD(probes);
    setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<const char *>(&count), sizeof count);
#else
    Q_UNUSED(probes)
#endif
#else
    const int fd = int(descriptor);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    // Keep-alive is silent while sent data waits for its acknowledgement; without this a peer
    // that vanished with data on its way would hold on for the retransmission's quarter hour.
    const unsigned int userTimeoutMs = unsigned(idleSeconds + intervalSeconds * probes) * 1000u;
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
#endif
}

}
