// Sharing benchmark of the real program on loopback: controllers that configure a meter and then
// read it, each sequence two lines apart, get wrong readings when another controller's
// configuration comes in between, unless the gateway gives the device to one controller at a
// time (turns or locks). The meter's reading names the mode it was configured for and echoes the
// tag of the query, so a wrong or misrouted reading shows. PyVISA controllers run through
// bench/sharing_pyvisa.py. Prints the counts and the time per sequence; the figures are in
// docs/performance.md.
#include "bench/benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
const char *const modes[] = {"VOLT", "CURR", "RES"};
const int sequences = 200;
const int controllers = 5;

// A meter: "CONF:<mode>" sets its mode, "READ? [tag]" answers "<mode>,+1.234E+00[,tag]". Each
// connection has a mode of its own, so that direct controllers do not share one. With events on,
// it sends "EVENT:TRIG 48" to every connection every 5 ms.
class Meter
{
public:
    explicit Meter(bool events)
        : events(events)
    {
        listenFd = listenOn(&port);
        thread = std::thread([this] { serve(); });
    }
    // Event lines sent to each connection so far.
    int eventsSent() const { return events ? sent.load() : 0; }
    ~Meter()
    {
        stopping = true;
        thread.join();
        ::close(listenFd);
    }
    quint16 port = 0;

private:
    struct Connection
    {
        int fd;
        QByteArray pending;
        QByteArray mode = "VOLT";
    };
    void serve()
    {
        std::vector<Connection> connections;
        Clock::time_point nextEvent = Clock::now();
        while (!stopping) {
            std::vector<pollfd> fds{{listenFd, POLLIN, 0}};
            for (const Connection &connection : connections)
                fds.push_back({connection.fd, POLLIN, 0});
            ::poll(fds.data(), fds.size(), events ? 1 : 20);
            if (fds[0].revents & POLLIN) {
                const int fd = ::accept(listenFd, nullptr, nullptr);
                const int on = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                connections.push_back({fd, {}, "VOLT"});
            }
            for (size_t i = 1; i < fds.size(); ++i)
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                    serveInput(&connections[i - 1]);
            connections.erase(std::remove_if(connections.begin(), connections.end(),
                                             [](const Connection &c) { return c.fd < 0; }),
                              connections.end());
            if (events && Clock::now() >= nextEvent) {
                nextEvent += std::chrono::milliseconds(5);
                ++sent;
                for (const Connection &connection : connections)
                    sendAll(connection.fd, "EVENT:TRIG 48\r\n", 15);
            }
        }
        for (const Connection &connection : connections)
            ::close(connection.fd);
    }
    void serveInput(Connection *connection)
    {
        char buffer[4096];
        const ssize_t n = ::recv(connection->fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            ::close(connection->fd);
            connection->fd = -1;
            return;
        }
        connection->pending.append(buffer, int(n));
        for (int end; (end = connection->pending.indexOf('\n')) >= 0;) {
            const QByteArray line = connection->pending.left(end).trimmed();
            connection->pending.remove(0, end + 1);
            if (line.startsWith("CONF:"))
                connection->mode = line.mid(5);
            if (!line.startsWith("READ?"))
                continue;
            const QByteArray tag = line.mid(5).trimmed();
            const QByteArray reading = connection->mode + ",+1.234E+00"
                    + (tag.isEmpty() ? QByteArray() : ',' + tag) + "\r\n";
            sendAll(connection->fd, reading.constData(), reading.size());
        }
    }
    const bool events;
    int listenFd = -1;
    std::atomic<bool> stopping{false};
    std::atomic<int> sent{0};
    std::thread thread;
};

// Lines from a socket; an empty line when none came before the deadline.
class LineReader
{
public:
    explicit LineReader(int fd)
        : fd(fd)
    {
    }
    QByteArray next(Clock::time_point deadline)
    {
        for (;;) {
            const int end = pending.indexOf('\n');
            if (end >= 0) {
                const QByteArray line = pending.left(end).trimmed();
                pending.remove(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline
                                                                                    - Clock::now());
            pollfd entry{fd, POLLIN, 0};
            if (left.count() < 0 || ::poll(&entry, 1, int(left.count())) <= 0)
                return QByteArray();
            char buffer[4096];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return QByteArray();
            pending.append(buffer, int(n));
        }
    }

private:
    const int fd;
    QByteArray pending;
};

// What the controllers saw: sequences whose own reading came in another mode, readings that
// reached a controller that had not asked for them, own readings that never came, and the time
// each sequence took. A sequence is late when its READ? left 5 ms or more after its CONF began, as
// on a busy machine a controller's thread may be kept waiting that long: a turn of 5 ms may then
// end in between.
struct Tally
{
    int wrong = 0;
    int late = 0;
    int wrongLate = 0;
    int misrouted = 0;
    int lost = 0;
    std::vector<double> ms;
    void add(const Tally &other)
    {
        wrong += other.wrong;
        late += other.late;
        wrongLate += other.wrongLate;
        misrouted += other.misrouted;
        lost += other.lost;
        ms.insert(ms.end(), other.ms.begin(), other.ms.end());
    }
};

// What the controllers do: sequences of "CONF:<mode>", 0 to 2 ms, "READ? <tag>", each wrapped in
// ":LOCK"/":UNLOCK" when locking; without configuring, the sequence's first line is left out, so
// that only the routing of the readings counts. Event lines are skipped; an own reading that does
// not come within replyWaitMs of its query is lost.
struct Workload
{
    bool lock = false;
    bool configure = true;
    int replyWaitMs = 2000;
};

Tally control(quint16 port, int id, const Workload &work)
{
    Tally tally;
    const int fd = connectTo(port);
    LineReader reader(fd);
    std::mt19937 random(id);
    std::uniform_int_distribution<int> gapUs(0, 2000);
    // The first line that matches, counting the other readings that came meanwhile; empty, and
    // counted as lost, when none came in time.
    const auto await = [&](const auto &matches) {
        const Clock::time_point deadline
                = Clock::now() + std::chrono::milliseconds(work.replyWaitMs);
        for (QByteArray line; !(line = reader.next(deadline)).isEmpty();) {
            if (matches(line))
                return line;
            if (!line.startsWith("EVENT:"))
                ++tally.misrouted;
        }
        ++tally.lost;
        return QByteArray();
    };
    const auto reply = [](const char *text) {
        return [text](const QByteArray &line) { return line == text; };
    };
    for (int n = 0; n < sequences; ++n) {
        const QByteArray mode = modes[(id + n) % 3];
        const QByteArray tag = QByteArray::number(id) + ':' + QByteArray::number(n);
        const Clock::time_point start = Clock::now();
        if (work.lock) {
            sendAll(fd, ":LOCK\n", 6);
            await(reply("LOCKED"));
        }
        const QByteArray configure = "CONF:" + mode + '\n', read = "READ? " + tag + '\n';
        const Clock::time_point configuring = Clock::now();
        if (work.configure)
            sendAll(fd, configure.constData(), configure.size());
        std::this_thread::sleep_for(std::chrono::microseconds(gapUs(random)));
        sendAll(fd, read.constData(), read.size());
        const bool late = Clock::now() - configuring >= std::chrono::milliseconds(5);
        tally.late += late;
        // A reading ends with the tag of its query.
        const QByteArray reading
                = await([&tag](const QByteArray &line) { return line.endsWith(',' + tag); });
        if (!reading.isEmpty() && work.configure && !reading.startsWith(mode + ',')) {
            ++tally.wrong;
            tally.wrongLate += late;
        }
        if (work.lock) {
            sendAll(fd, ":UNLOCK\n", 8);
            await(reply("UNLOCKED"));
        }
        tally.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    ::close(fd);
    return tally;
}

Tally controlAll(quint16 port, int count, const Workload &work = Workload())
{
    std::vector<Tally> tallies(static_cast<size_t>(count));
    std::vector<std::thread> threads;
    for (int c = 0; c < count; ++c)
        threads.emplace_back([&, c] { tallies[size_t(c)] = control(port, c, work); });
    Tally total;
    for (int c = 0; c < count; ++c) {
        threads[size_t(c)].join();
        total.add(tallies[size_t(c)]);
    }
    return total;
}

void printRow(const char *name, const Tally &tally)
{
    std::printf("  %-44s %6d %5d %10d %9d %5d %9.2f %9.2f\n", name, tally.wrong, tally.late,
                tally.wrongLate, tally.misrouted, tally.lost, percentile(tally.ms, 0.5),
                percentile(tally.ms, 0.9));
}

// PyVISA controllers, each a process of its own, started together; their figures as a tally
// (the median of each process stands for its sequences).
Tally pyvisa(quint16 port, int count, int maxGapMs)
{
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int c = 0; c < count; ++c) {
        processes.emplace_back(new QProcess);
        processes.back()->start(QStringLiteral("/usr/bin/python3"),
                                {QStringLiteral(VQ_BENCH_SOURCE_DIR "/sharing_pyvisa.py"),
                                 QString::number(port), QString::number(sequences),
                                 QString::number(maxGapMs), QString::number(c)});
    }
    Tally tally;
    for (const auto &process : processes) {
        process->waitForFinished(300000);
        const QList<QByteArray> figures = process->readAllStandardOutput().trimmed().split(' ');
        if (figures.size() != 5) {
            std::fprintf(stderr, "PyVISA controller failed: %s\n",
                         process->readAllStandardError().constData());
            ++tally.lost;
            continue;
        }
        tally.ms.push_back(figures.at(0).toDouble());
        tally.wrong += figures.at(1).toInt();
        tally.late += figures.at(3).toInt();
        tally.wrongLate += figures.at(4).toInt();
    }
    return tally;
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    printMachine();
    QTemporaryDir home;
    const QString program = QStringLiteral(VQGATEWAY_EXECUTABLE);
    const QString help = [&] {
        QProcess process;
        process.start(program, {QStringLiteral("--help")});
        process.waitForFinished(10000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }();
    // The real program, headless, isolated, with query routing in front of the meter; null
    // when this build lacks one of the options.
    const auto gateway = [&](const char *name, const Meter &meter, const QStringList &options,
                             quint16 *port, const QString &executable) -> QProcess * {
        for (const QString &option : options)
            if (option.startsWith(QLatin1String("--")) && !help.contains(option)) {
                std::printf("  %-44s (this build has no %s)\n", name, qPrintable(option));
                return nullptr;
            }
        auto *process = new QProcess(&app);
        process->setProcessEnvironment(isolatedEnvironment(home.path()));
        process->setStandardErrorFile(QProcess::nullDevice());
        *port = freePort();
        process->start(executable,
                       QStringList{"--headless", "--device",
                                   QStringLiteral("127.0.0.1:%1").arg(meter.port), "--listen",
                                   QStringLiteral("127.0.0.1:%1").arg(*port), "--reply-end",
                                   "query"}
                               + options);
        waitUntilServing(process, *port, true);
        return process;
    };
    // With an argument, only the sections it names run: turns, pyvisa, events, acknowledge.
    const QString only = app.arguments().value(1);
    const auto wanted = [&only](const char *section) {
        return only.isEmpty() || only.contains(QLatin1String(section));
    };
    const QStringList hold{"--hold", "5"};
    const QStringList locks{"--lock-command", ":LOCK", "--unlock-command", ":UNLOCK"};

    std::printf("%d controllers, %d sequences each: CONF, 0 to 2 ms, READ?\n", controllers,
                sequences);
    std::printf("  %-44s %6s %5s %10s %9s %5s %9s %9s\n", "", "wrong", "late", "wrong+late",
                "misrouted", "lost", "median ms", "p90 ms");
    if (wanted("turns")) {
        Meter meter(false);
        printRow("one controller straight to the meter", controlAll(meter.port, 1));
    }
    const struct
    {
        const char *name;
        QStringList options;
        bool lock;
    } sharing[] = {{"gateway, no turns", {}, false},
                   {"gateway, --hold 5", hold, false},
                   {"gateway, locks around each sequence", locks, true}};
    for (const auto &mode : sharing) {
        if (!wanted("turns"))
            break;
        Meter meter(false);
        quint16 port = 0;
        if (QProcess *process = gateway(mode.name, meter, mode.options, &port, program)) {
            printRow(mode.name, controlAll(port, controllers, {mode.lock, true, 2000}));
            stopProcess(process);
        }
    }
    if (wanted("pyvisa")) {
        Meter meter(false);
        printRow("PyVISA, one controller straight to the meter", pyvisa(meter.port, 1, 2));
        quint16 port = 0;
        const char *name = "PyVISA, two controllers, gateway, --hold 5";
        if (QProcess *process = gateway(name, meter, hold, &port, program)) {
            printRow(name, pyvisa(port, 2, 2));
            stopProcess(process);
        }
    }

    std::printf("\nthe meter sends an event line every 5 ms; %d controllers, READ? alone\n",
                controllers);
    const struct
    {
        const char *name;
        QStringList options;
    } events[] = {{"gateway, no event pattern", {}},
                  {"gateway, --event-pattern '^EVENT:'", {"--event-pattern", "^EVENT:"}}};
    for (const auto &mode : events) {
        if (!wanted("events"))
            break;
        Meter meter(true);
        quint16 port = 0;
        if (QProcess *process = gateway(mode.name, meter, mode.options, &port, program)) {
            printRow(mode.name, controlAll(port, controllers, {false, false, 200}));
            std::printf("  %-44s %6d event lines to each\n", "", meter.eventsSent());
            stopProcess(process);
        }
    }

    // Nagle's algorithm in PyVISA holds the read until the configuration is acknowledged.
    if (!wanted("acknowledge"))
        return 0;
    std::printf("\none PyVISA controller, CONF then READ? at once (median ms)\n");
    Meter meter(false);
    printRow("straight to the meter", pyvisa(meter.port, 1, 0));
    const QString compare = qEnvironmentVariable("VQ_BENCH_COMPARE");
    for (const QString &executable : {program, compare}) {
        quint16 port = 0;
        if (executable.isEmpty())
            continue;
        const char *name = executable == program ? "gateway" : "gateway, other build";
        if (QProcess *process = gateway(name, meter, {}, &port, executable)) {
            printRow(name, pyvisa(port, 1, 0));
            stopProcess(process);
        }
    }
    return 0;
}
