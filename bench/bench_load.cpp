// Load benchmark of the real program on loopback, beside socat and ser2net (the relays most
// users would reach for) and beside the clients talking to the device directly: round trips, with
// one client and with four more listening, broadcast throughput with and without traffic logging
// and metrics, peak memory, idle cost and a stalled client. The relays take turns, so that
// machine noise hits each alike. Prints a table; the figures are in docs/performance.md.
#include "bench/benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 broadcastBytes = 200LL * 1000 * 1000;
constexpr int lineBytes = 100;

// The device: accepts connections on its own thread and serves each on another, either echoing
// or streaming broadcastBytes of 100-byte lines as fast as TCP takes them.
class Device
{
public:
    enum Mode { Echo, Stream, Idle };
    Device()
    {
        listenFd = listenOn(&port);
        acceptor = std::thread([this] { acceptLoop(); });
    }
    ~Device()
    {
        ::shutdown(listenFd, SHUT_RDWR);
        ::close(listenFd);
        acceptor.join();
        for (std::thread &worker : workers)
            worker.join();
    }
    quint16 port = 0;
    std::atomic<Mode> mode{Echo};
    std::atomic<qint64> streamBytes{broadcastBytes};
    // While held, a streaming connection waits: the gateway's one device connection comes up
    // before its clients do.
    std::atomic<bool> hold{false};

private:
    void acceptLoop()
    {
        for (;;) {
            const int fd = ::accept(listenFd, nullptr, nullptr);
            if (fd < 0)
                return;
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            workers.emplace_back([this, fd] { serve(fd); });
        }
    }
    void serve(int fd)
    {
        if (mode == Stream) {
            while (hold)
                QThread::msleep(1);
            QByteArray block;
            for (int i = 0; i < 1000; ++i)
                block += QByteArray(lineBytes - 2, 'd') + "\r\n";
            for (qint64 sent = 0;
                 sent < streamBytes && sendAll(fd, block.constData(), block.size());)
                sent += block.size();
        } else {
            char buffer[65536];
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                if (mode == Echo && !sendAll(fd, buffer, n))
                    break;
        }
        ::shutdown(fd, SHUT_WR);
        char sink[4096];
        while (::recv(fd, sink, sizeof sink, 0) > 0) { }
        ::close(fd);
    }
    int listenFd = -1;
    std::thread acceptor;
    std::vector<std::thread> workers;
};

// One relay under test: the gateway (plain, logging the traffic, or serving metrics), socat,
// ser2net, or nothing (the clients reach the device directly).
struct Relay
{
    QString name;
    QProcess *process = nullptr;
    quint16 port = 0;
};

QList<qint64> processTree(qint64 pid)
{
    QList<qint64> pids{pid};
    for (int i = 0; i < pids.size(); ++i) {
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pids.at(i)));
        if (children.open(QIODevice::ReadOnly))
            for (const QByteArray &child : children.readAll().split(' '))
                if (!child.trimmed().isEmpty())
                    pids.append(child.trimmed().toLongLong());
    }
    return pids;
}

// CPU time in ms and context switches of a relay's whole process tree.
QPair<double, qint64> cost(const Relay &relay)
{
    if (!relay.process)
        return {0, 0};
    double cpuMs = 0;
    qint64 switches = 0;
    for (qint64 pid : processTree(relay.process->processId())) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (stat.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
            cpuMs += (fields.value(11).toDouble() + fields.value(12).toDouble()) * 1000.0
                    / double(sysconf(_SC_CLK_TCK));
        }
        for (const QString &task : QDir(QStringLiteral("/proc/%1/task").arg(pid))
                                           .entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            switches += procValue(pid, QStringLiteral("task/%1/status").arg(task).toLatin1(),
                                  "voluntary_ctxt_switches:")
                    + procValue(pid, QStringLiteral("task/%1/status").arg(task).toLatin1(),
                                "nonvoluntary_ctxt_switches:");
    }
    return {cpuMs, switches};
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Each figure shows as soon as it is measured.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    const QString ser2net
            = QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/usr/bin"});
    if (socat.isEmpty() || ser2net.isEmpty()) {
        std::fprintf(stderr, "socat or ser2net is missing: scripts/bench-deps.sh installs them\n");
        return 1;
    }
    printMachine();
    QTemporaryDir home;
    Device device;

    // VQ_BENCH_COMPARE names another build of the program, measured beside this one: the
    // figures before and after a change, in the same run.
    const QString compare = qEnvironmentVariable("VQ_BENCH_COMPARE");
    enum Kind { Gateway, GatewayLogged, GatewayMetrics, Compare, Socat, Ser2net, Direct };
    const char *const names[] = {"gateway",
                                 "gateway, traffic logged",
                                 "gateway, metrics on",
                                 "gateway, other build",
                                 "socat",
                                 "ser2net",
                                 "direct to the device"};
    const auto relaysOf = [&compare](std::initializer_list<Kind> kinds) {
        QList<Kind> list;
        for (Kind kind : kinds)
            if (kind != Compare || !compare.isEmpty())
                list.append(kind);
        return list;
    };
    const auto start = [&](Kind kind) {
        Relay relay{QLatin1String(names[kind]), nullptr, kind == Direct ? device.port : freePort()};
        if (kind == Direct)
            return relay;
        relay.process = new QProcess(&app);
        relay.process->setStandardOutputFile(QProcess::nullDevice());
        relay.process->setStandardErrorFile(QProcess::nullDevice());
        const QString deviceAt = QStringLiteral("127.0.0.1:%1").arg(device.port);
        const QString listenAt = QStringLiteral("127.0.0.1:%1").arg(relay.port);
        if (kind == Socat) {
            // A child per client, each with a device connection of its own.
            relay.process->start(socat,
                                 {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,"
                                                 "fork,nodelay")
                                          .arg(relay.port),
                                  QStringLiteral("TCP:%1,nodelay").arg(deviceAt)});
        } else if (kind == Ser2net) {
            // Five clients sharing the device connection.
            const QString config = writeSer2netConfig(
                    home.path(), relay.port,
                    QStringLiteral("tcp(nodelay),127.0.0.1,%1").arg(device.port));
            relay.process->start(ser2net,
                                 {QStringLiteral("-n"), QStringLiteral("-c"), config,
                                  QStringLiteral("-P"), home.filePath("ser2net.pid")});
        } else {
            relay.process->setProcessEnvironment(isolatedEnvironment(home.path()));
            // Each its own instance, so that several can run at once.
            QStringList arguments{"--headless", "--instance", QStringLiteral("bench%1").arg(kind),
                                  "--device",   deviceAt,     "--listen",
                                  listenAt};
            if (kind == GatewayLogged)
                arguments << "--log-traffic";
            if (kind == GatewayMetrics)
                arguments << "--metrics" << QString::number(freePort());
            relay.process->start(kind == Compare ? compare : QStringLiteral(VQGATEWAY_EXECUTABLE),
                                 arguments);
        }
        waitUntilServing(relay.process, relay.port, kind != Socat);
        return relay;
    };
    const auto stop = [](Relay &relay) {
        if (!relay.process)
            return;
        stopProcess(relay.process);
        relay.process = nullptr;
    };
    // With an argument, only the sections it names run: roundtrip, broadcast, idle, stalled.
    const QString only = app.arguments().value(1);
    const auto wanted = [&only](const char *section) {
        return only.isEmpty() || only.contains(QLatin1String(section));
    };

    // 1. Round trips of 10,000 short lines, the relays taking turns in blocks of 100: one client
    // alone, then one client asking while four others listen (every reply goes to them too).
    for (int listeners : {0, 4}) {
        if (!wanted("roundtrip"))
            break;
        std::printf("%-34s %12s %12s\n",
                    listeners ? "round trip, 1 asks, 4 listen" : "round trip, 1 client",
                    "median us", "p99 us");
        QList<Relay> relays;
        for (Kind kind : relaysOf({Gateway, Compare, GatewayMetrics, Socat, Ser2net, Direct}))
            relays.append(start(kind));
        std::vector<std::vector<double>> trips(relays.size());
        std::vector<int> clients, quiet;
        std::vector<std::thread> drains;
        for (const Relay &relay : relays) {
            clients.push_back(connectTo(relay.port));
            for (int l = 0; l < listeners; ++l) {
                quiet.push_back(connectTo(relay.port));
                drains.emplace_back([fd = quiet.back()] {
                    char sink[65536];
                    while (::recv(fd, sink, sizeof sink, 0) > 0) { }
                });
            }
        }
        QThread::msleep(300);
        for (int block = 0; block < 100; ++block) {
            for (int r = 0; r < relays.size(); ++r) {
                char buffer[256];
                for (int i = 0; i < 100; ++i) {
                    const QByteArray line = "MEAS:VOLT? " + QByteArray::number(i) + "\r\n";
                    QElapsedTimer timer;
                    timer.start();
                    sendAll(clients[r], line.constData(), line.size());
                    for (int got = 0; got < line.size();)
                        got += int(::recv(clients[r], buffer, sizeof buffer, 0));
                    trips[r].push_back(double(timer.nsecsElapsed()) / 1000.0);
                }
            }
        }
        for (int fd : quiet)
            ::shutdown(fd, SHUT_RDWR);
        for (std::thread &drain : drains)
            drain.join();
        for (int r = 0; r < relays.size(); ++r) {
            ::close(clients[r]);
            std::printf("%-34s %12.1f %12.1f\n", qPrintable(relays[r].name),
                        percentile(trips[r], 0.5), percentile(trips[r], 0.99));
            stop(relays[r]);
        }
        for (int fd : quiet)
            ::close(fd);
        std::printf("\n");
    }

    // 2. Broadcast: the device streams 200 MB of 100-byte lines; five clients read all.
    if (wanted("broadcast")) {
        device.mode = Device::Stream;
        std::printf("%-34s %12s %12s\n", "broadcast 200 MB, 5 clients", "MB/s each", "peak RSS MB");
        auto broadcast = [&](const Relay &relay) {
            std::vector<std::thread> readers;
            std::vector<double> rates(5);
            std::atomic<int> ready{0};
            for (int c = 0; c < 5; ++c)
                readers.emplace_back([&, c] {
                    const int fd = connectTo(relay.port);
                    ++ready;
                    std::vector<char> buffer(1 << 20);
                    QElapsedTimer timer;
                    qint64 total = 0;
                    for (ssize_t n; total < broadcastBytes
                         && (n = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0;) {
                        if (total == 0)
                            timer.start();
                        total += n;
                    }
                    rates[c] = total >= broadcastBytes
                            ? double(total) / 1e6 / (double(timer.nsecsElapsed()) / 1e9)
                            : 0;
                    ::close(fd);
                });
            while (ready < 5)
                QThread::msleep(1);
            QThread::msleep(100);
            device.hold = false;
            for (std::thread &reader : readers)
                reader.join();
            return *std::min_element(rates.begin(), rates.end());
        };
        for (int round = 0; round < 2; ++round) {
            for (Kind kind : relaysOf({Gateway, Compare, GatewayLogged, GatewayMetrics, Socat,
                                       Ser2net, Direct})) {
                // A relay with one device connection streams once the first client is there; the
                // others connect within a few milliseconds and catch up through the backlog.
                device.hold = kind != Socat && kind != Direct;
                Relay relay = start(kind);
                const double rate = broadcast(relay);
                const qint64 peakKb = relay.process
                        ? procValue(relay.process->processId(), "status", "VmHWM:")
                        : 0;
                std::printf("%-34s %12.0f %12s\n", qPrintable(relay.name), rate,
                            peakKb ? qPrintable(QString::number(peakKb / 1024.0, 'f', 0)) : "-");
                stop(relay);
            }
        }
        std::printf("\n");
    }

    // 3. Idle: five idle clients and an idle device for 10 s.
    if (wanted("idle")) {
        device.mode = Device::Idle;
        std::printf("%-34s %12s %12s\n", "idle 10 s, 5 clients", "CPU ms", "ctx switches");
        for (Kind kind : relaysOf({Gateway, Compare, GatewayMetrics, Socat, Ser2net})) {
            Relay relay = start(kind);
            std::vector<int> idle;
            for (int c = 0; c < 5; ++c)
                idle.push_back(connectTo(relay.port));
            QThread::msleep(500);
            const QPair<double, qint64> before = cost(relay);
            QThread::sleep(10);
            const QPair<double, qint64> after = cost(relay);
            std::printf("%-34s %12.1f %12lld\n", qPrintable(relay.name), after.first - before.first,
                        after.second - before.second);
            for (int fd : idle)
                ::close(fd);
            stop(relay);
        }
        std::printf("\n");
    }

    // 4. One client stops reading while another reads 300 MB.
    if (wanted("stalled")) {
        device.mode = Device::Stream;
        device.streamBytes = 300LL * 1000 * 1000;
        std::printf("%-34s\n", "stalled client, reader takes 300 MB");
        {
            device.hold = true;
            Relay relay = start(Gateway);
            const qint64 rssBefore = procValue(relay.process->processId(), "status", "VmRSS:");
            const int stalled = connectTo(relay.port);
            QElapsedTimer sinceStart;
            sinceStart.start();
            std::atomic<qint64> dropAfterMs{-1};
            std::thread watcher([&] {
                // The stalled client reads nothing; the gateway's reset closes its connection.
                while (sinceStart.elapsed() < 60000) {
                    tcp_info info{};
                    socklen_t size = sizeof info;
                    if (getsockopt(stalled, IPPROTO_TCP, TCP_INFO, &info, &size) == 0
                        && info.tcpi_state != TCP_ESTABLISHED) {
                        dropAfterMs = sinceStart.elapsed();
                        return;
                    }
                    QThread::msleep(20);
                }
            });
            const int reader = connectTo(relay.port);
            QThread::msleep(100);
            device.hold = false;
            std::vector<char> buffer(1 << 20);
            qint64 total = 0;
            for (ssize_t n; total < device.streamBytes
                 && (n = ::recv(reader, buffer.data(), buffer.size(), 0)) > 0;)
                total += n;
            const qint64 peak = procValue(relay.process->processId(), "status", "VmHWM:");
            watcher.join();
            std::printf("  reader received %lld of %lld bytes\n", total,
                        qint64(device.streamBytes));
            std::printf("  stalled client dropped after %lld ms (counted from its connection)\n",
                        qint64(dropAfterMs));
            std::printf("  memory growth %.1f MB (peak RSS %.1f MB)\n", (peak - rssBefore) / 1024.0,
                        peak / 1024.0);
            QFile log(home.filePath(QStringLiteral("vqgateway/VQGateway-bench0_Log.txt")));
            log.open(QIODevice::ReadOnly);
            for (const QByteArray &line : log.readAll().split('\n'))
                if (line.contains("took nothing"))
                    std::printf("  gateway log: %s\n", line.constData());
            ::close(reader);
            ::close(stalled);
            stop(relay);
        }
    }
    return 0;
}
