#pragma once

// Loopback sockets for the benchmarks, plain descriptors so that the figures measure the relay
// under test and not the benchmark's own socket objects; and the gateway's process around them.
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

// A ser2net configuration in dir, tuned as the benchmarks use it: no delays, 64 KiB buffers, five
// clients sharing one connector; returns its path.
inline QString writeSer2netConfig(const QString &dir, quint16 port, const QString &connector)
{
    const QString config = dir + QStringLiteral("/ser2net.yaml");
    QFile file(config);
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral("connection: &bench\n"
                              "    accepter: tcp(nodelay),127.0.0.1,%1\n"
                              "    connector: %2\n"
                              "    options:\n"
                              "      max-connections: 5\n"
                              "      chardelay: false\n"
                              "      dev-to-net-bufsize: 65536\n"
                              "      net-to-dev-bufsize: 65536\n")
                       .arg(port)
                       .arg(connector)
                       .toLatin1());
    return config;
}

inline int listenOn(quint16 *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    ::listen(fd, 16);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    *port = ntohs(address.sin_port);
    return fd;
}

inline quint16 freePort()
{
    quint16 port = 0;
    ::close(listenOn(&port));
    return port;
}

// Connects to 127.0.0.1:port, retrying while the relay is still coming up.
inline int connectTo(quint16 port)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return fd;
        }
        ::close(fd);
        QThread::msleep(25);
    }
    return -1;
}

inline bool sendAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// The program's environment for a benchmark: settings, logs and runtime files in home, and an
// update check that reaches this machine only.
inline QProcessEnvironment isolatedEnvironment(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
        env.insert(QLatin1String(variable), home);
    env.insert(QStringLiteral("VQGATEWAY_UPDATE_URL"),
               QStringLiteral("http://127.0.0.1:9/none.xml"));
    return env;
}

// Waits until a relay just started takes connections on port, and, for a relay with a device
// link of its own, until that link is up: a gateway's comes up 300 ms after its start.
inline void waitUntilServing(QProcess *process, quint16 port, bool withDeviceLink)
{
    process->waitForStarted();
    ::close(connectTo(port));
    if (withDeviceLink)
        QThread::msleep(400);
}

inline void stopProcess(QProcess *process)
{
    process->terminate();
    process->waitForFinished(10000);
    delete process;
}

// A number from a process's /proc file, such as "VmRSS:" of "status"; 0 when it cannot be read.
inline qint64 procValue(qint64 pid, const char *file, const char *key)
{
    QFile status(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').first().toLongLong();
    return 0;
}

inline QByteArray fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The machine the figures come from, printed above them.
inline void printMachine()
{
    QByteArray cpu, memory, os;
    for (const QByteArray &line : fileText(QStringLiteral("/proc/cpuinfo")).split('\n'))
        if (cpu.isEmpty() && line.startsWith("model name"))
            cpu = line.mid(line.indexOf(':') + 2);
    for (const QByteArray &line : fileText(QStringLiteral("/proc/meminfo")).split('\n'))
        if (line.startsWith("MemTotal:"))
            memory = QByteArray::number(
                    line.mid(9).trimmed().split(' ').first().toLongLong() / 1024 / 1024 + 1);
    for (const QByteArray &line : fileText(QStringLiteral("/etc/os-release")).split('\n'))
        if (line.startsWith("PRETTY_NAME="))
            os = line.mid(12).replace('"', "");
    std::printf("machine: %s, %ld cores, %s GiB, %s, kernel %s, Qt %s\n\n", cpu.constData(),
                sysconf(_SC_NPROCESSORS_ONLN), memory.constData(), os.constData(),
                QSysInfo::kernelVersion().toLatin1().constData(), qVersion());
}

// The value below which the share p of the values lie.
inline double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.empty()
            ? 0
            : values.at(std::min(values.size() - 1, size_t(p * double(values.size()))));
}
