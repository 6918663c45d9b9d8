#include "gateway/gatewaysettings.h"
#include "gateway/replyrouter.h"
#include "tests/gatewayfixture.h"

#include <QTcpSocket>
#include <QTest>

#include <memory>

using Lines = QList<QByteArray>;

class TestReplyRouter : public GatewayTest
{
    Q_OBJECT

private slots:
    void cutClientLines_data()
    {
        QTest::addColumn<Lines>("reads");
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<QByteArray>("partial");
        QTest::newRow("CR LF and LF") << Lines{"a\r\nb\nc"} << Lines{"a\r\n", "b\n"} << QByteArray("c");
        QTest::newRow("line across reads") << Lines{"SE", "T 1\r", "\n"} << Lines{"SET 1\r\n"} << QByteArray();
        QTest::newRow("limit stays") << Lines{QByteArray(maxClientLineBytes, 'x')} << Lines{} << QByteArray(maxClientLineBytes, 'x');
        QTest::newRow("longer goes as it is") << Lines{QByteArray(maxClientLineBytes, 'x'), "y"}
                                              << Lines{QByteArray(maxClientLineBytes, 'x') + "y"} << QByteArray();
    }
    void cutClientLines()
    {
        QFETCH(Lines, reads);
        QFETCH(Lines, lines);
        QFETCH(QByteArray, partial);
        QByteArray buffer;
        Lines cut;
        for (const QByteArray &read : reads)
            cut += ::cutClientLines(buffer, read);
        QCOMPARE(cut, lines);
        QCOMPARE(buffer, partial);
    }

    void deviceLineEnds_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QByteArray>("relayed");
        QTest::addColumn<int>("errors");
        QTest::newRow("CRLF") << "CRLF" << QByteArray("A\r\n") << 0;
        QTest::newRow("LF") << "LF" << QByteArray("A\r\nB\n") << 0;
        QTest::newRow("unknown reads as CRLF") << "lf " << QByteArray("A\r\n") << 1;
    }
    void deviceLineEnds()
    {
        QFETCH(QString, stored);
        QFETCH(QByteArray, relayed);
        QFETCH(int, errors);
        GatewaySettings().setDeviceLineEnd(stored);
        startGateway();
        FakeClient client(gateway->port);
        QTRY_COMPARE(capture->count(QStringLiteral("New client thread")), 1);
        gateway->device->send("A\r\nB\nC");
        QTRY_COMPARE(client.received(), relayed);
        QCOMPARE(capture->count(QStringLiteral("Unknown DeviceLineEnd \"lf \" - device lines end in CR LF")), errors);
    }

    // Three clients query at once; each gets exactly its own two-line answers, in order.
    // Unsolicited lines still reach everyone; the rest of the reply of a client that left is dropped.
    void repliesGoToTheirClients()
    {
        GatewaySettings settings;
        settings.setReplyRouting(true);
        settings.setReplyQuietMs(3);
        settings.setReplyTimeoutMs(20000); // out of bounds: the default, and one error line
        startGateway();
        QCOMPARE(capture->count(QStringLiteral("ReplyTimeoutMs 20000 is not from 1 to 10000 ms - using 500")), 1);
        gateway->device->answer = [](const QByteArray &line) {
            return line.startsWith("SLOW") ? QByteArray() : line.trimmed() + " first\r\n" + line.trimmed() + " second\r\n";
        };
        std::vector<std::unique_ptr<FakeClient>> clients;
        for (int c = 0; c < 3; ++c)
            clients.emplace_back(new FakeClient(gateway->port));
        QTRY_COMPARE(capture->count(QStringLiteral("New client thread")), 3);
        QByteArray expected[3];
        for (int c = 0; c < 3; ++c) {
            QByteArray queries;
            for (int i = 0; i < 200; ++i) {
                const QByteArray query = "Q" + QByteArray::number(c) + "-" + QByteArray::number(i);
                queries += query + "\r\n";
                expected[c] += query + " first\r\n" + query + " second\r\n";
            }
            clients[c]->send(queries);
        }
        for (int c = 0; c < 3; ++c)
            QTRY_COMPARE_WITH_TIMEOUT(clients[c]->received(), expected[c], 20000);
        gateway->device->send("EVENT\r\n");
        for (int c = 0; c < 3; ++c)
            QTRY_VERIFY(clients[c]->received().endsWith(expected[c] + "EVENT\r\n"));

        clients[0]->send("SLOW\r\n");
        QTRY_VERIFY(gateway->device->received().endsWith("SLOW\r\n"));
        clients[1]->send("NEXT\r\n");
        clients[0]->socket()->abort();
        QTRY_COMPARE(capture->count(QStringLiteral("Client left before its reply was complete")), 1);
        gateway->device->send("late\r\n");
        QTRY_VERIFY(clients[1]->received().endsWith("NEXT first\r\nNEXT second\r\n"));
        QVERIFY(!clients[1]->received().contains("late") && !clients[2]->received().contains("late"));
    }
};

QTEST_GUILESS_MAIN(TestReplyRouter)
#include "tst_replyrouter.moc"
