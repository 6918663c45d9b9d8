// Routing benchmark of the real program on loopback: several controllers share one
// request/response device, each getting the replies to its own commands, with each reply rule.
// The device answers at once: an instrument (a line with '?' gets one reply line, any other none)
// and a modem (every line gets reply lines ending in OK, or an ERROR line). Prints the time per
// round or per command; the figures are in docs/performance.md.
#include "bench/benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Reads one line ending in LF, keeping what follows it for the next call.
QByteArray readLine(int fd, QByteArray *pending)
{
    for (;;) {
        const int end = pending->indexOf('\n');
        if (end >= 0) {
            const QByteArray line = pending->left(end + 1);
            pending->remove(0, end + 1);
            return line;
        }
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return QByteArray();
        pending->append(buffer, int(n));
    }
}

void sendLine(int fd, const QByteArray &line)
{
    sendAll(fd, line.constData(), line.size());
}

// The device: serves the gateway's one connection on a thread of its own.
class Device
{
public:
    enum Kind { Instrument, Modem };
    explicit Device(Kind kind)
        : kind(kind)
    {
        listenFd = listenOn(&port);
        server = std::thread([this] {
            const int fd = ::accept(listenFd, nullptr, nullptr);
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            QByteArray pending;
            for (QByteArray line; !(line = readLine(fd, &pending)).isEmpty();)
                sendLine(fd, answer(line.trimmed()));
            ::close(fd);
        });
    }
    ~Device()
    {
        ::shutdown(listenFd, SHUT_RDWR);
        ::close(listenFd);
        server.join();
    }
    quint16 port = 0;

private:
    QByteArray answer(const QByteArray &command) const
    {
        if (kind == Instrument)
            return command.contains('?') ? "1.234 " + command + "\r\n" : QByteArray();
        if (command.startsWith("ATERR"))
            return "ERROR " + command.mid(5) + "\r\n";
        return "+CSQ: " + command.mid(2) + "\r\n+CREG: " + command.mid(2) + "\r\nOK\r\n";
    }
    const Kind kind;
    int listenFd = -1;
    std::thread server;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values.at(values.size() / 2);
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Each figure shows as soon as it is measured.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QTemporaryDir home;
    // The real program, headless, with isolated settings and the rule given, in front of a device.
    const auto gateway = [&](quint16 devicePort, const QString &rule, quint16 *port) {
        auto *process = new QProcess(&app);
        process->setProcessEnvironment(isolatedEnvironment(home.path()));
        process->setStandardErrorFile(QProcess::nullDevice());
        *port = freePort();
        QStringList arguments{"--headless",
                              "--device",
                              QStringLiteral("127.0.0.1:%1").arg(devicePort),
                              "--listen",
                              QStringLiteral("127.0.0.1:%1").arg(*port),
                              "--reply-routing",
                              "--reply-end",
                              rule};
        if (rule == QLatin1String("pattern"))
            arguments << "--reply-end-pattern"
                      << "^(OK|ERROR.*)$";
        process->start(QStringLiteral(VQGATEWAY_EXECUTABLE), arguments);
        waitUntilServing(process, *port, true);
        return process;
    };
    std::printf("%-58s %10s\n", "two controllers, round = a set command and two queries",
                "median ms");
    for (const char *rule : {"query", "quiet"}) {
        Device device(Device::Instrument);
        quint16 port = 0;
        QProcess *process = gateway(device.port, QLatin1String(rule), &port);
        std::vector<double> rounds[2];
        std::vector<std::thread> controllers;
        for (int c = 0; c < 2; ++c)
            controllers.emplace_back([&, c] {
                const int fd = connectTo(port);
                QByteArray pending;
                for (int round = 0; round < (rule[1] == 'u' ? 40 : 200); ++round) {
                    QElapsedTimer timer;
                    timer.start();
                    sendLine(fd, "VOLT " + QByteArray::number(c * 1000 + round) + "\n");
                    for (const char *query : {"MEAS:VOLT?\n", "MEAS:CURR?\n"}) {
                        sendLine(fd, query);
                        readLine(fd, &pending);
                    }
                    rounds[c].push_back(double(timer.nsecsElapsed()) / 1e6);
                }
                ::close(fd);
            });
        for (std::thread &controller : controllers)
            controller.join();
        rounds[0].insert(rounds[0].end(), rounds[1].begin(), rounds[1].end());
        std::printf("  %-56s %10.2f\n", rule, median(rounds[0]));
        stopProcess(process);
    }
    std::printf("\n%-58s %10s\n", "one controller, 100 set commands then a query", "ms each");
    for (const char *rule : {"query", "quiet"}) {
        Device device(Device::Instrument);
        quint16 port = 0;
        QProcess *process = gateway(device.port, QLatin1String(rule), &port);
        const int fd = connectTo(port);
        QByteArray pending;
        QElapsedTimer timer;
        timer.start();
        for (int n = 0; n < 100; ++n)
            sendLine(fd, "SOUR:VOLT " + QByteArray::number(n) + "\n");
        sendLine(fd, "SOUR:VOLT?\n");
        readLine(fd, &pending);
        std::printf("  %-56s %10.3f\n", rule, double(timer.nsecsElapsed()) / 1e6 / 101);
        ::close(fd);
        stopProcess(process);
    }
    std::printf("\n%-58s %10s\n", "three controllers, 100 AT queries and 100 erroneous each",
                "ms each");
    for (const char *rule : {"pattern", "quiet"}) {
        Device device(Device::Modem);
        quint16 port = 0;
        QProcess *process = gateway(device.port, QLatin1String(rule), &port);
        std::atomic<int> foreign{0}, commands{0};
        std::vector<std::thread> controllers;
        QElapsedTimer timer;
        timer.start();
        const int perKind = rule[1] == 'u' ? 10 : 100;
        for (int c = 0; c < 3; ++c)
            controllers.emplace_back([&, c] {
                const int fd = connectTo(port);
                QByteArray pending;
                for (int n = 0; n < 2 * perKind; ++n) {
                    const QByteArray id = QByteArray::number(c) + ',' + QByteArray::number(n);
                    sendLine(fd, (n % 2 ? "ATERR" : "AT") + id + "\n");
                    // Every reply line names the command it answers.
                    for (QByteArray line; !(line = readLine(fd, &pending)).isEmpty();) {
                        foreign += line.contains(id) || line == "OK\r\n" ? 0 : 1;
                        if (line.startsWith("OK") || line.startsWith("ERROR"))
                            break;
                    }
                    ++commands;
                }
                ::close(fd);
            });
        for (std::thread &controller : controllers)
            controller.join();
        std::printf("  %-56s %10.3f  (%d replies to another sender)\n", rule,
                    double(timer.nsecsElapsed()) / 1e6 / commands, int(foreign));
        stopProcess(process);
    }
    // Tiny lines cost more than their bytes while they wait: what the gateway holds must stay
    // within its marks whatever the lines are like.
    std::printf("\n%-58s %10s\n", "five clients, 10 s of bare line ends, device reads nothing",
                "growth MB");
    for (const char *rule : {"query", "quiet"}) {
        quint16 devicePort = 0;
        const int silent = listenOn(&devicePort); // the system accepts; nobody ever reads
        quint16 port = 0;
        QProcess *process = gateway(devicePort, QLatin1String(rule), &port);
        const auto rss = [process] { return procValue(process->processId(), "status", "VmRSS:"); };
        const qint64 before = rss();
        std::atomic<qint64> peak{before};
        QElapsedTimer timer;
        timer.start();
        std::vector<std::thread> clients;
        for (int c = 0; c < 5; ++c)
            clients.emplace_back([&] {
                const int fd = connectTo(port);
                // Single line ends and 64 KiB of them at once, by turns.
                const QByteArray ends(64 * 1024, '\n');
                for (int n = 0; timer.elapsed() < 10000; ++n)
                    if (::send(fd, ends.constData(), n % 2 ? ends.size() : 1,
                               MSG_DONTWAIT | MSG_NOSIGNAL)
                        < 0)
                        QThread::msleep(1);
                ::close(fd);
            });
        while (timer.elapsed() < 10000) {
            QThread::msleep(200);
            peak = std::max<qint64>(peak, rss());
        }
        for (std::thread &client : clients)
            client.join();
        std::printf("  %-56s %10.1f\n", rule, double(peak - before) / 1024);
        stopProcess(process);
        ::close(silent);
    }
    return 0;
}
