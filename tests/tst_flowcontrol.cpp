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
    // Bytes of a client's own 23 letters in turn: lost, repeated or reordered pieces of its
    // stream show wherever it was interleaved with others.
    static QByteArray pattern(char first, int size) {
        QByteArray bytes(size, 0);
        for (int i = 0; i < size; ++i)
            bytes[i] = char(first + i % 23);
        return bytes;
    }
    static QByteArray only(const QByteArray &all, char first) {
        QByteArray own;
        for (char byte : all)
            if (byte >= first && byte < first + 23)
                own.append(byte);
        return own;
    }

private slots:
    // One client stops reading while the device streams: the other gets every byte, the stalled
    // one is dropped with one error line 5 s after it last took a byte, and no client's backlog
    // grows past the high mark by much.
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
    void deviceThatStopsReading() {
        startGateway();
        device->latest()->blockSignals(true); // the device reads nothing for a while
        FakeClient first(port), second(port);
        QTRY_COMPARE(server()->clientCount(), 2);
        const int size = 4000000;
        const QByteArray mine = pattern('a', size), theirs = pattern('A', size);
        for (int at = 0; at < size; at += 50000) {
            first.write(mine.mid(at, 50000));
            second.write(theirs.mid(at, 50000));
            QCoreApplication::processEvents();
        }
        QTest::qWait(500);
        QVERIFY(device->received.isEmpty());
        device->latest()->blockSignals(false);
        emit device->latest()->readyRead();
        QTRY_COMPARE_WITH_TIMEOUT(device->received.size(), 2 * size, 30000);
        QVERIFY2(only(device->received, 'a') == mine && only(device->received, 'A') == theirs,
                 "a client's bytes were lost or reordered");
    }
};

QTEST_GUILESS_MAIN(TestFlowControl)
#include "tst_flowcontrol.moc"
