#include "gateway/flowcontrol.h"
#include "tests/testsupport.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Memory stays bounded whatever the peers do, and nothing is lost, duplicated or reordered.
class TestFlowControl : public GatewayTest
{
    Q_OBJECT

    // The device writes count 100-byte lines as fast as TCP takes them, and keeps them in sent.
    void stream(int count) {
        QTcpSocket *socket = device->latest();
        sent.clear();
        auto more = [this, socket, count] { // a hundred lines a write
            for (int n = sent.size() / 100; n < count && socket->bytesToWrite() < 256 * 1024; n += 100) {
                for (int i = n; i < n + 100 && i < count; ++i)
                    sent += QByteArray::number(i).rightJustified(98, '.') + "\r\n";
                socket->write(sent.mid(n * 100));
            }
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, more);
        more();
    }
    QByteArray sent;
private slots:
    // A client that stops reading is dropped 5 s after it last took a byte, its backlog bounded;
    // the other client gets every byte.
    void stalledClientIsDropped() {
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
        const QRegularExpression drop = numbered(QStringLiteral("ERROR Client \"127.0.0.1\" took nothing of its # bytes for 5 s: disconnected"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY2(QTest::qWaitFor([&] {
            largest = qMax(largest, server()->largestClientBacklog());
            if (stalledAt < 0 && largest > backlogHighBytes)
                stalledAt = clock.elapsed();
            if (droppedAt < 0 && capture->messages().indexOf(drop) >= 0)
                droppedAt = clock.elapsed();
            return reader.received.size() >= qint64(count) * 100;
        }, 30000), qPrintable(QStringLiteral("%1 bytes read, %2 dropped").arg(reader.received.size()).arg(capture->count("took nothing"))));
        ::close(stalled);
        QCOMPARE(reader.received, sent);
        QCOMPARE(capture->messages().filter(drop).size(), 1);
        QVERIFY2(largest < backlogHighBytes + 512 * 1024, qPrintable(QString::number(largest)));
        QVERIFY2(droppedAt - stalledAt >= 4500 && droppedAt - stalledAt < 7000, qPrintable(QString::number(droppedAt - stalledAt)));
    }
    // The device stops reading while a client sends: nothing is dropped, and everything arrives
    // in order once it reads again.
    void deviceThatStopsReading() {
        startGateway();
        device->latest()->blockSignals(true); // the device reads nothing for a while
        FakeClient client(port);
        QTRY_COMPARE(server()->clientCount(), 1);
        QByteArray all;
        for (int i = 0; all.size() < 8000000; ++i)
            all += QByteArray::number(i) + ' ';
        for (int at = 0; at < all.size(); at += 50000) {
            client.write(all.mid(at, 50000));
            QCoreApplication::processEvents();
        }
        QTest::qWait(500);
        QVERIFY(device->received.isEmpty());
        device->latest()->blockSignals(false);
        emit device->latest()->readyRead();
        QTRY_COMPARE_WITH_TIMEOUT(device->received.size(), all.size(), 30000);
        QVERIFY2(device->received == all, "bytes were lost or reordered");
    }
};

QTEST_GUILESS_MAIN(TestFlowControl)
#include "tst_flowcontrol.moc"
