#include "gateway/flowcontrol.h"
#include "tests/testsupport.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Memory stays bounded whatever a client does, and nothing is lost, duplicated or reordered.
class TestFlowControl : public GatewayTest
{
    Q_OBJECT

private slots:
    // A client that stops reading is dropped 5 s after it last took a byte, its backlog bounded;
    // the other client gets every byte.
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
        // The device writes 20 MB of 100-byte lines as fast as TCP takes them, a hundred a write.
        const int count = 200000;
        QByteArray sent;
        const auto more = [&sent, socket = device->latest()] {
            for (int n = sent.size() / 100; n < count && socket->bytesToWrite() < 256 * 1024;
                 n += 100) {
                for (int i = n; i < n + 100 && i < count; ++i)
                    sent += QByteArray::number(i).rightJustified(98, '.') + "\r\n";
                socket->write(sent.mid(n * 100));
            }
        };
        connect(device->latest(), &QTcpSocket::bytesWritten, device->latest(), more);
        more();
        qint64 largest = 0, stalledAt = -1, droppedAt = -1;
        const QRegularExpression drop = numbered(QStringLiteral(
                "ERROR Client \"127.0.0.1\" took nothing of its # bytes for 5 s: disconnected"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY2(QTest::qWaitFor(
                         [&] {
                             largest = qMax(largest, server()->largestClientBacklog());
                             if (stalledAt < 0 && largest > backlogHighBytes)
                                 stalledAt = clock.elapsed();
                             if (droppedAt < 0 && capture->messages().indexOf(drop) >= 0)
                                 droppedAt = clock.elapsed();
                             return reader.received.size() >= qint64(count) * 100;
                         },
                         30000),
                 qPrintable(QStringLiteral("%1 bytes read, %2 dropped")
                                    .arg(reader.received.size())
                                    .arg(capture->count("took nothing"))));
        ::close(stalled);
        QCOMPARE(reader.received, sent);
        QCOMPARE(capture->messages().filter(drop).size(), 1);
        QVERIFY2(largest < backlogHighBytes + 512 * 1024, qPrintable(QString::number(largest)));
        QVERIFY2(droppedAt - stalledAt >= 4500 && droppedAt - stalledAt < 7000,
                 qPrintable(QString::number(droppedAt - stalledAt)));
    }
};

QTEST_GUILESS_MAIN(TestFlowControl)
#include "tst_flowcontrol.moc"
