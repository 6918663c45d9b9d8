#include "gateway/gatewaysettings.h"
#include "gateway/deviceframing.h"
#include "gateway/gatewaymanager.h"
#include "tests/testsupport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

// One status as the window sees it, and when it came (ms after the manager was made).
struct Seen
{
    QString side;
    int state;
    QString info;
    qint64 at;
};

class TestGatewayManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDir> dir;
    QSharedPointer<CaptureDestination> capture;
    std::unique_ptr<GatewayManager> manager;
    QList<Seen> seen;
    QElapsedTimer clock;

    void createManager()
    {
        clock.start();
        manager.reset(new GatewayManager);
        connect(manager.get(), &GatewayManager::connectionStateChanged, manager.get(),
                [this](VQDEVICE_STATUS state, const QString &info) { seen.append({"device", int(state), info, clock.elapsed()}); });
        connect(manager.get(), &GatewayManager::serverStateChanged, manager.get(),
                [this](VQSERVER_STATUS state, const QString &info) { seen.append({"server", int(state), info, clock.elapsed()}); });
    }
    QStringList texts(const QString &side) const
    {
        QStringList result;
        for (const Seen &s : seen)
            if (s.side == side)
                result.append(QString::number(s.state) + " " + s.info);
        return result;
    }
    QString last(const QString &side) const { return texts(side).value(texts(side).size() - 1); }
    qint64 when(const QString &side, const QString &text, int from = 0) const
    {
        for (const Seen &s : seen.mid(from))
            if (s.side == side && QString::number(s.state) + " " + s.info == text)
                return s.at;
        return -1;
    }
    quint16 startServer()
    {
        const quint16 port = freeLoopbackPort();
        manager->startServer(port);
        [this] { QTRY_VERIFY(manager->isServerStarted()); }();
        return port;
    }
    TcpServerService *server() const { return manager->findChild<TcpServerService *>(); }

private slots:
    void initTestCase() { dir.reset(new TestDir); }
    void init()
    {
        capture = CaptureDestination::install();
        TestDir::resetSettings();
        seen.clear();
    }
    void cleanup()
    {
        dir->noteResult();
        manager.reset();
    }

    void withoutAutoconnectNothingStarts()
    {
        createManager();
        QSignalSpy server(manager.get(), &GatewayManager::serverStateChanged);
        QVERIFY(!server.wait(600));
        QVERIFY(seen.isEmpty());
        for (uint port : {0u, 65536u + 10500u}) {
            manager->startServer(port);
            QTRY_COMPARE(last("server"), QStringLiteral("2 Error: check your settings"));
        }
        QVERIFY(!manager->isServerStarted());
    }

    // Autoconnect starts the server after 150 ms and the device after 300 ms; a refused device
    // is retried with the stored settings every 5 s; a retry never drops a link that came up
    // meanwhile, and does nothing once Autoconnect is off or the side was closed by hand.
    void autoconnectAndRetries()
    {
        FakeDevice device;
        GatewaySettings settings;
        settings.setAutoconnect(true);
        settings.setPort(freeLoopbackPort());
        settings.setPortLocal(freeLoopbackPort());
        createManager();
        QTRY_COMPARE(texts("device").size(), 2);
        QCOMPARE(texts("device"), (QStringList{"0 Connecting host...", "2 Connection refused"}));
        QCOMPARE(texts("server"), QStringList{"1 Started - Connections 0/5"});
        const qint64 serverAt = when("server", "1 Started - Connections 0/5"), deviceAt = when("device", "0 Connecting host...");
        QVERIFY2(serverAt >= 140 && serverAt < 280 && deviceAt >= 285 && deviceAt < 1500,
                 qPrintable(QStringLiteral("server %1 ms, device %2 ms").arg(serverAt).arg(deviceAt)));

        settings.setPort(device.port());
        QTRY_VERIFY_WITH_TIMEOUT(manager->isConnectedToDevice(), 8000);
        QCOMPARE(texts("device").mid(2), (QStringList{"3 Disconnected", "0 Connecting host...", "1 Connected"}));
        const qint64 interval = when("device", "0 Connecting host...", 3) - when("device", "2 Connection refused");
        QVERIFY2(interval >= 4700 && interval <= 6000, qPrintable(QString::number(interval)));

        // Errors re-arm both retries; then a manual connect wins and Stop closes the server by
        // hand: neither retry touches them.
        manager->connectDevice(QStringLiteral("127.0.0.1"), 10499);
        manager->startServer(0);
        QTRY_COMPARE(last("server"), QStringLiteral("2 Error: check your settings"));
        QCOMPARE(last("device"), QStringLiteral("2 Empty IP address or invalid port number!"));
        manager->connectDevice(QStringLiteral("127.0.0.1"), device.port());
        manager->closeServer();
        QTRY_VERIFY(manager->isConnectedToDevice());
        QTRY_COMPARE(last("server"), QStringLiteral("0 Idle"));
        int before = seen.size();
        QTest::qWait(5500);
        QCOMPARE(seen.size(), before);
        QCOMPARE(device.connectionCount(), 2);

        // With Autoconnect off, a pending retry does nothing.
        manager->connectDevice(QStringLiteral("127.0.0.1"), 10499);
        QTRY_COMPARE(last("device"), QStringLiteral("2 Empty IP address or invalid port number!"));
        settings.setAutoconnect(false);
        before = seen.size();
        QTest::qWait(5500);
        QCOMPARE(seen.size(), before);
    }

    void connectionLimitPausesAndResumes()
    {
        QTcpServer clientBlocker;
        QVERIFY(clientBlocker.listen(QHostAddress::Any, 0));
        createManager();
        const quint16 port = startServer();
        QVERIFY(capture->contains(QStringLiteral("Listening to %1 ... ").arg(port)));
        QObject owner;
        QList<FakeClient *> clients;
        for (int i = 1; i <= 5; ++i) {
            clients.append(new FakeClient(port, &owner));
            QTRY_COMPARE(last("server"), QStringLiteral("1 Started - Connections %1/5").arg(i));
        }
        QTRY_VERIFY(capture->contains(QStringLiteral("Max connection number reached - Pause listening ")));
        auto *refused = new FakeClient(port, &owner);
        QTRY_COMPARE(refused->socket()->error(), QAbstractSocket::ConnectionRefusedError);
        clients.first()->socket()->disconnectFromHost();
        QTRY_VERIFY(capture->contains(QStringLiteral("Resume listening ")));
        QCOMPARE(last("server"), QStringLiteral("1 Started - Connections 4/5"));
        // The departing thread says it was disconnected, then that it finished; other threads may
        // log in between.
        const QStringList messages = capture->messages();
        const int disconnectedAt = messages.indexOf(QStringLiteral("Client thread has been disconnected. "));
        QVERIFY(disconnectedAt >= 0);
        QVERIFY(messages.indexOf(QRegularExpression(QStringLiteral("^Thread \\d+ finished $")), disconnectedAt) > disconnectedAt);
        QCOMPARE(capture->messages().filter(QRegularExpression(QStringLiteral("^New client thread \\d+ from \"127.0.0.1\" $"))).size(), 5);
        auto *late = new FakeClient(port, &owner);
        QTRY_VERIFY(late->isConnected());
        QTRY_COMPARE(last("server"), QStringLiteral("1 Started - Connections 5/5"));

        // Stop ends every client thread and closes every connection.
        capture->clear();
        manager->closeServer();
        QVERIFY(capture->inOrder({"Stopping server client threads... ", "Stopping server... "}));
        QTRY_COMPARE(last("server"), QStringLiteral("0 Idle"));
        clients.replace(0, late);
        for (FakeClient *client : clients)
            QTRY_VERIFY(client->isClosed());
        QTRY_COMPARE(capture->messages().filter(QRegularExpression(QStringLiteral("^Client thread \\d+ stopped $"))).size(), 5);
        QTRY_COMPARE(capture->count(QStringLiteral("Client thread deleted")), 5);

        // A port in use is an error.
        manager->startServer(clientBlocker.serverPort());
        QTRY_COMPARE(last("server"), QStringLiteral("2 Error: check your settings"));
        QCOMPARE(capture->messages().last(), QStringLiteral("Could not start server "));
    }

    // Stop pressed while a client's departure report still waits in the queue.
    void stopWithADepartureQueuedStaysStopped()
    {
        createManager();
        const quint16 port = startServer();
        {
            FakeClient client(port);
            QTRY_COMPARE(last("server"), QStringLiteral("1 Started - Connections 1/5"));
        }
        // The departure is reported from the client thread; no event is handled here meanwhile.
        QDeadlineTimer deadline(5000);
        while (server()->clientCount() != 0 && !deadline.hasExpired())
            QThread::msleep(1);
        manager->closeServer();
        QTRY_COMPARE(last("server"), QStringLiteral("0 Idle"));
        QCoreApplication::processEvents();
        QCOMPARE(last("server"), QStringLiteral("0 Idle"));
        QVERIFY(!server()->isListening());
    }

    // One client leaves as a fifth arrives, over and over: below five the gateway keeps accepting.
    void leaveWhileArrivingNeverPausesBelowTheLimit()
    {
        createManager();
        const quint16 port = startServer();
        std::vector<std::unique_ptr<FakeClient>> clients;
        for (int i = 0; i < 4; ++i)
            clients.emplace_back(new FakeClient(port));
        QTRY_COMPARE(server()->clientCount(), 4);
        for (int round = 0; round < 150 && !QTest::currentTestFailed(); ++round) {
            const int departures = capture->count(QStringLiteral(" finished "));
            clients.front()->socket()->abort();
            clients.erase(clients.begin());
            clients.emplace_back(new FakeClient(port));
            QTRY_COMPARE(capture->count(QStringLiteral(" finished ")), departures + 1);
            QTRY_COMPARE(server()->clientCount(), 4);
            QTRY_COMPARE(last("server"), QStringLiteral("1 Started - Connections 4/5"));
        }
        QTRY_VERIFY2(server()->isListening(), "paused with four clients");
    }

    void refusedDeviceAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<uint>("port");
        QTest::addColumn<bool>("empty");
        QTest::newRow("port 10499") << "127.0.0.1" << 10499u << true;
        QTest::newRow("port above 65535") << "127.0.0.1" << 65536u + 10500u << true;
        QTest::newRow("empty masked field") << "..." << 10500u << true;
        QTest::newRow("part above 255") << "127.0.0.256" << 10500u << false;
    }
    void refusedDeviceAddresses()
    {
        QFETCH(QString, address);
        QFETCH(uint, port);
        QFETCH(bool, empty);
        createManager();
        manager->connectDevice(address, port);
        QTRY_COMPARE(texts("device"), QStringList{empty ? "2 Empty IP address or invalid port number!" : "2 Invalid IP address!"});
        QCOMPARE(capture->messages(), QStringList{empty ? "Trying to connect host using either an empty IP address or an invalid port number! "
                                                        : "Trying to connect using an invalid IP address! "});
        manager->closeDeviceConnection(); // no socket was made: nothing to report
        QCoreApplication::processEvents();
        QCOMPARE(seen.size(), 1);
    }

    void deviceLink()
    {
        createManager();
        manager->connectDevice(QStringLiteral("127.0.0.1"), freeLoopbackPort());
        QTRY_COMPARE(texts("device"), (QStringList{"0 Connecting host...", "2 Connection refused"}));
        QVERIFY(capture->contains(QStringLiteral("TCP error: \"Connection refused\" ")));
        FakeDevice device;
        const quint16 port = startServer();
        FakeClient client(port);
        QTRY_COMPARE(server()->clientCount(), 1);
        capture->clear();
        seen.clear();
        manager->connectDevice(QStringLiteral("127.000.000.001"), device.port());
        QTRY_COMPARE(texts("device"), (QStringList{"3 Disconnected", "0 Connecting host...", "1 Connected"}));
        const QString devicePort = QString::number(device.port());
        QVERIFY(capture->inOrder({"Disconnecting from host ", "Connecting to \"127.0.0.1\" port " + devicePort + " ",
                                  "Connected to \"127.0.0.1\" port " + devicePort + " "}));
        // Replies go on as complete lines only, whatever the reads; more than 128 bytes without a
        // line end are dropped.
        device.send(QByteArray("one\r\n\x00two\xff\r\nthr", 15));
        device.send("ee\r\n");
        QTRY_COMPARE(client.received(), QByteArray("one\r\n\x00two\xff\r\nthree\r\n", 19));
        // 70 KiB without a line end: one error line, and nothing of that line goes on.
        for (int i = 0; i < 70; ++i)
            device.send(QByteArray(1024, 'x'));
        const QString overflow = QStringLiteral("Commands received do not contain any <CR><LF> sequence. Input buffer cleared! ");
        QTRY_VERIFY(capture->contains(overflow));
        // A half line left by one link never joins the next link's first line.
        device.send("END\r\nA\r\nstale");
        QTRY_COMPARE(client.received(), QByteArray("one\r\n\x00two\xff\r\nthree\r\nA\r\n", 22));
        QCOMPARE(capture->count(overflow), 1);
        manager->connectDevice(QStringLiteral("127.0.0.1"), device.port());
        QTRY_COMPARE(device.connectionCount(), 2);
        device.send("OK\r\n");
        QTRY_VERIFY(client.received().endsWith("A\r\nOK\r\n"));
        seen.clear();
        device.closeConnections();
        QTRY_COMPARE(texts("device"), (QStringList{"2 The remote host closed the connection", "3 Disconnected"}));
        QVERIFY(capture->contains(QStringLiteral("Disconnected from host. ")));
    }

    void relayBothWays()
    {
        FakeDevice device;
        createManager();
        const quint16 port = startServer();
        manager->connectDevice(QStringLiteral("127.0.0.1"), device.port());
        QTRY_VERIFY(manager->isConnectedToDevice());
        FakeClient first(port), second(port);
        QTRY_COMPARE(capture->count(QStringLiteral("New client thread")), 2);
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        first.send(all);
        QTRY_COMPARE(device.received(), all);
        device.clear();

        // With "Log traffic" off nothing is logged, even at the most detailed level.
        VqLog::Logger::instance().setLoggingLevel(VqLog::Trace);
        capture->clear();
        device.send("A\r\nB\r\n");
        QTRY_COMPARE(second.received(), QByteArray("A\r\nB\r\n"));
        QTRY_COMPARE(first.received(), QByteArray("A\r\nB\r\n"));
        const QByteArray command("SET\x00\x80\xff\r\n", 8);
        first.send(command);
        QTRY_COMPARE(device.received(), command);
        QCOMPARE(capture->count(QStringLiteral("[")), 0);

        GatewaySettings().setLogTraffic(true);
        device.send("C\r\n");
        QTRY_VERIFY(capture->contains(QStringLiteral("[DEVICE] -  \"C[CR][LF]\" ")));
        second.send(command);
        QTRY_VERIFY(capture->contains(QStringLiteral("[CLIENT] -  \"SET\\u0000\\u0080\u00FF[CR][LF]\" ")));
        QTRY_COMPARE(device.received(), command + command);

        // Above Info nothing is logged, and the relay goes on.
        VqLog::Logger::instance().setLoggingLevel(VqLog::Warn);
        capture->clear();
        device.send("D\r\n");
        QTRY_COMPARE(first.received(), QByteArray("A\r\nB\r\nC\r\nD\r\n"));
        QVERIFY(capture->lines().isEmpty());

        // Without a device link a command is dropped, and still logged.
        VqLog::Logger::instance().setLoggingLevel(VqLog::Info);
        manager->closeDeviceConnection();
        first.send("lost\r\n");
        QTRY_VERIFY(capture->contains(QStringLiteral("[CLIENT] -  \"lost[CR][LF]\" ")));
        QCOMPARE(device.received(), command + command);
    }
};

QTEST_GUILESS_MAIN(TestGatewayManager)
#include "tst_gatewaymanager.moc"
