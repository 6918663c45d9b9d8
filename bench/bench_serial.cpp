// Serial benchmark on a pseudo-terminal pair, no hardware: the real program, headless, with the
// terminal as its serial port, beside ser2net relaying the same terminal to TCP, and beside a
// client straight on the terminal. The device is played on the terminal's master side. Round
// trips of short command lines (median and p99), then throughput from the device to five
// clients. The three take turns in blocks, so that machine noise hits each alike; only one has
// the terminal open at a time. A terminal pair has no baud rate: the figures are the relays'
// own cost. Prints a table; the figures are in docs/performance.md.
#include "bench/benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <vector>

namespace {

constexpr int tripsPerBlock = 500;
constexpr int blocks = 10;
constexpr int lineBytes = 64;
// 320 blocks of 1000 lines: 20.48 MB.
constexpr qint64 streamBytes = 320LL * 1000 * lineBytes;

// The device on the master side: echoes every line it receives, or streams streamBytes of lines
// when asked to.
class TerminalDevice
{
public:
    TerminalDevice()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master);
        unlockpt(master);
        slave = QString::fromLocal8Bit(ptsname(master));
        termios raw{};
        tcgetattr(master, &raw);
        cfmakeraw(&raw);
        tcsetattr(master, TCSANOW, &raw);
        worker = std::thread([this] { serve(); });
    }
    ~TerminalDevice()
    {
        stop = true;
        worker.join();
        ::close(master);
    }
    void startStream() { streaming = true; }
    QString slave;

private:
    void serve()
    {
        QByteArray pending;
        char buffer[65536];
        while (!stop) {
            if (streaming) {
                QByteArray block;
                for (int i = 0; i < 1000; ++i)
                    block += QByteArray(lineBytes - 2, 'd') + "\r\n";
                for (qint64 sent = 0; sent < streamBytes; sent += block.size())
                    writeAll(block);
                streaming = false;
            }
            pollfd entry{master, POLLIN, 0};
            if (::poll(&entry, 1, 50) <= 0 || !(entry.revents & POLLIN))
                continue;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            pending.append(buffer, int(n));
            const int end = pending.lastIndexOf('\n') + 1;
            if (end > 0) {
                writeAll(pending.left(end));
                pending.remove(0, end);
            }
        }
    }
    void writeAll(const QByteArray &bytes)
    {
        for (qint64 done = 0; done < bytes.size();) {
            const ssize_t n
                    = ::write(master, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0)
                return;
            done += n;
        }
    }
    int master = -1;
    std::atomic<bool> stop{false};
    std::atomic<bool> streaming{false};
    std::thread worker;
};

enum Kind { Gateway, Ser2net, Direct };
const char *const names[] = {"gateway", "ser2net", "direct on the terminal"};

// A relay of the terminal to a loopback port, started for one block; none for Direct.
QProcess *startRelay(Kind kind, const QString &slave, quint16 port, const QTemporaryDir &home)
{
    if (kind == Direct)
        return nullptr;
    auto *process = new QProcess;
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    if (kind == Ser2net) {
        // "local": a terminal pair has no modem lines.
        const QString config = writeSer2netConfig(
                home.path(), port, QStringLiteral("serialdev,%1,115200n81,local").arg(slave));
        process->start(QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                                      {"/usr/sbin", "/usr/bin"}),
                       {QStringLiteral("-n"), QStringLiteral("-c"), config, QStringLiteral("-P"),
                        home.filePath("ser2net.pid")});
    } else {
        process->setProcessEnvironment(isolatedEnvironment(home.path()));
        process->start(QStringLiteral(VQGATEWAY_EXECUTABLE),
                       {"--headless", "--instance", "benchserial", "--device", slave, "--serial",
                        "115200,8N1", "--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    }
    waitUntilServing(process, port, kind == Gateway);
    return process;
}

// A client's end: a loopback connection to the relay, or the terminal itself, raw.
int openClient(Kind kind, const QString &slave, quint16 port)
{
    if (kind != Direct) {
        // A relay that stops passing bytes on ends the reads instead of hanging the benchmark.
        const int fd = connectTo(port);
        const timeval limit{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        return fd;
    }
    const int fd = ::open(QFile::encodeName(slave).constData(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    // As for the relays: a read ends after 10 s without a byte.
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 100;
    tcsetattr(fd, TCSANOW, &raw);
    return fd;
}

// Reads until size bytes came; false when the end came first.
bool readBytes(int fd, qint64 size)
{
    char buffer[65536];
    while (size > 0) {
        const ssize_t n = ::read(fd, buffer, size_t(std::min<qint64>(size, sizeof buffer)));
        if (n <= 0)
            return false;
        size -= n;
    }
    return true;
}

bool writeBytes(int fd, const QByteArray &bytes)
{
    return ::write(fd, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/usr/bin"})
                .isEmpty()) {
        std::fprintf(stderr, "ser2net is missing: scripts/bench-deps.sh installs it\n");
        return 1;
    }
    QTemporaryDir home;
    TerminalDevice device;
    const QByteArray command("MEAS:VOLT:DC?\r\n");
    std::vector<double> trips[3];
    // With an argument, only the sections it names run: roundtrip, stream.
    const QString only = app.arguments().value(1);
    for (int block = 0; block < blocks && (only.isEmpty() || only == "roundtrip"); ++block) {
        for (Kind kind : {Gateway, Ser2net, Direct}) {
            const quint16 port = freePort();
            QProcess *relay = startRelay(kind, device.slave, port, home);
            const int fd = openClient(kind, device.slave, port);
            // The first lines open ser2net's port and warm every path up.
            for (int i = 0; i < 20; ++i)
                writeBytes(fd, command) && readBytes(fd, command.size());
            for (int i = 0; i < tripsPerBlock; ++i) {
                const auto start = std::chrono::steady_clock::now();
                if (!writeBytes(fd, command) || !readBytes(fd, command.size()))
                    break;
                trips[kind].push_back(std::chrono::duration<double, std::micro>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
            }
            ::close(fd);
            if (relay)
                stopProcess(relay);
        }
    }
    std::printf("%-26s %12s %12s %8s\n", "round trip, 1 client", "median us", "p99 us", "trips");
    for (Kind kind : {Gateway, Ser2net, Direct})
        std::printf("%-26s %12.1f %12.1f %8zu\n", names[kind], percentile(trips[kind], 0.5),
                    percentile(trips[kind], 0.99), trips[kind].size());

    // The device streams to five clients at once (one on the terminal itself).
    std::printf("\n%-26s %12s\n", "device to 5 clients", "MB/s each");
    for (Kind kind : {Gateway, Ser2net, Direct}) {
        if (!only.isEmpty() && only != "stream")
            break;
        const quint16 port = freePort();
        QProcess *relay = startRelay(kind, device.slave, port, home);
        std::vector<int> clients;
        for (int c = 0; c < (kind == Direct ? 1 : 5); ++c)
            clients.push_back(openClient(kind, device.slave, port));
        // ser2net opens the port once a client comes: a round trip shows it is open.
        writeBytes(clients.front(), command) && readBytes(clients.front(), command.size());
        for (size_t c = 1; c < clients.size(); ++c)
            readBytes(clients.at(c), command.size());
        QElapsedTimer clock;
        clock.start();
        device.startStream();
        std::vector<std::thread> readers;
        std::atomic<int> complete{0};
        for (int fd : clients)
            readers.emplace_back([fd, &complete] { complete += readBytes(fd, streamBytes); });
        for (std::thread &reader : readers)
            reader.join();
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        std::printf("%-26s %12.1f%s\n", names[kind], double(streamBytes) / 1e6 / seconds,
                    complete == int(clients.size()) ? "" : " (incomplete)");
        for (int fd : clients)
            ::close(fd);
        if (relay)
            stopProcess(relay);
    }
    return 0;
}
