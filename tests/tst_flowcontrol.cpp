#include "gateway/flowcontrol.h"
#include "platform/keepalive.h"
#include "tests/gatewayfixture.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

// Memory stays bounded whatever the peers do, and nothing is lost, duplicated or reordered.
class TestFlowControl : public GatewayTest
{
    Q_OBJECT

    // The device writes 100-byte lines as fast as TCP takes them, count lines in all.
    void stream(int count)
    {
        QTcpSocket *socket = gateway->device->latest();
        auto written = std::make_shared<int>(0);
        auto more = [socket, written, count] {
            while (*written < count && socket->bytesToWrite() < 256 * 1024) {
                QByteArray lines;
                for (int i = 0; i < 100 && *written < count; ++i, ++*written)
                    lines += QByteArray::number(*written).rightJustified(98, '.') + "\r\n";
                socket->write(lines);
            }
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, more);
        more();
    }
    // Client c writes only bytes of its own: numbers in base 5 with five letters of its own and
    // its own digit as the line end, so that its stream can be picked out of any interleaving.
    static QByteArray clientLines(int c, int from, int to)
    {
        QByteArray lines;
        for (int i = from; i < to; ++i) {
            for (int n = i; n > 0 || lines.isEmpty() || lines.endsWith(char('0' + c)); n /= 5) {
                lines += char('A' + 5 * c + n % 5);
                if (n < 5)
                    break;
            }
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
    static QByteArray streamed(int count)
    {
        QByteArray all;
        for (int i = 0; i < count; ++i)
            all += QByteArray::number(i).rightJustified(98, '.') + "\r\n";
        return all;
    }

private slots:
    void fiveClientsTenThousandLinesEach()
    {
        startGateway();
        gateway->device->answer = [](const QByteArray &line) { return line; };
        std::vector<std::unique_ptr<FakeClient>> clients;
        for (int c = 0; c < 5; ++c)
            clients.emplace_back(new FakeClient(gateway->port));
        QTRY_COMPARE(gateway->server()->clientCount(), 5);
        for (int n = 0; n < 10000; n += 500) {
            for (int c = 0; c < 5; ++c)
                clients[c]->send(clientLines(c, n, n + 500) + "\r\n"); // the device echoes whole lines
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE_WITH_TIMEOUT(gateway->device->received().size(), 5 * (clientLines(0, 0, 10000).size() + 40), 20000);
        for (int c = 0; c < 5; ++c)
            QVERIFY2(onlyClient(gateway->device->received(), c) == clientLines(c, 0, 10000), "a client's lines were lost or reordered");
        for (int c = 0; c < 5; ++c)
            QTRY_COMPARE_WITH_TIMEOUT(clients[c]->received().size(), gateway->device->received().size(), 20000);
        for (int c = 0; c < 5; ++c)
            QVERIFY(clients[c]->received() == gateway->device->received());
    }

    // One client stops reading while the device streams: the other gets every byte, the stalled
    // one is dropped with one error line, and no client's backlog grows past the high mark by much.
    void stalledClientIsDropped()
    {
        startGateway();
        FakeClient reader(gateway->port);
        const int stalled = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 4096;
        setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(gateway->port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::connect(stalled, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        QTRY_COMPARE(gateway->server()->clientCount(), 2);
        const int count = 200000; // 20 MB
        stream(count);
        qint64 largest = 0;
        QVERIFY(QTest::qWaitFor([&] {
            largest = qMax(largest, gateway->server()->largestClientBacklog());
            return reader.received().size() >= qint64(count) * 100;
        }, 30000));
        ::close(stalled);
        QCOMPARE(reader.received(), streamed(count));
        QCOMPARE(capture->messages().filter(QRegularExpression(QStringLiteral("^Client \"127.0.0.1\" took nothing of its \\d+ bytes for 5 s: disconnected $"))).size(), 1);
        QVERIFY2(largest < backlogHighBytes + 512 * 1024, qPrintable(QString::number(largest)));
    }

    // The device stops reading while clients send: nothing is dropped, and everything arrives in
    // order once it reads again.
    void deviceThatStopsReading()
    {
        startGateway();
        gateway->device->setReading(false);
        FakeClient first(gateway->port), second(gateway->port);
        QTRY_COMPARE(gateway->server()->clientCount(), 2);
        const int lines = 400000; // about 3.5 MB from each client
        for (int block = 0; block < lines; block += 5000) {
            first.send(clientLines(0, block, block + 5000));
            second.send(clientLines(1, block, block + 5000));
            QCoreApplication::processEvents();
        }
        QTest::qWait(500); // the device is busy for a while
        QVERIFY(gateway->device->received().isEmpty());
        gateway->device->setReading(true);
        const QByteArray sent[2] = {clientLines(0, 0, lines), clientLines(1, 0, lines)};
        QTRY_COMPARE_WITH_TIMEOUT(gateway->device->received().size(), sent[0].size() + sent[1].size(), 30000);
        for (int c = 0; c < 2; ++c)
            QVERIFY2(onlyClient(gateway->device->received(), c) == sent[c], "a client's lines were lost or reordered");
    }

    void deviceKilledMidStreamIsRetried()
    {
        startGateway();
        GatewaySettings settings;
        settings.setAutoconnect(true);
        settings.setPort(gateway->device->port());
        FakeClient client(gateway->port);
        QTRY_COMPARE(gateway->server()->clientCount(), 1);
        stream(100000);
        QTRY_VERIFY(client.received().size() > 1000000);
        gateway->device->latest()->abort();
        QTRY_VERIFY(!gateway->manager->isConnectedToDevice());
        QTRY_COMPARE_WITH_TIMEOUT(gateway->device->connectionCount(), 2, 8000);
        QTRY_VERIFY(gateway->manager->isConnectedToDevice());
        const qint64 before = client.received().size();
        gateway->device->send("AGAIN\r\n");
        QTRY_VERIFY(client.received().size() > before && client.received().endsWith("AGAIN\r\n"));
    }

    void keepAliveOnTheDeviceLink()
    {
        startGateway();
        const int fd = int(gateway->manager->findChild<TcpClientService *>()->findChild<QTcpSocket *>()->socketDescriptor());
        const int options[][2] = {{SOL_SOCKET, SO_KEEPALIVE}, {IPPROTO_TCP, TCP_KEEPIDLE}, {IPPROTO_TCP, TCP_KEEPINTVL},
                                  {IPPROTO_TCP, TCP_KEEPCNT}, {IPPROTO_TCP, TCP_USER_TIMEOUT}};
        QList<int> values;
        for (const auto &option : options) {
            int value = -1;
            socklen_t size = sizeof value;
            getsockopt(fd, option[0], option[1], &value, &size);
            values.append(value);
        }
        QCOMPARE(values, (QList<int>{1, 30, 10, 3, 60000}));
    }
};

QTEST_GUILESS_MAIN(TestFlowControl)
#include "tst_flowcontrol.moc"
