#include "gateway/flowcontrol.h"
#include "tests/testsupport.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

// Memory stays bounded whatever the peers do, and nothing is lost, duplicated or reordered.
class TestFlowControl : public GatewayTest
{
    Q_OBJECT

    // The device writes count 100-byte lines as fast as TCP takes them, and keeps them in sent.
    void stream(int count)
    {
        QTcpSocket *socket = device->latest();
        sent.clear();
        auto more = [this, socket, count] {
            for (int n = sent.size() / 100; n < count && socket->bytesToWrite() < 256 * 1024; ++n) {
                sent += QByteArray::number(n).rightJustified(98, '.') + "\r\n";
                socket->write(sent.right(100));
            }
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, more);
        more();
    }
    QByteArray sent;
    // Lines from client c, numbers in base 5 written with five letters of its own and its own
    // digit as the line end, so that its stream can be picked out of any interleaving.
    static QByteArray clientLines(int c, int from, int to)
    {
        QByteArray lines;
        for (int i = from; i < to; ++i) {
            int n = i;
            do
                lines += char('A' + 5 * c + n % 5);
            while ((n /= 5) > 0);
            lines += char('0' + c);
        }
        return lines;
    }
    static QByteArray onlyClient(const QByteArray &all, int c)
    {
        QByteArray own;
        for (char byte : all)
            if ((byte >= 'A' + 5 * c && byte < 'A' + 5 * c + 5) || byte == '0' + c)
                own += byte;
        return own;
    }

private slots:
    // One client stops reading while the device streams: the other gets every byte, the stalled
    // one is dropped with one error line 5 s after it last took a byte, and no client's backlog
    // grows past the high mark by much.
    void stalledClientIsDropped()
    {
        startGateway();
        FakeClient reader(port);
        const int stalled = ::socket(AF_INET, SOCK_STREAM, 0), small = 4096;
        setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::connect(stalled, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        QTRY_COMPARE(server()->clientCount(), 2);
        const int count = 200000; // 20 MB
        stream(count);
        qint64 largest = 0, stalledAt = -1, droppedAt = -1;
        const QRegularExpression drop = numbered(QStringLiteral("Client \"127.0.0.1\" took nothing of its # bytes for 5 s: disconnected"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(QTest::qWaitFor([&] {
            largest = qMax(largest, server()->largestClientBacklog());
            if (stalledAt < 0 && largest > backlogHighBytes)
                stalledAt = clock.elapsed();
            if (droppedAt < 0 && capture->messages().indexOf(drop) >= 0)
                droppedAt = clock.elapsed();
            return reader.received.size() >= qint64(count) * 100;
        }, 30000));
        ::close(stalled);
        QCOMPARE(reader.received, sent);
        QCOMPARE(capture->messages().filter(drop).size(), 1);
        QVERIFY2(largest < backlogHighBytes + 512 * 1024, qPrintable(QString::number(largest)));
        QVERIFY2(droppedAt - stalledAt >= 4500 && droppedAt - stalledAt < 7000, qPrintable(QString::number(droppedAt - stalledAt)));
    }

    // The device stops reading while clients send: nothing is dropped, and everything arrives in
    // order once it reads again.
    void deviceThatStopsReading()
    {
        startGateway();
        device->setReading(false);
        FakeClient first(port), second(port);
        QTRY_COMPARE(server()->clientCount(), 2);
        const int lines = 400000; // about 3.5 MB from each client
        for (int block = 0; block < lines; block += 5000) {
            first.write(clientLines(0, block, block + 5000));
            second.write(clientLines(1, block, block + 5000));
            QCoreApplication::processEvents();
        }
        QTest::qWait(500); // the device is busy for a while
        QVERIFY(device->received.isEmpty());
        device->setReading(true);
        const QByteArray expected[2] = {clientLines(0, 0, lines), clientLines(1, 0, lines)};
        QTRY_COMPARE_WITH_TIMEOUT(device->received.size(), expected[0].size() + expected[1].size(), 30000);
        for (int c = 0; c < 2; ++c)
            QVERIFY2(onlyClient(device->received, c) == expected[c], "a client's lines were lost or reordered");
    }

    // A link lost while the relay was held back leaves nothing held back for the next one.
    void deviceKilledMidStreamIsRetried()
    {
        startGateway();
        GatewaySettings settings;
        settings.setAutoconnect(true);
        settings.setPort(device->port());
        FakeClient client(port);
        QTRY_COMPARE(server()->clientCount(), 1);
        stream(100000);
        QTRY_VERIFY(client.received.size() > 1000000);
        device->latest()->abort();
        QTRY_VERIFY(!manager->isConnectedToDevice());
        QTRY_COMPARE_WITH_TIMEOUT(device->connectionCount(), 2, 8000);
        QTRY_VERIFY(manager->isConnectedToDevice());
        device->send("AGAIN\r\n");
        QTRY_VERIFY(client.received.endsWith("AGAIN\r\n"));
    }

    void keepAliveAndNoDelayOnTheDeviceLink()
    {
        startGateway();
        const int fd = int(manager->findChild<TcpClientService *>()->findChild<QTcpSocket *>()->socketDescriptor());
        const int options[][2] = {{SOL_SOCKET, SO_KEEPALIVE}, {IPPROTO_TCP, TCP_KEEPIDLE}, {IPPROTO_TCP, TCP_KEEPINTVL},
                                  {IPPROTO_TCP, TCP_KEEPCNT}, {IPPROTO_TCP, TCP_USER_TIMEOUT}, {IPPROTO_TCP, TCP_NODELAY}};
        QList<int> values;
        for (const auto &option : options) {
            int value = -1;
            socklen_t size = sizeof value;
            getsockopt(fd, option[0], option[1], &value, &size);
            values.append(value);
        }
        QCOMPARE(values, (QList<int>{1, 30, 10, 3, 60000, 1}));
    }
};

QTEST_GUILESS_MAIN(TestFlowControl)
#include "tst_flowcontrol.moc"
