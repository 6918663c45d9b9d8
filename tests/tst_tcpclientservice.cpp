#include "VqLog/vqlog.h"
#include "gateway/relaytext.h"
#include "gateway/tcpclientservice.h"
#include "tests/capturedestination.h"
#include "tests/loopback.h"

#include <QTcpSocket>
#include <QTest>

#include <memory>

using Status = QPair<int, QString>;

// Only loopback addresses reach a socket here; the normalisation of other addresses is checked
// as a pure function elsewhere.
class TestTcpClientService : public QObject
{
    Q_OBJECT

    QSharedPointer<CaptureDestination> capture;
    std::unique_ptr<TcpClientService> service;
    QList<Status> statuses;
    QStringList commands;

    void record()
    {
        connect(service.get(), &TcpClientService::connectState, this,
                [this](TCPCLIENT_STATUS state, const QString &info) { statuses.append({int(state), info}); });
        connect(service.get(), &TcpClientService::commandReceived, this,
                [this](const QString &command) { commands.append(command); });
    }

private slots:
    void init()
    {
        capture.reset(new CaptureDestination);
        VqLog::Logger::instance().setLoggingLevel(VqLog::Debug);
        VqLog::Logger::instance().addDestination(capture);
        service.reset(new TcpClientService);
        statuses.clear();
        commands.clear();
        record();
    }
    void cleanup()
    {
        service.reset();
        VqLog::Logger::destroyInstance();
    }

    void refusedArguments_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<uint>("port");
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("logged");
        const QString empty = QStringLiteral("Empty IP address or invalid port number!");
        const QString emptyLog = QStringLiteral(
            "Trying to connect host using either an empty IP address or an invalid port number! ");
        const QString invalid = QStringLiteral("Invalid IP address!");
        const QString invalidLog = QStringLiteral("Trying to connect using an invalid IP address! ");
        QTest::newRow("port 10499") << "127.0.0.1" << 10499u << empty << emptyLog;
        QTest::newRow("port above 65535") << "127.0.0.1" << 65536u + 10500u << empty << emptyLog;
        QTest::newRow("empty") << "" << 10500u << empty << emptyLog;
        QTest::newRow("empty masked field") << "..." << 10500u << empty << emptyLog;
        QTest::newRow("three parts") << "127.0.1" << 10500u << invalid << invalidLog;
        QTest::newRow("five parts") << "127.0.0.0.1" << 10500u << invalid << invalidLog;
        QTest::newRow("part above 255") << "127.0.0.256" << 10500u << invalid << invalidLog;
        QTest::newRow("all zero") << "0.0.0.0" << 10500u << invalid << invalidLog;
    }

    void refusedArguments()
    {
        QFETCH(QString, address);
        QFETCH(uint, port);
        QFETCH(QString, info);
        QFETCH(QString, logged);
        QVERIFY(!service->connectToHost(address, port));
        QCOMPARE(statuses, QList<Status>{Status(TCPCLIENT_ERROR, info)});
        QCOMPARE(capture->messages(), QStringList{logged});
        QVERIFY(!service->write("x"));
        // Nothing to drop: no socket was made.
        service->disconnectFromHost();
        QCOMPARE(statuses.size(), 1);
    }

    void disconnectWithoutSocketEmitsNothing()
    {
        service->disconnectFromHost();
        QCOMPARE(statuses.size(), 0);
        QCOMPARE(capture->lines().size(), 0);
    }

    void refusedConnection()
    {
        const quint16 port = freeLoopbackPort();
        QVERIFY(service->connectToHost(QStringLiteral("127.0.0.1"), port));
        QTRY_COMPARE(statuses.size(), 2);
        QCOMPARE(statuses.at(0), Status(TCPCLIENT_CONNECTING, QStringLiteral("Connecting host...")));
        QCOMPARE(statuses.at(1).first, int(TCPCLIENT_ERROR));
        QCOMPARE(statuses.at(1).second, QStringLiteral("Connection refused"));
        QVERIFY(capture->contains(QStringLiteral("TCP error: \"Connection refused\" ")));
        // The failed socket stays until it is dropped, which reports the disconnection.
        service->disconnectFromHost();
        QCOMPARE(statuses.last(), Status(TCPCLIENT_DISCONNECTED, QStringLiteral("Disconnected")));
    }

    void connectRelayAndDeviceClose()
    {
        FakeDevice device;
        QVERIFY(device.port() >= 10500);
        // Leading zeros are normalised before the connection is made.
        QVERIFY(service->connectToHost(QStringLiteral("127.000.000.001"), device.port()));
        QTRY_COMPARE(statuses.size(), 2);
        QCOMPARE(statuses.at(0), Status(TCPCLIENT_CONNECTING, QStringLiteral("Connecting host...")));
        QCOMPARE(statuses.at(1), Status(TCPCLIENT_CONNECTED, QStringLiteral("Connected")));
        const QString port = QString::number(device.port());
        QVERIFY(capture->contains(QStringLiteral("Connecting to \"127.0.0.1\" port %1 ").arg(port)));
        QVERIFY(capture->contains(QStringLiteral("Connected to \"127.0.0.1\" port %1 ").arg(port)));

        // Every byte reaches the device unchanged, NUL and high bytes included.
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        QVERIFY(service->write(all));
        QTRY_COMPARE(device.received(), all);

        // Replies arrive as complete lines only, whatever the reads; high bytes and NUL pass.
        const QByteArray reply = QByteArray("one\r\n\x00two\xff\r\n", 12) + "thr";
        device.send(reply);
        device.send("ee\r\n");
        QTRY_COMPARE(bytesFromText(commands.join(QString())), QByteArray("one\r\n\x00two\xff\r\nthree\r\n", 19));
        for (const QString &command : qAsConst(commands))
            QVERIFY(command.endsWith(QLatin1String("\r\n")));

        // More than 128 bytes without CR LF are discarded; the next line still arrives.
        commands.clear();
        device.send(QByteArray(129, 'x'));
        const QString overflow = QStringLiteral(
            "Commands received do not contain any <CR><LF> sequence. Input buffer cleared! ");
        QTRY_VERIFY(capture->contains(overflow));
        device.send("OK\r\n");
        QTRY_COMPARE(commands, QStringList{QStringLiteral("OK\r\n")});

        device.closeConnections();
        QTRY_COMPARE(statuses.size(), 4);
        QCOMPARE(statuses.at(2).first, int(TCPCLIENT_ERROR));
        QCOMPARE(statuses.at(2).second, QStringLiteral("The remote host closed the connection"));
        QCOMPARE(statuses.at(3), Status(TCPCLIENT_DISCONNECTED, QStringLiteral("Disconnected")));
        QVERIFY(capture->contains(QStringLiteral("Disconnected from host. ")));
        QVERIFY(!service->write("late"));
    }

    void disconnectDropsTheLink()
    {
        FakeDevice device;
        QVERIFY(service->connectToHost(QStringLiteral("127.0.0.1"), device.port()));
        QTRY_COMPARE(statuses.size(), 2);
        QTRY_COMPARE(device.connectionCount(), 1);
        service->disconnectFromHost();
        QCOMPARE(statuses.last(), Status(TCPCLIENT_DISCONNECTED, QStringLiteral("Disconnected")));
        QVERIFY(capture->contains(QStringLiteral("Disconnecting from host ")));
        QTRY_COMPARE(device.latest()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(statuses.size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestTcpClientService)
#include "tst_tcpclientservice.moc"
