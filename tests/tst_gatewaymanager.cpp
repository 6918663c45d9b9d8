#include "VqLog/vqlog.h"
#include "app/gatewaysettings.h"
#include "gateway/gatewaymanager.h"
#include "gateway/relaytext.h"
#include "tests/capturedestination.h"
#include "tests/loopback.h"
#include "tests/testdir.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

// One entry per status the window would see: "device" or "server", the state and the text.
struct Seen
{
    QString side;
    int state;
    QString info;
    qint64 at = 0; // ms since the test program started
    bool operator==(const Seen &o) const { return side == o.side && state == o.state && info == o.info; }
};

namespace QTest {
template <>
char *toString(const Seen &seen)
{
    return qstrdup(QStringLiteral("%1 %2 %3").arg(seen.side).arg(seen.state).arg(seen.info).toUtf8().constData());
}
}

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
        manager.reset(new GatewayManager);
        connect(manager.get(), &GatewayManager::connectionStateChanged, manager.get(),
                [this](VQDEVICE_STATUS state, const QString &info) { seen.append({"device", int(state), info, clock.elapsed()}); });
        connect(manager.get(), &GatewayManager::serverStateChanged, manager.get(),
                [this](VQSERVER_STATUS state, const QString &info) { seen.append({"server", int(state), info, clock.elapsed()}); });
    }

    QList<Seen> sideOnly(const QString &side) const
    {
        QList<Seen> result;
        for (const Seen &s : seen)
            if (s.side == side)
                result.append(s);
        return result;
    }

    QTimer *timer(const char *name) const { return manager->findChild<QTimer *>(QLatin1String(name)); }

private slots:
    // An automatic manager whose start-up attempts are over: the server listens and the device
    // connection was refused, so a device retry is pending.
    void createAutomaticManagerAfterStartUp()
    {
        GatewaySettings settings;
        settings.setAutoconnect(true);
        settings.setPort(freeLoopbackPort());
        settings.setPortLocal(freeLoopbackPort());
        createManager();
        QTRY_COMPARE(sideOnly("device").size(), 2);
        QTRY_VERIFY(manager->isServerStarted());
        QVERIFY(timer("deviceRetryTimer")->isActive());
    }

    void initTestCase()
    {
        dir.reset(new TestDir);
        clock.start();
    }

    void init()
    {
        capture.reset(new CaptureDestination);
        VqLog::Logger::instance().setLoggingLevel(VqLog::Debug);
        VqLog::Logger::instance().addDestination(capture);
        TestDir::resetSettings();
        seen.clear();
    }

    void cleanup()
    {
        dir->noteResult();
        manager.reset();
        VqLog::Logger::destroyInstance();
    }

    void withoutAutoconnectNothingStarts()
    {
        createManager();
        QSignalSpy device(manager.get(), &GatewayManager::connectionStateChanged);
        QSignalSpy server(manager.get(), &GatewayManager::serverStateChanged);
        QVERIFY(!server.wait(600));
        QCOMPARE(device.count(), 0);
        QVERIFY(!manager->isServerStarted());
    }

    void invalidLocalPortsAreRefused_data()
    {
        QTest::addColumn<uint>("port");
        QTest::newRow("zero") << 0u;
        QTest::newRow("above 65535") << 65536u + 10500u;
    }

    void invalidLocalPortsAreRefused()
    {
        QFETCH(uint, port);
        createManager();
        manager->startServer(port);
        QTRY_COMPARE(seen.size(), 1);
        QCOMPARE(seen.first(), (Seen{"server", VQSERVER_ERROR, "Error: check your settings"}));
        QVERIFY(!manager->isServerStarted());
    }

    void autoconnectStartsServerFirstThenDevice()
    {
        FakeDevice device;
        GatewaySettings settings;
        settings.setPort(device.port());
        settings.setPortLocal(freeLoopbackPort());
        settings.setAutoconnect(true);
        createManager();
        QTRY_COMPARE(seen.size(), 3);
        QCOMPARE(seen.at(0), (Seen{"server", VQSERVER_STARTED, "Started - Connections 0/5"}));
        QCOMPARE(seen.at(1), (Seen{"device", VQDEVICE_CONNECTING, "Connecting host..."}));
        QCOMPARE(seen.at(2), (Seen{"device", VQDEVICE_CONNECTED, "Connected"}));
        QVERIFY(manager->isServerStarted());
        QVERIFY(manager->isConnectedToDevice());

        // Connecting again drops the current link first.
        seen.clear();
        manager->connectDevice(QStringLiteral("127.0.0.1"), device.port());
        QTRY_COMPARE(seen.size(), 3);
        QCOMPARE(seen.at(0), (Seen{"device", VQDEVICE_DISCONNECTED, "Disconnected"}));
        QCOMPARE(seen.at(1), (Seen{"device", VQDEVICE_CONNECTING, "Connecting host..."}));
        QCOMPARE(seen.at(2), (Seen{"device", VQDEVICE_CONNECTED, "Connected"}));
    }

    void refusedDeviceIsRetriedWithStoredSettings()
    {
        createAutomaticManagerAfterStartUp();
        QCOMPARE(sideOnly("device").at(1).state, int(VQDEVICE_ERROR));
        QCOMPARE(sideOnly("device").at(1).info, QStringLiteral("Connection refused"));

        // The retry uses the stored settings, whatever was used before: a device is there now.
        FakeDevice device;
        GatewaySettings().setPort(device.port());
        QTRY_VERIFY_WITH_TIMEOUT(sideOnly("device").size() >= 5, 8000);
        const QList<Seen> statuses = sideOnly("device");
        QCOMPARE(statuses.at(2), (Seen{"device", VQDEVICE_DISCONNECTED, "Disconnected"}));
        QCOMPARE(statuses.at(3), (Seen{"device", VQDEVICE_CONNECTING, "Connecting host..."}));
        QCOMPARE(statuses.at(4), (Seen{"device", VQDEVICE_CONNECTED, "Connected"}));
        const qint64 interval = statuses.at(3).at - statuses.at(1).at;
        // Qt's coarse timers may fire up to 5 % early or late.
        QVERIFY2(interval >= 4700 && interval <= 6000, qPrintable(QString::number(interval)));
        QCOMPARE(device.connectionCount(), 1);
    }

    void retryLeavesAManualLinkAlone()
    {
        createAutomaticManagerAfterStartUp();
        FakeDevice device;
        GatewaySettings().setPort(device.port());
        manager->connectDevice(QStringLiteral("127.0.0.1"), device.port());
        QTRY_VERIFY(manager->isConnectedToDevice());
        const int before = seen.size();
        QTRY_VERIFY_WITH_TIMEOUT(!timer("deviceRetryTimer")->isActive(), 8000);
        QCoreApplication::processEvents();
        QCOMPARE(seen.size(), before);
        QCOMPARE(device.connectionCount(), 1);
        QVERIFY(manager->isConnectedToDevice());
    }

    void retryDoesNothingOnceAutoconnectIsOff()
    {
        createAutomaticManagerAfterStartUp();
        GatewaySettings().setAutoconnect(false);
        const int before = sideOnly("device").size();
        QTRY_VERIFY_WITH_TIMEOUT(!timer("deviceRetryTimer")->isActive(), 8000);
        QCoreApplication::processEvents();
        QCOMPARE(sideOnly("device").size(), before);
    }

    void disconnectAndStopCancelPendingRetries()
    {
        createAutomaticManagerAfterStartUp();
        manager->closeDeviceConnection();
        QVERIFY(!timer("deviceRetryTimer")->isActive());
        manager->startServer(0);
        QTRY_VERIFY(timer("serverRetryTimer")->isActive());
        manager->closeServer();
        QVERIFY(!timer("serverRetryTimer")->isActive());
        // Two errors re-arm the one timer instead of adding another.
        const int before = sideOnly("device").size();
        manager->connectDevice(QStringLiteral("127.0.0.1"), 10499);
        manager->connectDevice(QStringLiteral("127.0.0.1"), 10499);
        QTRY_COMPARE(sideOnly("device").size(), before + 2);
        QVERIFY(timer("deviceRetryTimer")->isActive());
        QCOMPARE(manager->findChildren<QTimer *>().size(), 2);
    }

    void connectionLimitPausesAndResumes()
    {
        GatewaySettings settings;
        const quint16 localPort = freeLoopbackPort();
        settings.setPortLocal(localPort);
        createManager();
        manager->startServer(localPort);
        QTRY_VERIFY(manager->isServerStarted());

        QObject owner;
        QList<FakeClient *> clients;
        for (int i = 1; i <= 5; ++i) {
            clients.append(new FakeClient(localPort, &owner));
            QTRY_COMPARE(sideOnly("server").last().info, QStringLiteral("Started - Connections %1/5").arg(i));
        }
        QTRY_VERIFY(capture->contains(QStringLiteral("Max connection number reached - Pause listening ")));
        auto *refused = new FakeClient(localPort, &owner);
        QTRY_COMPARE(refused->socket()->error(), QAbstractSocket::ConnectionRefusedError);

        clients.first()->socket()->disconnectFromHost();
        QTRY_VERIFY(capture->contains(QStringLiteral("Resume listening ")));
        QCOMPARE(sideOnly("server").last().info, QStringLiteral("Started - Connections 4/5"));
        auto *late = new FakeClient(localPort, &owner);
        QTRY_VERIFY(late->isConnected());
        QTRY_COMPARE(sideOnly("server").last().info, QStringLiteral("Started - Connections 5/5"));
    }

    // Stop pressed while a client's departure report still waits in the queue: the late count
    // must not reopen the port or bring back "Started".
    void stopWithADepartureQueuedStaysStopped()
    {
        const quint16 localPort = freeLoopbackPort();
        createManager();
        manager->startServer(localPort);
        QTRY_VERIFY(manager->isServerStarted());
        {
            FakeClient client(localPort);
            QTRY_COMPARE(sideOnly("server").last().info, QStringLiteral("Started - Connections 1/5"));
        }
        // The departure is reported from the client thread; no event is handled here meanwhile.
        auto *server = manager->findChild<TcpServerService *>();
        QDeadlineTimer deadline(5000);
        while (server->clientCount() != 0 && !deadline.hasExpired())
            QThread::msleep(1);
        QCOMPARE(server->clientCount(), 0);
        manager->closeServer();
        QTRY_COMPARE(sideOnly("server").last().info, QStringLiteral("Idle"));
        QCoreApplication::processEvents();
        QCOMPARE(sideOnly("server").last().info, QStringLiteral("Idle"));
        QVERIFY(!server->isListening());
        QVERIFY(!capture->contains(QStringLiteral("Resume listening ")));
    }

    // One client leaves as a fifth arrives, over and over: with fewer than five connected the
    // gateway keeps accepting.
    void leaveWhileArrivingNeverPausesBelowTheLimit()
    {
        const quint16 localPort = freeLoopbackPort();
        createManager();
        manager->startServer(localPort);
        QTRY_VERIFY(manager->isServerStarted());
        auto *server = manager->findChild<TcpServerService *>();
        std::vector<std::unique_ptr<FakeClient>> clients;
        for (int i = 0; i < 4; ++i)
            clients.emplace_back(new FakeClient(localPort));
        QTRY_COMPARE(server->clientCount(), 4);
        for (int round = 0; round < 60; ++round) {
            clients.front()->socket()->abort();
            clients.erase(clients.begin());
            clients.emplace_back(new FakeClient(localPort));
            QTRY_COMPARE(server->clientCount(), 4);
            QTRY_COMPARE(sideOnly("server").last().info, QStringLiteral("Started - Connections 4/5"));
            QVERIFY2(server->isListening(), qPrintable(QStringLiteral("paused with four clients in round %1").arg(round)));
        }
    }

    void relayBothWays()
    {
        FakeDevice device;
        GatewaySettings settings;
        settings.setLogTraffic(true);
        const quint16 localPort = freeLoopbackPort();
        createManager();
        manager->startServer(localPort);
        manager->connectDevice(QStringLiteral("127.0.0.1"), device.port());
        QTRY_VERIFY(manager->isConnectedToDevice());
        QObject owner;
        auto *first = new FakeClient(localPort, &owner);
        auto *second = new FakeClient(localPort, &owner);
        QTRY_COMPARE(sideOnly("server").last().info, QStringLiteral("Started - Connections 2/5"));
        QTRY_COMPARE(capture->messages().filter(QStringLiteral("New client thread")).size(), 2);

        // Two lines in one device read reach every client as one message and log as one line.
        device.send("A\r\nB\r\n");
        QTRY_COMPARE(first->received(), QByteArray("A\r\nB\r\n"));
        QTRY_COMPARE(second->received(), QByteArray("A\r\nB\r\n"));
        QTRY_VERIFY(capture->contains(QStringLiteral("[DEVICE] -  \"A[CR][LF]B[CR][LF]\" ")));

        // A client's bytes reach the device unchanged, all of them.
        const QByteArray command("SET\x00\x80\xff\r\n", 8);
        first->send(command);
        QTRY_COMPARE(device.received(), command);
        QTRY_VERIFY(capture->contains(QStringLiteral("[CLIENT] -  \"SET\\u0000\\u0080\u00FF[CR][LF]\" ")));

        // With the threshold above Info nothing is logged, and the relay goes on.
        VqLog::Logger::instance().setLoggingLevel(VqLog::Warn);
        capture->clear();
        device.send("C\r\n");
        QTRY_COMPARE(second->received(), QByteArray("A\r\nB\r\nC\r\n"));
        second->send("D\r\n");
        QTRY_COMPARE(device.received(), command + "D\r\n");
        QCOMPARE(capture->lines().size(), 0);

        // Without a device link a command is dropped, and still logged.
        VqLog::Logger::instance().setLoggingLevel(VqLog::Info);
        manager->closeDeviceConnection();
        first->send("lost\r\n");
        QTRY_VERIFY(capture->contains(QStringLiteral("[CLIENT] -  \"lost[CR][LF]\" ")));
        QCOMPARE(device.received(), command + "D\r\n");
    }
};

QTEST_GUILESS_MAIN(TestGatewayManager)
#include "tst_gatewaymanager.moc"
