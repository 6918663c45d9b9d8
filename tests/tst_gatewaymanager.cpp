#include "gateway/statustext.h"
#include "gateway/device/tcpclientservice.h"
#include "platform/socketdescriptor.h"
#include "tests/testsupport.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <thread>

class TestGatewayManager : public GatewayTest
{
    Q_OBJECT

    // Checked on both sides: long timers may fire 5% early, and a loaded machine is late.
    static void verifyAbout(qint64 measured, qint64 expected, const char *what)
    {
        verifyWithin(measured, expected - expected / 20 - 10, expected + expected / 5 + 250, what);
    }

private slots:
    // Without Autoconnect nothing starts; a port that is none is an error, and an allowed-clients
    // list with a bad entry serves nobody, rather than everybody (the start log says so).
    void nothingStartsUnaskedAndBadSettingsServeNobody()
    {
        GatewaySettings().setValue(QStringLiteral("AllowedClients"),
                                   QStringLiteral("127.0.0.1, x"));
        createManager();
        QTest::qWait(600);
        expect({}, {});
        for (uint refused : {0u, 65536u + 10500u}) {
            manager->startServer(refused);
            expect({"server 2 Error: check your settings"}, {"ERROR Could not start server"});
        }
        startServer();
        FakeClient client(port);
        QTRY_COMPARE(client.error(), QAbstractSocket::RemoteHostClosedError);
        QCOMPARE(server()->clientCount(), 0);
    }
    // Start after 150 and 300 ms, retries 5 s after each error; a retry never drops a link that
    // came up meanwhile, nor acts once Autoconnect is off or the side was closed by hand.
    void autoconnectAndRetries()
    {
        device.reset(new FakeDevice);
        QTcpServer portInUse;
        QVERIFY(portInUse.listen(QHostAddress::Any, 0));
        GatewaySettings settings;
        settings.setAutoconnect(true);
        settings.setPort(freeLoopbackPort());
        settings.setPortLocal(portInUse.serverPort());
        createManager();
        QTRY_COMPARE(seen,
                     (QStringList{"server 2 Error: check your settings",
                                  "device 0 Connecting host...", "device 2 Connection refused"}));
        verifyAbout(seenAt.at(0), 150, "server start");
        QVERIFY(capture->messages().contains(
                QStringLiteral("ERROR Could not start server on every interface port %1 - address "
                               "in use")
                        .arg(portInUse.serverPort())));
        verifyAbout(seenAt.at(1), 300, "device connection");
        portInUse.close();
        settings.setPort(device->port());
        QTRY_VERIFY_WITH_TIMEOUT(manager->isConnectedToDevice() && manager->isServerStarted(),
                                 8000);
        QCOMPARE(seen.mid(3),
                 (QStringList{"server 1 Started - Connections 0/5", "device 3 Disconnected",
                              "device 0 Connecting host...", "device 1 Connected"}));
        verifyAbout(seenAt.at(3) - seenAt.at(0), 5000, "server retry");
        verifyAbout(seenAt.at(5) - seenAt.at(2), 5000, "device retry");
        // Errors arm both retries; then a manual connect wins and Stop closes the server by hand.
        manager->connectDevice(QStringLiteral("127.0.0.1"), 0);
        manager->startServer(0);
        QTRY_COMPARE(last("server"), QStringLiteral("server 2 Error: check your settings"));
        manager->connectDevice(QStringLiteral("127.0.0.1"), device->port());
        manager->closeServer();
        QTRY_VERIFY(manager->isConnectedToDevice());
        QTRY_COMPARE(last("server"), QStringLiteral("server 0 Idle"));
        manager->closeDeviceConnection();
        QTRY_COMPARE(last("device"), QStringLiteral("device 3 Disconnected"));
        int before = seen.size();
        QTest::qWait(5500);
        QCOMPARE(seen.size(), before);
        QCOMPARE(device->connectionCount(), 2);
        manager->connectDevice(QStringLiteral("127.0.0.1"), 0);
        QTRY_COMPARE(last("device"),
                     QStringLiteral("device 2 Empty IP address or invalid port number!"));
        settings.setAutoconnect(false);
        before = seen.size();
        QTest::qWait(5500);
        QCOMPARE(seen.size(), before);
    }
    // What the device link shows and logs, step by step, all in this thread; then a stop.
    void deviceLink()
    {
        device.reset(new FakeDevice);
        createManager();
        const QString refused = QString::number(freeLoopbackPort()),
                      devicePort = QString::number(device->port());
        manager->connectDevice(QStringLiteral("127.0.0.1"), refused.toUInt());
        expect({"device 0 Connecting host...", "device 2 Connection refused"},
               {"Connecting to \"127.0.0.1\" port " + refused,
                "ERROR TCP error: \"Connection refused\""});
        manager->connectDevice(QStringLiteral("meter.invalid"), 5025);
        expect({"device 3 Disconnected", "device 0 Connecting host...",
                "device 2 Host meter.invalid not found"},
               {"Disconnecting from host", "Connecting to \"meter.invalid\" port 5025",
                "ERROR TCP error: \"Host meter.invalid not found\""});
        manager->connectDevice(QStringLiteral("127.0.0.1"), 0);
        expect({"device 3 Disconnected", "device 2 Empty IP address or invalid port number!"},
               {"Disconnecting from host",
                "ERROR Trying to connect host using either an empty IP address or an invalid port "
                "number!"});
        manager->connectDevice(QStringLiteral("127.0.0.256"), 10500);
        expect({"device 2 Invalid IP address!"},
               {"ERROR Trying to connect using an invalid IP address!"});
        manager->closeDeviceConnection(); // no socket was made: nothing to report
        manager->connectDevice(QStringLiteral("127.000.000.001"), device->port());
        // A line written while the link comes up is refused, to be dropped and counted: it could
        // not reach the device in its order.
        QVERIFY(!manager->findChild<TcpClientService *>()->write("early\r\n"));
        expect({"device 0 Connecting host...", "device 1 Connected"},
               {"Connecting to \"127.0.0.1\" port " + devicePort,
                "Connected to \"127.0.0.1\" port " + devicePort});
        startServer();
        FakeClient client(port);
        QTRY_COMPARE(server()->clientCount(), 1);
        QVERIFY(device->received.isEmpty());
        device->send(QByteArray("one\r\n\x00two\xff\r\nthree\r\n", 19));
        QTRY_COMPARE(client.received, QByteArray("one\r\n\x00two\xff\r\nthree\r\n", 19));
        // 70 KiB without a line end: one error line, and nothing of that line goes on.
        for (int i = 0; i < 70; ++i)
            device->send(QByteArray(1024, 'x'));
        const QString overflow = QStringLiteral("ERROR Commands received do not contain any "
                                                "<CR><LF> sequence. Input buffer cleared!");
        QTRY_VERIFY(capture->messages().contains(overflow));
        // A half line left by one link never joins the next link's first line.
        device->send("END\r\nA\r\nstale");
        QTRY_VERIFY(client.received.endsWith("three\r\nA\r\n"));
        QCOMPARE(capture->count(overflow), 1);
        seen.clear();
        capture->clear();
        manager->connectDevice(QStringLiteral("127.0.0.1"), device->port());
        expect({"device 3 Disconnected", "device 0 Connecting host...", "device 1 Connected"},
               {"Disconnecting from host", "Connecting to \"127.0.0.1\" port " + devicePort,
                "Connected to \"127.0.0.1\" port " + devicePort});
        device->send("OK\r\n");
        QTRY_VERIFY(client.received.endsWith("A\r\nOK\r\n"));
        device->latest()->disconnectFromHost();
        expect({"device 2 The remote host closed the connection", "device 3 Disconnected"},
               {"ERROR TCP error: \"The remote host closed the connection\"",
                "Disconnected from host."});
        // A device that never answers the attempt (its listen backlog is full) ends it after 10 s.
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof address;
        const int full = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(::bind(full, reinterpret_cast<sockaddr *>(&address), size) == 0
                && ::listen(full, 0) == 0
                && ::getsockname(full, reinterpret_cast<sockaddr *>(&address), &size) == 0);
        FakeClient filler(ntohs(address.sin_port));
        QTRY_VERIFY(filler.isConnected());
        QElapsedTimer attempt;
        attempt.start();
        manager->connectDevice(QStringLiteral("127.0.0.1"), ntohs(address.sin_port));
        QTRY_COMPARE_WITH_TIMEOUT(last("device"), QStringLiteral("device 2 Connection timed out"),
                                  12000);
        verifyAbout(attempt.elapsed(), 10000, "connection attempt");
        ::close(full);
        // Stop pressed while the client's departure report still waits in the queue: it is
        // reported from the client thread, and no event is handled here meanwhile.
        client.abort();
        QDeadlineTimer deadline(5000);
        while (server()->clientCount() != 0 && !deadline.hasExpired())
            QThread::msleep(1);
        manager->closeServer();
        QTRY_COMPARE(last("server"), QStringLiteral("server 0 Idle"));
        QCoreApplication::processEvents();
        QCOMPARE(last("server"), QStringLiteral("server 0 Idle"));
        QVERIFY(!server()->isListening());
    }
    void relayBothWays()
    {
        startGateway();
        FakeClient first(port), second(port);
        QTRY_COMPARE(server()->clientCount(), 2);
        // With "Log traffic" off nothing is logged, even at the most detailed level.
        VqLog::Logger::instance().setLoggingLevel(VqLog::Trace);
        capture->clear();
        device->send("A\r\nB\r\n");
        QTRY_COMPARE(second.received + first.received, QByteArray("A\r\nB\r\nA\r\nB\r\n"));
        QCOMPARE(capture->count(QStringLiteral("[")), 0);
        // Every byte value goes through unchanged, and is logged as the logger quotes a text.
        GatewaySettings().setLogTraffic(true);
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        first.write(all);
        QTRY_COMPARE(device->received, all);
        QString quoted;
        QDebug(&quoted) << "[CLIENT] - "
                        << QString::fromLatin1(all.constData(), all.size())
                                   .replace(QChar(13), "[CR]")
                                   .replace(QChar(10), "[LF]");
        // The client is named after the bytes, as the log, the status and the metrics number it.
        const QString firstName
                = QStringLiteral(" from client 1 127.0.0.1:%1").arg(first.localPort());
        QTRY_COMPARE(capture->messages().filter("[CLIENT]"),
                     QStringList{quoted.chopped(1) + firstName});
        // The metrics read each client from a thread of their own while the relay goes on.
        std::atomic<quint64> fromFirst{0};
        std::thread scraper([&] {
            const QDeadlineTimer deadline(5000);
            while (fromFirst < 260 && !deadline.hasExpired())
                for (const ClientInfo &client : manager->connectedClients())
                    fromFirst = client.number == 1 ? client.bytesReceived : fromFirst.load();
        });
        first.write("more");
        QTRY_COMPARE(device->received, all + "more");
        scraper.join();
        QCOMPARE(fromFirst.load(), 260u);
        // Both sides of both links are watched for peers that vanished.
        QCOMPARE(keepAliveIdle(port, first.localPort()), 30);
        QCOMPARE(keepAliveIdle(device->latest()->peerPort(), device->port()), 30);
        device->send("C\r\n");
        QTRY_VERIFY(capture->messages().contains(QStringLiteral("[DEVICE] -  \"C[CR][LF]\"")));
        // A client that ends its sending side after its command still gets the reply, and keeps
        // its place until 2 s after the command reached the device (timed from before it went).
        // One that closed altogether goes as soon as a reply finds it gone.
        FakeClient asker(port), closer(port);
        QTRY_COMPARE(server()->clientCount(), 4);
        closer.write("BYE\r\n");
        closer.close();
        QTRY_COMPARE(capture->count(QStringLiteral("ended its sending side: kept for its replies")),
                     1);
        QElapsedTimer sinceCommand;
        sinceCommand.start();
        device->send("TO ALL\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(server()->clientCount(), 3, 1500);
        QVERIFY(sinceCommand.elapsed() < 1500);
        sinceCommand.start();
        asker.write("ASK\r\n");
        QTRY_VERIFY(device->received.endsWith("ASK\r\n"));
        ::shutdown(int(asker.socketDescriptor()), SHUT_WR);
        QTRY_COMPARE(capture->count(QStringLiteral("ended its sending side: kept for its replies")),
                     2);
        device->send("ANSWER\r\n");
        QTRY_VERIFY(asker.received.endsWith("ANSWER\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(server()->clientCount(), 2, 4000);
        verifyAbout(sinceCommand.elapsed(), 2000, "half-closed client kept");
        // A client the system gives up, as it takes nothing for too long, is named with why.
        quint16 stalledPort = 0;
        const int threads = capture->count(QStringLiteral("New client thread"));
        const int stalled = connectStalledClient(port, &stalledPort);
        // Once its thread set up the connection's own limits.
        QTRY_COMPARE(capture->count(QStringLiteral("New client thread")), threads + 1);
        const unsigned int shortLimitMs = 300;
        setsockopt(socketOf(port, stalledPort), IPPROTO_TCP, TCP_USER_TIMEOUT, &shortLimitMs,
                   sizeof shortLimitMs);
        device->send(numberedLines("X", 0, 2000));
        QTRY_COMPARE_WITH_TIMEOUT(
                capture->count(QStringLiteral("ERROR Client \"127.0.0.1\" lost: it took nothing, "
                                              "or answered no keep-alive probe, for 60 s")),
                1, 10000);
        ::close(stalled);
        // Without a device link a command is dropped, and still logged.
        manager->closeDeviceConnection();
        first.write("lost\r\n");
        QTRY_VERIFY(capture->messages().contains("[CLIENT] -  \"lost[CR][LF]\"" + firstName));
        QCOMPARE(device->received, all + "moreBYE\r\nASK\r\n");
    }
    // A client that leaves Nagle's algorithm on, as PyVISA does, sends a small line only once the
    // one before is acknowledged, which the system delays by 40 ms once replies follow its lines.
    // A line that asks nothing is acknowledged at once; a query's reply carries its own.
    void linesAcknowledgedAtOnce()
    {
        startGateway();
        FakeClient client(port);
        QTRY_COMPARE(server()->clientCount(), 1);
        const int gatewaySide = socketOf(port, client.localPort());
        int quickAck = -1;
        device->answer = [&](const QByteArray &line) {
            socklen_t size = sizeof quickAck;
            getsockopt(gatewaySide, IPPROTO_TCP, TCP_QUICKACK, &quickAck, &size);
            return line.startsWith("READ?") ? QByteArray("1.5\r\n") : QByteArray();
        };
        for (int n = 1; n <= 3; ++n) {
            client.write("READ?\n");
            QTRY_COMPARE(client.received.count('\n'), n);
        }
        client.write("CONF:VOLT\n");
        QTRY_VERIFY(device->received.endsWith("CONF:VOLT\n"));
        QCOMPARE(quickAck, 1);
    }
    // While the device is away the clients are told; with "close" they are closed, and new ones
    // refused, until it is back, and observers stay. With "keep", what a client sends meanwhile is
    // dropped with one line per client, and a routed reply waited for ends without a time-out.
    void deviceAway()
    {
        GatewaySettings settings;
        settings.setValue(QStringLiteral("DeviceNotices"), true);
        settings.setValue(QStringLiteral("WhenDeviceDown"), QStringLiteral("Close"));
        const quint16 observerPort = freeLoopbackPort();
        settings.setValue(QStringLiteral("ObserverListen"), QString::number(observerPort));
        startGateway();
        FakeClient client(port);
        QTRY_COMPARE(server()->clientCount(), 1);
        FakeClient observer(observerPort);
        // Observers and clients are numbered alike, and no number is given twice.
        QTRY_COMPARE(capture->count(QStringLiteral("as observer 2")), 1);
        device->latest()->disconnectFromHost();
        QTRY_VERIFY(client.isClosed());
        QCOMPARE(client.received, QByteArray("!VQGATEWAY DEVICE DOWN\r\n"));
        FakeClient refused(port);
        QTRY_VERIFY(refused.isClosed());
        manager->connectDevice(QStringLiteral("127.0.0.1"), device->port());
        QTRY_VERIFY(manager->isConnectedToDevice());
        FakeClient back(port);
        QTRY_COMPARE(server()->clientCount(), 1);
        QVERIFY(observer.isConnected() && observer.received.isEmpty());
        manager.reset();
        settings.setValue(QStringLiteral("WhenDeviceDown"), QStringLiteral("keep"));
        settings.setValue(QStringLiteral("ReplyEnd"), QStringLiteral("query"));
        settings.setReplyRouting(true);
        settings.setLogTraffic(true);
        startGateway();
        FakeClient asker(port);
        QTRY_COMPARE(server()->clientCount(), 1);
        asker.write("Q?\r\n");
        QTRY_COMPARE(device->received, QByteArray("Q?\r\n"));
        device->latest()->disconnectFromHost();
        QTRY_COMPARE(asker.received, QByteArray("!VQGATEWAY DEVICE DOWN\r\n"));
        asker.write("LOST?\r\n");
        QTRY_COMPARE(manager->counters().bytesDroppedDeviceDown, 7u);
        manager->connectDevice(QStringLiteral("127.0.0.1"), device->port());
        QTRY_COMPARE(asker.received,
                     QByteArray("!VQGATEWAY DEVICE DOWN\r\n!VQGATEWAY DEVICE UP\r\n"));
        asker.write("AGAIN?\r\n");
        QTRY_VERIFY(device->received.endsWith("AGAIN?\r\n"));
        device->send("R\r\n");
        QTRY_COMPARE(
                capture->count(QStringLiteral("[DEVICE] -  \"R[CR][LF]\" to client 1 127.0.0.1:%1")
                                       .arg(asker.localPort())),
                1);
        QCOMPARE(capture->count(QStringLiteral("ERROR Device not connected: 7 bytes from client 1 "
                                               "dropped")),
                 1);
        QCOMPARE(capture->count(QStringLiteral("No complete reply")), 0);
        QVERIFY(statusText(manager->status())
                        .contains(QRegularExpression(
                                "link +up +since .*, failed attempts since: 0")));
    }
    // Eight clients at once: five are served, the others closed at once; the port stays the
    // gateway's while it is full, and a place that frees up is offered again on the listen
    // address only.
    void connectionLimitPausesAndResumes()
    {
        GatewaySettings settings;
        settings.setListenAddress(QStringLiteral("127.0.0.1"));
        startGateway();
        capture->clear();
        // A connection reset while it waits to be taken is nobody's: neither served nor named.
        quint16 resetPort = 0;
        const int reset = connectStalledClient(port, &resetPort);
        Platform::resetOnClose(reset);
        ::close(reset);
        QList<FakeClient *> clients;
        QObject owner;
        for (int i = 0; i < 8; ++i) // all wait in the listen backlog before any is accepted
            clients.append(new FakeClient(port, &owner));
        QTRY_COMPARE(server()->clientCount(), 5);
        device->send("HELLO\r\n");
        QTRY_COMPARE(std::count_if(clients.begin(), clients.end(),
                                   [](FakeClient *c) { return c->received == "HELLO\r\n"; }),
                     5);
        QTRY_COMPARE(std::count_if(clients.begin(), clients.end(),
                                   [](FakeClient *c) { return c->isClosed(); }),
                     3);
        QCOMPARE(last("server"), QStringLiteral("server 1 Started - Connections 5/5"));
        QCOMPARE(manager->status().value("server").toObject().value("state").toString(),
                 QStringLiteral("paused at the limit"));
        QVERIFY(statusText({{"uptimeSeconds", 90061.0}}).contains("1 d 1 h 1 min 1 s"));
        QVERIFY(seen.filter(QRegularExpression(QStringLiteral("[6-9]/5$"))).isEmpty());
        QVERIFY(capture->messages().filter(QStringLiteral("\"\"")).isEmpty());
        clients.erase(std::remove_if(clients.begin(), clients.end(),
                                     [](FakeClient *c) { return c->isClosed(); }),
                      clients.end());
        QCOMPARE(capture->count(QStringLiteral(
                         "Connection from \"127.0.0.1\" refused: 5 clients already connected")),
                 1);
        // While full, the port stays the gateway's: no other program can take it meanwhile.
        QTcpServer thief;
        QVERIFY(!thief.listen(QHostAddress::LocalHost, port));
        clients.takeFirst()->abort();
        QTRY_COMPARE(last("server"), QStringLiteral("server 1 Started - Connections 4/5"));
        QVERIFY(inOrder(capture->messages(),
                        {"Max connection number reached - Pause listening", "Resume listening"}));
        // On the listen address alone.
        QTcpSocket elsewhere;
        elsewhere.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), port);
        QTRY_COMPARE(elsewhere.error(), QAbstractSocket::ConnectionRefusedError);
        clients.append(new FakeClient(port, &owner));
        QTRY_COMPARE(last("server"), QStringLiteral("server 1 Started - Connections 5/5"));
        // A client that only waits for possible replies gives way to one that needs the place.
        FakeClient *waiting = clients.takeFirst();
        waiting->write("LAST\r\n");
        QTRY_VERIFY(device->received.endsWith("LAST\r\n"));
        capture->clear();
        ::shutdown(int(waiting->socketDescriptor()), SHUT_WR);
        QTRY_COMPARE(capture->count(QStringLiteral("kept for its replies")), 1);
        clients.append(new FakeClient(port, &owner));
        QTRY_VERIFY(waiting->isClosed());
        QCOMPARE(capture->count(QStringLiteral("only waited for replies: it gives way")), 1);
        QTRY_COMPARE(capture->count(QStringLiteral("Client thread deleted")), 1);
        device->send("NEXT\r\n");
        QTRY_COMPARE(clients.last()->received, QByteArray("NEXT\r\n"));
        // Stop ends every client thread and closes every connection.
        capture->clear();
        manager->closeServer();
        QTRY_COMPARE(last("server"), QStringLiteral("server 0 Idle"));
        for (FakeClient *client : std::as_const(clients))
            QTRY_VERIFY(client->isClosed());
        QTRY_COMPARE(capture->count(QStringLiteral("Client thread deleted")), 5);
    }
};

QTEST_GUILESS_MAIN(TestGatewayManager)
#include "tst_gatewaymanager.moc"
