#include "platform/socketdescriptor.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace Platform {

void closeSocketDescriptor(qintptr descriptor)
{
    if (descriptor < 0)
        return;
#ifdef Q_OS_WIN
    ::closesocket(SOCKET(descriptor));
#else
    ::close(int(descriptor));
#endif
}

void resetOnClose(qintptr descriptor)
{
    const linger reset{1, 0};
#ifdef Q_OS_WIN
    setsockopt(SOCKET(descriptor), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&reset),
               sizeof reset);
#else
    setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
#endif
}

QHostAddress peerAddress(qintptr descriptor, quint16 *port)
{
    sockaddr_storage address{};
#ifdef Q_OS_WIN
    int size = sizeof address;
    if (::getpeername(SOCKET(descriptor), reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return QHostAddress();
#else
    socklen_t size = sizeof address;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return QHostAddress();
#endif
    if (port) {
        *port = address.ss_family == AF_INET6
                ? ntohs(reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port)
                : ntohs(reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
    }
    return QHostAddress(reinterpret_cast<const sockaddr *>(&address));
}

qintptr duplicateSocket(qintptr descriptor)
{
#ifdef Q_OS_WIN
    WSAPROTOCOL_INFOW info;
    if (WSADuplicateSocketW(SOCKET(descriptor), GetCurrentProcessId(), &info) != 0)
        return -1;
    const SOCKET copy = WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
                                   &info, 0, WSA_FLAG_OVERLAPPED);
    if (copy == INVALID_SOCKET)
        return -1;
    u_long nonBlocking = 1;
    ioctlsocket(copy, FIONBIO, &nonBlocking);
    return qintptr(copy);
#else
    const int copy = ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return -1;
    const int flags = ::fcntl(copy, F_GETFL);
    ::fcntl(copy, F_SETFL, flags | O_NONBLOCK);
    return copy;
#endif
}

SendResult sendSome(qintptr descriptor, const char *data, qint64 size, qint64 *sent)
{
    *sent = 0;
#ifdef Q_OS_WIN
    const int result = ::send(SOCKET(descriptor), data, int(qMin<qint64>(size, 1 << 30)), 0);
    if (result >= 0) {
        *sent = result;
        return SendResult::Sent;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? SendResult::Full : SendResult::Failed;
#else
    ssize_t result;
    do {
        result = ::send(int(descriptor), data, size_t(size), MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (result < 0 && errno == EINTR);
    if (result >= 0) {
        *sent = result;
        return SendResult::Sent;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK ? SendResult::Full : SendResult::Failed;
#endif
}

bool waitUntilWritable(qintptr descriptor, int timeoutMs)
{
#ifdef Q_OS_WIN
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(SOCKET(descriptor), &writable);
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, nullptr, &writable, nullptr, &timeout) > 0;
#else
    pollfd entry{int(descriptor), POLLOUT, 0};
    return ::poll(&entry, 1, timeoutMs) > 0 && (entry.revents & POLLOUT);
#endif
}

}
