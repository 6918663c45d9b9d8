#include "app/instancechannel.h"
#include "tests/testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/un.h>

const char *const logFile = "data/vqgateway/VQGateway%1_Log.txt";
const char *const settingsFile = "config/Velquor/Gateway%1.conf";

// Runs the real program in a temporary home, against a fake device on 127.0.0.1.
class TestProgram : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDir> dir;
    QList<QProcess *> processes;

    // An instance's own file: its log, or its settings.
    QString path(const char *pattern, const QString &instance = QString()) const
    {
        return dir->filePath(
                QString::fromLatin1(pattern).arg(instance.isEmpty() ? "" : "-" + instance));
    }
    void writeSettings(const QVariantMap &values, const QString &instance = QString())
    {
        QSettings settings(path(settingsFile, instance), QSettings::IniFormat);
        settings.setValue(QStringLiteral("IpAddress"), QStringLiteral("127.0.0.1"));
        for (auto it = values.begin(); it != values.end(); ++it)
            settings.setValue(it.key(), it.value());
    }
    // With a display the program runs on the offscreen platform; without one, nothing names one.
    // Without a session (su, cron) there is no runtime directory either.
    QProcess *start(const QStringList &arguments = {}, bool display = true, bool session = true,
                    const QProcessEnvironment &extra = {}, const QString &errorFile = {})
    {
        auto *process = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(variable));
        if (!session)
            env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        if (display)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(extra);
        process->setProcessEnvironment(env);
        if (!errorFile.isEmpty())
            process->setStandardErrorFile(errorFile);
        process->start(QStringLiteral(VQGATEWAY_EXECUTABLE), arguments);
        processes.append(process);
        return process;
    }
    QStringList logMessages(const QString &instance = QString()) const
    {
        QFile log(path(logFile, instance));
        QStringList messages;
        if (log.open(QIODevice::ReadOnly))
            for (const QByteArray &line : log.readAll().split('\n'))
                messages.append(
                        QString::fromUtf8(line.mid(30).chopped(line.endsWith(' ') ? 1 : 0)));
        return messages.mid(0, messages.size() - 1);
    }
    // What the program prints with these arguments, once it ended with this exit code; run
    // without a session.
    QByteArray run(const QStringList &arguments, int exitCode = 0)
    {
        QProcess *process = start(arguments, false, false);
        process->waitForFinished(10000);
        [&] { QCOMPARE(process->exitCode(), exitCode); }();
        return process->readAllStandardOutput() + process->readAllStandardError();
    }
    static void terminate(QProcess *process)
    {
        ::kill(pid_t(process->processId()), SIGTERM);
        QVERIFY(process->waitForFinished(20000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
    }

private slots:
    void init() { dir.reset(new TestDir); }
    void cleanup()
    {
        qDeleteAll(processes); // each is killed and waited for
        processes.clear();
        dir->noteResult();
    }
    void relaysGuardsAndShutsDown()
    {
        FakeDevice device;
        const quint16 localPort = freeLoopbackPort();
        writeSettings({{"Port", device.port()}, {"PortLocal", localPort}, {"Autoconnect", true}});
        QProcess *first = start();
        QTRY_COMPARE_WITH_TIMEOUT(device.connectionCount(), 1, 20000);
        FakeClient one(localPort), two(localPort);
        QTRY_COMPARE_WITH_TIMEOUT(logMessages().filter(QStringLiteral("New client thread")).size(),
                                  2, 10000);
        device.send("HELLO\r\n");
        QTRY_COMPARE(one.received + two.received, QByteArray("HELLO\r\nHELLO\r\n"));
        one.write("CMD1\r\n");
        QTRY_COMPARE(device.received, QByteArray("CMD1\r\n"));
        QStringList banner = logMessages().mid(0, 5);
        banner[3].truncate(14);
        QCOMPARE(banner,
                 (QStringList{"---------------------------------------------------",
                              "Program VQ Gateway version 01.01.01 started",
                              QStringLiteral("Built with Qt %1 running on Qt %2")
                                      .arg(QT_VERSION_STR, qVersion()),
                              "OS detected: \"",
                              "Instance: default, settings " + path(settingsFile)}));
        QVERIFY(inOrder(logMessages(),
                        {"Device: 127.0.0.1:#, lines end in CR LF",
                         "Listen: every interface, port " + QString::number(localPort),
                         "Traffic logging: off", "Creating main window"}));
        // A second start brings the first to the front and leaves it alone otherwise (and waits at
        // its message box: it is killed later).
        const QStringList logBefore = logMessages();
        QProcess *second = start();
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT(
                (said += second->readAllStandardError())
                        .contains("Application already running. Instance: default\nPlease "
                                  "check the system tray (icon may be hidden).\n"),
                20000);
        QCOMPARE(logMessages().mid(0, logBefore.size()), logBefore);
        QVERIFY(logMessages()
                        .mid(logBefore.size())
                        .contains("Window brought to the front for another start"));
        QCOMPARE(device.connectionCount(), 1);
        terminate(first);
        QVERIFY(inOrder(logMessages(),
                        {"Closing main window", "Stopping server client threads...",
                         "Stopping server...", "Disconnecting from host", "Server deleted",
                         "Program exited with return code 0"}));
        QCOMPARE(logMessages().last(), QStringLiteral("Program exited with return code 0"));
        QTRY_VERIFY(one.isClosed() && two.isClosed());
        // The next start empties the log and honours the stored level: at Warn the system's own
        // Info and Error lines are all left out; a level that is none is the default, and said. A
        // killed instance never blocks the next start, nor keeps another from reaching it.
        writeSettings({{"LoggingLevel", 99}});
        QProcess *killed = start();
        QTRY_COMPARE_WITH_TIMEOUT(device.connectionCount(), 2, 20000);
        QVERIFY(logMessages().contains("LoggingLevel \"99\" is not a level from 0 to 6 - using 1"));
        ::kill(pid_t(killed->processId()), SIGKILL);
        QVERIFY(killed->waitForFinished(5000));
        writeSettings({{"LoggingLevel", 3}});
        QProcess *next = start();
        QTRY_COMPARE_WITH_TIMEOUT(device.connectionCount(), 3, 20000);
        QCOMPARE(InstanceChannel::ask(QString(), "show", 5000), QByteArray("shown"));
        terminate(next);
        QCOMPARE(QFileInfo(path(logFile)).size(), 0);
    }
    // An orderly stop takes nothing more from the clients, then gives a device that reads slowly
    // all that was taken, lines that waited for their turn in the router included.
    void stopDeliversWhatWasTaken()
    {
        FakeDevice device;
        const quint16 localPort = freeLoopbackPort();
        QProcess *gateway = start(
                {"--headless", "--device", "localhost:" + QString::number(device.port()),
                 "--listen", QString::number(localPort), "--reply-routing", "--reply-end", "query"},
                false);
        QTRY_COMPARE_WITH_TIMEOUT(device.connectionCount(), 1, 20000);
        device.setReading(false);
        FakeClient client(localPort);
        QByteArray sent;
        for (int n = 0; n < 400; ++n)
            sent += numberedLines("L", n * 100, 99) + "Q " + QByteArray::number(n) + "?\r\n";
        client.write(sent);
        // Held back: what the gateway took from the client no longer grows.
        qint64 taken = -1;
        QVERIFY2(QTest::qWaitFor(
                         [&] {
                             const qint64 now(QJsonDocument::fromJson(run({"--status", "--json"}))
                                                      .object()
                                                      .value("clients")[0]["bytesReceived"]
                                                      .toDouble());
                             return std::exchange(taken, now) == now && now > 256 * 1024;
                         },
                         20000),
                 "the client was never held back");
        ::kill(pid_t(gateway->processId()), SIGTERM);
        device.setReading(true);
        QTRY_COMPARE_WITH_TIMEOUT(device.received.size(), taken, 10000);
        QCOMPARE(device.received, sent.left(taken));
        QTRY_COMPARE(gateway->state(), QProcess::NotRunning);
        QCOMPARE(gateway->exitCode(), 0);
    }
    // "arguments -> exit code: the line it prints first", on standard output for 0 and on standard
    // error otherwise, with nothing on the other; without a display, and nothing started or
    // written.
    void helpVersionAndBadOptions_data()
    {
        QTest::addColumn<QString>("row");
        for (const char *row :
             {"--version -> 0: VQ Gateway 01.01.01", "--help -> 0: Usage: vqgateway [options]",
              "--bogus -> 2: vqgateway: Unknown option 'bogus'.",
              "-platform -> 2: vqgateway: -platform needs the name of a Qt platform.",
              "--headless --listen 65536 -> 2: vqgateway: --listen: '65536' is not [ADDRESS:]PORT "
              "with a port from 1 to 65535."})
            QTest::newRow(row) << QString::fromLatin1(row);
    }
    void helpVersionAndBadOptions()
    {
        QFETCH(QString, row);
        const int exitCode = row.section(" -> ", 1).section(':', 0, 0).toInt();
        QProcess *process = start(row.section(" -> ", 0, 0).split(' '), false);
        QVERIFY(process->waitForFinished(10000));
        QCOMPARE(process->exitCode(), exitCode);
        const QByteArray out = process->readAllStandardOutput(),
                         err = process->readAllStandardError(),
                         said = row.section(": ", 1).toLatin1() + '\n';
        QVERIFY2(exitCode ? err == said && out.isEmpty() : out.startsWith(said) && err.isEmpty(),
                 qPrintable(out + err));
        QVERIFY(QDir(dir->filePath(QStringLiteral("config"))).isEmpty()
                && QDir(dir->filePath(QStringLiteral("data"))).isEmpty());
    }
    // Without a display the program runs headless and connects whatever "Autoconnect" says; named
    // instances keep their own settings, logs and guards; command-line values are never stored.
    // A running instance tells its status and metrics, serves the allowed clients only, and
    // starts its log afresh once it would pass 20 MiB.
    void headlessNamedInstances()
    {
        FakeDevice first, second(QHostAddress(QHostAddress::LocalHostIPv6));
        QProcessEnvironment zone; // lab2 runs 5 h 30 min ahead of UTC
        zone.insert(QStringLiteral("TZ"), QStringLiteral("IST-5:30"));
        const quint16 firstPort = freeLoopbackPort(), secondPort = freeLoopbackPort(),
                      metricsPort = freeLoopbackPort();
        writeSettings({{"Port", first.port()}, {"PortLocal", firstPort}, {"LoggingLevel", "abc"}},
                      QStringLiteral("lab1"));
        writeSettings({{"Port", 10500}, {"PortLocal", 10500}}, QStringLiteral("lab2"));
        QProcess *lab1 = start({"--instance", "lab1"}, false);
        QProcess *lab2 = start({"--instance", "lab2", "--headless", "--device",
                                "[::1]:" + QString::number(second.port()), "--listen",
                                "127.0.0.1:" + QString::number(secondPort), "--log-traffic",
                                "--device-line-end", "lf", "--allow", "127.0.0.1", "--metrics",
                                QString::number(metricsPort)},
                               false, true, zone);
        QTRY_COMPARE_WITH_TIMEOUT(first.connectionCount() * 10 + second.connectionCount(), 11,
                                  20000);
        FakeClient one(firstPort), two(secondPort);
        QTcpSocket elsewhere;
        elsewhere.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), secondPort);
        QTRY_COMPARE(elsewhere.error(), QAbstractSocket::ConnectionRefusedError);
        QTRY_VERIFY(one.isConnected() && two.isConnected());
        one.write("to lab1\r\n");
        two.write("to lab2\r\n");
        QTRY_COMPARE(first.received + second.received, QByteArray("to lab1\r\nto lab2\r\n"));
        second.send("PONG\n");
        QTRY_COMPARE(two.received, QByteArray("PONG\n"));
        QTcpSocket stranger;
        stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")));
        stranger.connectToHost(QHostAddress::LocalHost, secondPort);
        QTRY_COMPARE(stranger.error(), QAbstractSocket::RemoteHostClosedError);
        const QString client = QStringLiteral("127.0.0.1:%1").arg(two.localPort());
        QRegularExpression row("\nDevice +\\[::1\\]:" + QString::number(second.port())
                               + " [^$]*\n1 +" + client + " +\\S+ \\S+ +9 +5 +0\n");
        QVERIFY2(row.match(run({"--status", "--instance", "lab2"})).hasMatch(),
                 qPrintable(run({"--status", "--instance", "lab2"})));
        const QJsonObject status
                = QJsonDocument::fromJson(run({"--status", "--json", "--instance", "lab2"}))
                          .object();
        QCOMPARE(status.value("device").toObject().value("bytesFromDevice").toInt(), 5);
        QCOMPARE(run({"--status", "--instance", "lab3"}, 1),
                 QByteArray("no VQ Gateway instance 'lab3' is running for this user\n"));
        // Every instance that answers, each once; the socket of one that crashed is none.
        const int crashed = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un ghost{AF_UNIX, {}};
        qstrncpy(ghost.sun_path, QFile::encodeName(InstanceChannel::socketPath("ghost")),
                 sizeof ghost.sun_path);
        QVERIFY(::bind(crashed, reinterpret_cast<sockaddr *>(&ghost), sizeof ghost) == 0);
        ::close(crashed);
        const QByteArray all = run({"--status", "--all"});
        QVERIFY2(QRegularExpression(QStringLiteral("^Instance +Device +State +Clients +Up since\n"
                                                   "lab1 +127.0.0.1:%1 +connected +1/5 +%3\n"
                                                   "lab2 +\\[::1\\]:%2 +connected +1/5 +%3\n$")
                                            .arg(first.port())
                                            .arg(second.port())
                                            .arg("[-0-9]{10} [:0-9]{8}"))
                         .match(all)
                         .hasMatch(),
                 all);
        // Every time carries its offset from UTC, lab2's its own zone's.
        const QByteArray json = run({"--status", "--all", "--json"});
        const QJsonArray statuses = QJsonDocument::fromJson(json).array();
        QCOMPARE(statuses.size(), 2);
        QVERIFY(statuses[1]["startedAt"].toString().endsWith("+05:30"));
        QCOMPARE(QString(json).count(QRegularExpression("T[:0-9]{8}[^+-]")), 0);
        QCOMPARE(QString(json).count(QRegularExpression("T[:0-9]{8}[+-][0-9]{2}:[0-9]{2}\"")), 10);
        // The channel serves a few connections that ask nothing, and none of them for long.
        QObject idleOwner;
        QList<QLocalSocket *> silent;
        for (int i = 0; i < 10; ++i) {
            silent.append(new QLocalSocket(&idleOwner));
            silent.last()->connectToServer(InstanceChannel::socketPath(QStringLiteral("lab1")));
        }
        const auto dropped = [&] {
            return std::count_if(silent.begin(), silent.end(), [](QLocalSocket *s) {
                return s->state() == QLocalSocket::UnconnectedState;
            });
        };
        QTRY_COMPARE(dropped(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(dropped(), 10, 5000);
        // Out of descriptors, with one left to take a connection or none, lab1 refuses new
        // clients and goes on, and serves them again once there are descriptors.
        const pid_t pid = pid_t(lab1->processId());
        const QStringList fds
                = QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                          .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        rlimit before{};
        QVERIFY(prlimit(pid, RLIMIT_NOFILE, nullptr, &before) == 0);
        for (int spare : {1, 0}) {
            rlimit low = before; // as many free descriptors below it as spare
            for (low.rlim_cur = 0; fds.contains(QString::number(low.rlim_cur)) || spare--;)
                ++low.rlim_cur;
            QVERIFY(prlimit(pid, RLIMIT_NOFILE, &low, nullptr) == 0);
            QTcpSocket refused;
            refused.connectToHost(QHostAddress::LocalHost, firstPort);
            QTRY_COMPARE(refused.error(), QAbstractSocket::RemoteHostClosedError);
        }
        QVERIFY(prlimit(pid, RLIMIT_NOFILE, &before, nullptr) == 0);
        FakeClient again(firstPort);
        again.write("again\r\n");
        QTRY_COMPARE(first.received, QByteArray("to lab1\r\nagain\r\n"));
        QVERIFY(logMessages(QStringLiteral("lab1"))
                        .contains(
                                "Connection from \"127.0.0.1\" refused: no file descriptors left"));
        // Connections left open and silent do not keep a scraper out.
        QList<QTcpSocket *> idle;
        for (int i = 0; i < 16; ++i) {
            idle.append(new QTcpSocket(&idleOwner));
            idle.last()->connectToHost(QHostAddress::LocalHost, metricsPort);
        }
        QTRY_VERIFY(std::all_of(idle.begin(), idle.end(), [](QTcpSocket *s) {
            return s->state() == QAbstractSocket::ConnectedState;
        }));
        const auto scrape = [metricsPort] {
            QTcpSocket scraper;
            scraper.connectToHost(QHostAddress::LocalHost, metricsPort);
            scraper.write("GET /metrics HTTP/1.0\r\n\r\n");
            return scraper.waitForDisconnected(5000) ? scraper.readAll() : QByteArray();
        };
        const QByteArray metrics = scrape();
        const QByteArray clientSeries = "{client=\"1\",address=\"" + client.toLatin1()
                + "\",role=\"client\",instance_name=\"lab2\"} ";
        for (const QByteArray &sample :
             {QByteArray("vqgateway_bytes_to_device_total{instance_name=\"lab2\"} 9"),
              QByteArray("vqgateway_bytes_from_device_total{instance_name=\"lab2\"} 5"),
              QByteArray("vqgateway_clients{instance_name=\"lab2\"} 1"),
              QByteArray("vqgateway_build_info{version=\"01.01.01\",instance_name=\"lab2\"} 1"),
              QByteArray("vqgateway_clients_refused_total{reason=\"not_allowed\",instance_name="
                         "\"lab2\"} 1"),
              "\nvqgateway_bytes_from_client_total" + clientSeries + "9\n",
              "\nvqgateway_bytes_to_client_total" + clientSeries + "5\n"})
            QVERIFY2(metrics.contains(sample), sample);
        // A client's series leave with it.
        two.abort();
        QTRY_VERIFY(!scrape().contains("_client_total{"));
        QTRY_VERIFY(logMessages(QStringLiteral("lab2"))
                            .contains(QStringLiteral("[DEVICE] -  \"PONG[LF]\"")));
        QVERIFY(inOrder(logMessages(QStringLiteral("lab1")),
                        {"LoggingLevel \"abc\" is not a level from 0 to 6 - using 1",
                         "No display found: running without a window", "Running headless"}));
        QVERIFY(!logMessages(QStringLiteral("lab2")).join('\n').contains("No display found"));
        QVERIFY(inOrder(logMessages(QStringLiteral("lab2")),
                        {"Device: [::1]:#, lines end in LF", "Allowed clients: 127.0.0.1",
                         "Metrics: 127.0.0.1:#", "Traffic logging: on"}));
        // The check says what a start would use and what is wrong, and touches nothing of the
        // running instance: neither its guard nor its log.
        const QByteArray check = run({"--check-config", "--instance", "lab1"}, 2);
        QVERIFY2(check.contains("Listen: every interface, port " + QByteArray::number(firstPort))
                         && check.endsWith("\nLoggingLevel \"abc\" is not a level from 0 to 6 - "
                                           "using 1\n"),
                 check);
        QVERIFY(logMessages(QStringLiteral("lab1")).contains("Running headless"));
        QVERIFY(run({"--check-config", "--instance", "lab2"}).contains("Traffic logging: off\n"));
        QVERIFY(QRegularExpression("\nINFO  [-0-9]{10}T[:.0-9]{12} Running headless ?\n")
                        .match(lab2->readAllStandardError())
                        .hasMatch());
        QCOMPARE(run({"--instance", "lab1"}, 1),
                 QByteArray("Application already running. Instance: lab1\n"));
        QVERIFY(!QFile::exists(path(settingsFile)) && !QFile::exists(path(logFile)));
        // A log starts afresh once it would pass 20 MiB, and keeps no backup.
        const QString log = path(logFile, QStringLiteral("lab2"));
        const QByteArray lines = QByteArray(998, 'x') + "\r\n";
        qint64 largest = 0, size = 0;
        QVERIFY2(QTest::qWaitFor(
                         [&] {
                             while (second.latest()->bytesToWrite() < 256 * 1024)
                                 second.send(lines);
                             largest = qMax(largest, size = QFileInfo(log).size());
                             return size < largest;
                         },
                         60000),
                 "the log never started afresh");
        verifyWithin(largest, 20000000, 20971520 + 50000, "largest log");
        QVERIFY(!logMessages(QStringLiteral("lab2")).value(0).startsWith(QLatin1String("-----"))
                && !QFile::exists(log + ".1"));
        terminate(lab1);
        // Not even a scraper's connection just opened holds up the end.
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, metricsPort);
        QVERIFY(late.waitForConnected(5000));
        terminate(lab2);
        // Timed by the program's own log, so that a loaded machine's slow exit does not count.
        QFile lab2Log(log);
        QVERIFY(lab2Log.open(QIODevice::ReadOnly));
        QMap<QString, QDateTime> at;
        for (const QByteArray &line : lab2Log.readAll().split('\n'))
            if (line.contains("Stopping"))
                at.insert(QString::fromUtf8(line.mid(30)).trimmed(),
                          QDateTime::fromString(QString::fromLatin1(line.left(23)),
                                                Qt::ISODateWithMs));
        verifyWithin(at.value("Stopping the gateway")
                             .msecsTo(at.value("Stopping server client threads...")),
                     0, 1000, "ms from the stop to the gateway's own");
        QSettings stored(path(settingsFile, QStringLiteral("lab2")), QSettings::IniFormat);
        QCOMPARE(stored.allKeys(), (QStringList{"IpAddress", "Port", "PortLocal"}));
        QCOMPARE(stored.value("Port").toInt() + stored.value("PortLocal").toInt(), 21000);
    }
    // As a service: systemd hears when the gateway is ready (not while its port is taken), what
    // it does, that it lives and that it stops; errors reach the journal as errors, each line
    // stamped by the journal alone.
    void underSystemd()
    {
        FakeDevice device;
        QTcpServer taken, metricsTaken;
        QVERIFY(taken.listen(QHostAddress::LocalHost)
                && metricsTaken.listen(QHostAddress::LocalHost));
        const quint16 port = taken.serverPort(), metricsPort = metricsTaken.serverPort();
        const QString errors = dir->filePath("stderr"), notify = dir->filePath("notify");
        QFile(errors).open(QIODevice::WriteOnly);
        struct stat file;
        QVERIFY(::stat(QFile::encodeName(errors), &file) == 0);
        sockaddr_un address{AF_UNIX, {}};
        qstrncpy(address.sun_path, QFile::encodeName(notify), sizeof address.sun_path);
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        QStringList told;
        const auto hear = [&](const QString &what) {
            for (char datagram[512]; ssize_t size = ::recv(fd, datagram, sizeof datagram, 0);)
                if (size > 0)
                    told.append(QString::fromUtf8(datagram, int(size)) + "\n");
                else
                    break;
            return told.filter(what).size();
        };
        QProcessEnvironment env;
        env.insert("JOURNAL_STREAM", QStringLiteral("%1:%2").arg(file.st_dev).arg(file.st_ino));
        env.insert("NOTIFY_SOCKET", notify);
        env.insert("WATCHDOG_USEC", "2000000");
        writeSettings({{"LoggingLevel", "abc"}});
        QProcess *gateway
                = start({"--headless", "--device", "127.0.0.1:" + QString::number(device.port()),
                         "--listen", "127.0.0.1:" + QString::number(port), "--metrics",
                         QString::number(metricsPort)},
                        false, true, env, errors);
        const QString failed = QStringLiteral("clients 0/5, listening on port %1 failed").arg(port);
        QTRY_VERIFY_WITH_TIMEOUT(hear(failed) > 0, 10000);
        QCOMPARE(hear("READY=1"), 0);
        taken.close();
        metricsTaken.close();
        QTRY_COMPARE_WITH_TIMEOUT(hear("READY=1"), 1, 10000);
        FakeClient client(port);
        const QString serving
                = QStringLiteral("STATUS=device 127.0.0.1:%1 connected, clients 1/5\n");
        QTRY_VERIFY2(hear(serving.arg(device.port())) > 0, qPrintable(told.join("")));
        const int alive = hear("WATCHDOG=1");
        QTRY_VERIFY_WITH_TIMEOUT(hear("WATCHDOG=1") > alive, 1500);
        const auto journal = [&errors] {
            QFile stream(errors);
            return stream.open(QIODevice::ReadOnly) ? stream.readAll() : QByteArray();
        };
        QTRY_VERIFY_WITH_TIMEOUT(journal().contains("INFO Serving metrics"), 10000);
        QCOMPARE(hear("STOPPING=1"), 0);
        terminate(gateway);
        QCOMPARE(hear("STOPPING=1"), 1);
        ::close(fd);
        QVERIFY2(journal().contains("\n<6>INFO Running headless \n")
                         && journal().contains("\n<3>ERROR LoggingLevel \"abc\" is not a level "
                                               "from 0 to 6 - using 1 \n")
                         && journal().count("Could not serve metrics") == 1
                         && journal().contains(
                                 QStringLiteral("\n<3>ERROR Could not serve metrics on "
                                                "%1: address in use, retrying every "
                                                "5 s \n")
                                         .arg(metricsPort)
                                         .toUtf8())
                         && journal().contains(QStringLiteral("\n<6>INFO Serving metrics on \"%1\"")
                                                       .arg(metricsPort)
                                                       .toUtf8()),
                 journal());
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
