#include "platform/socketdescriptor.h"

#include <QDir>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>
#endif

namespace Platform {

namespace {

// A reset, or a write after one, reads as Qt's sockets report it; anything else as the system
// says it.
QString failureText(int error)
{
#ifdef Q_OS_WIN
    if (error == WSAECONNRESET || error == WSAECONNABORTED)
        return peerResetText();
    return QStringLiteral("Network error %1").arg(error);
#else
    if (error == ECONNRESET || error == EPIPE)
        return peerResetText();
    return QString::fromLocal8Bit(std::strerror(error));
#endif
}

}

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

bool descriptorsLeft(int count)
{
#ifdef Q_OS_WIN
    Q_UNUSED(count)
    return true;
#else
    std::vector<int> opened;
    int fd;
    while (int(opened.size()) < count && (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0)
        opened.push_back(fd);
    for (const int fd : opened)
        ::close(fd);
    return int(opened.size()) == count;
#endif
}

qintptr acceptConnection(qintptr listener, bool *outOfDescriptors)
{
#ifdef Q_OS_WIN
    const SOCKET taken = ::accept(SOCKET(listener), nullptr, nullptr);
    const int error = taken == INVALID_SOCKET ? ::WSAGetLastError() : 0;
    *outOfDescriptors = error == WSAEMFILE || error == WSAENOBUFS;
    return taken == INVALID_SOCKET ? -1 : qintptr(taken);
#else
    int taken;
    do
        taken = ::accept4(int(listener), nullptr, nullptr, SOCK_CLOEXEC);
    while (taken < 0 && errno == EINTR);
    *outOfDescriptors = taken < 0
            && (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM);
    return taken;
#endif
}

QHostAddress refuseWaitingConnection(qintptr listener)
{
    sockaddr_storage address{};
#ifdef Q_OS_WIN
    int size = sizeof address;
    const SOCKET taken = ::accept(SOCKET(listener), reinterpret_cast<sockaddr *>(&address), &size);
    if (taken == INVALID_SOCKET)
        return QHostAddress();
    ::closesocket(taken);
#else
    socklen_t size = sizeof address;
    const int taken = ::accept(int(listener), reinterpret_cast<sockaddr *>(&address), &size);
    if (taken < 0)
        return QHostAddress();
    ::close(taken);
#endif
    return QHostAddress(reinterpret_cast<const sockaddr *>(&address));
}

void shutDownSocketsOnPort(quint16 port)
{
#ifdef Q_OS_WIN
    Q_UNUSED(port)
#else
    for (const QString &name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System)) {
        const int fd = name.toInt();
        sockaddr_storage address{};
        socklen_t size = sizeof address;
        int type = 0;
        socklen_t typeSize = sizeof type;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0
            || getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeSize) != 0 || type != SOCK_STREAM)
            continue;
        const quint16 local = address.ss_family == AF_INET6
                ? ntohs(reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port)
                : address.ss_family == AF_INET
                ? ntohs(reinterpret_cast<const sockaddr_in *>(&address)->sin_port)
                : 0;
        if (local == port)
            ::shutdown(fd, SHUT_RDWR);
    }
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

QString peerResetText()
{
    return QStringLiteral("The remote host closed the connection");
}

QString timedOutText()
{
#ifdef Q_OS_WIN
    return failureText(WSAETIMEDOUT);
#else
    return failureText(ETIMEDOUT);
#endif
}

#ifndef Q_OS_WIN
// Runs one non-blocking send or write, again when a signal interrupted it, and says how it went.
template<typename Send>
SendResult sendResult(Send send, qint64 *sent, QString *error)
{
    ssize_t result;
    do {
        result = send();
    } while (result < 0 && errno == EINTR);
    if (result >= 0) {
        *sent = result;
        return SendResult::Sent;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return SendResult::Full;
    if (error)
        *error = failureText(errno);
    return SendResult::Failed;
}
#endif

SendResult sendSome(qintptr descriptor, const char *data, qint64 size, qint64 *sent, QString *error)
{
    *sent = 0;
#ifdef Q_OS_WIN
    const int result = ::send(SOCKET(descriptor), data, int(qMin<qint64>(size, 1 << 30)), 0);
    if (result >= 0) {
        *sent = result;
        return SendResult::Sent;
    }
    if (WSAGetLastError() == WSAEWOULDBLOCK)
        return SendResult::Full;
    if (error)
        *error = failureText(WSAGetLastError());
    return SendResult::Failed;
#else
    return sendResult(
            [&] {
                return ::send(int(descriptor), data, size_t(size), MSG_DONTWAIT | MSG_NOSIGNAL);
            },
            sent, error);
#endif
}

SendResult writeSome(qintptr descriptor, const char *data, qint64 size, qint64 *sent,
                     QString *error)
{
    *sent = 0;
#ifdef Q_OS_WIN
    Q_UNUSED(descriptor);
    Q_UNUSED(data);
    Q_UNUSED(size);
    if (error)
        *error = QStringLiteral("Writing to a serial port directly is not supported here");
    return SendResult::Failed;
#else
    return sendResult([&] { return ::write(int(descriptor), data, size_t(size)); }, sent, error);
#endif
}

ReceiveResult receiveSome(qintptr descriptor, char *data, qint64 size, qint64 *received,
                          QString *error)
{
    *received = 0;
#ifdef Q_OS_WIN
    const int result = ::recv(SOCKET(descriptor), data, int(qMin<qint64>(size, 1 << 30)), 0);
    if (result < 0 && WSAGetLastError() == WSAEWOULDBLOCK)
        return ReceiveResult::Nothing;
    if (result < 0) {
        if (error)
            *error = failureText(WSAGetLastError());
        return ReceiveResult::Failed;
    }
#else
    ssize_t result;
    do {
        result = ::recv(int(descriptor), data, size_t(size), MSG_DONTWAIT);
    } while (result < 0 && errno == EINTR);
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return ReceiveResult::Nothing;
    if (result < 0) {
        if (error)
            *error = failureText(errno);
        return ReceiveResult::Failed;
    }
#endif
    *received = result;
    return result == 0 ? ReceiveResult::End : ReceiveResult::Received;
}

void prepareConnectedSocket(qintptr descriptor)
{
    const int on = 1;
#ifdef Q_OS_WIN
    u_long nonBlocking = 1;
    ioctlsocket(SOCKET(descriptor), FIONBIO, &nonBlocking);
    setsockopt(SOCKET(descriptor), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on),
               sizeof on);
#else
    ::fcntl(int(descriptor), F_SETFL, ::fcntl(int(descriptor), F_GETFL) | O_NONBLOCK);
    setsockopt(int(descriptor), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
#endif
}

void acknowledgeAtOnce(qintptr descriptor)
{
#ifdef Q_OS_LINUX
    const int on = 1;
    setsockopt(int(descriptor), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    Q_UNUSED(descriptor)
#endif
}

bool connectionGone(qintptr descriptor)
{
    // Asking for no event still reports a hang-up or an error.
#ifdef Q_OS_WIN
    WSAPOLLFD entry{SOCKET(descriptor), 0, 0};
    return ::WSAPoll(&entry, 1, 0) > 0 && (entry.revents & (POLLERR | POLLHUP));
#else
    pollfd entry{int(descriptor), 0, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLERR | POLLHUP));
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
