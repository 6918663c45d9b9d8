#include "gateway/replyrouter.h"
#include "tests/testsupport.h"

#include <QTcpSocket>

#include <vector>

struct CutCase { const char *name; QList<QByteArray> reads, lines; QByteArray partial; };
Q_DECLARE_METATYPE(CutCase)

struct SettingsCase { const char *name; QVariantMap stored; QStringList errors; };
Q_DECLARE_METATYPE(SettingsCase)

class TestReplyRouter : public GatewayTest
{
    Q_OBJECT

private slots:
    void cutClientLines_data()
    {
        const QByteArray limit(maxClientLineBytes, 'x');
        addRows<CutCase>({{"CR LF and LF", {"a\r\nb\nc"}, {"a\r\n", "b\n"}, "c"},
                          {"line across reads", {"SE", "T 1\r", "\n"}, {"SET 1\r\n"}, ""},
                          {"limit stays", {limit}, {}, limit},
                          {"longer goes as it is", {limit, "y"}, {limit + "y"}, ""}});
    }
    void cutClientLines()
    {
        QFETCH(CutCase, row);
        QByteArray buffer;
        QList<QByteArray> cut;
        for (const QByteArray &read : row.reads)
            cut += ::cutClientLines(buffer, read);
        QCOMPARE(cut, row.lines);
        QCOMPARE(buffer, row.partial);
    }

    // Values out of bounds are named in the log, once each and in this order, and left alone.
    void settingsChecked_data()
    {
        const QString quiet = QStringLiteral("ReplyQuietMs %1 is not from 1 to 10000 ms - using 50");
        const QString timeout = QStringLiteral("ReplyTimeoutMs %1 is not from 1 to 10000 ms - using 500");
        addRows<SettingsCase>({{"lowest", {{"ReplyQuietMs", 1}, {"ReplyTimeoutMs", 1}}, {}},
                               {"highest", {{"ReplyQuietMs", 10000}, {"ReplyTimeoutMs", 10000}}, {}},
                               {"below", {{"ReplyQuietMs", 0}, {"ReplyTimeoutMs", 0}}, {quiet.arg(0), timeout.arg(0)}},
                               {"above", {{"ReplyQuietMs", 10001}, {"ReplyTimeoutMs", 10001}}, {quiet.arg(10001), timeout.arg(10001)}},
                               {"LF", {{"DeviceLineEnd", "LF"}}, {}},
                               {"unknown line end", {{"DeviceLineEnd", "lf "}}, {"Unknown DeviceLineEnd \"lf \" - device lines end in CR LF"}}});
    }
    void settingsChecked()
    {
        QFETCH(SettingsCase, row);
        GatewaySettings settings;
        settings.setReplyRouting(true);
        for (auto it = row.stored.begin(); it != row.stored.end(); ++it)
            settings.setValue(it.key(), it.value());
        createManager();
        QCOMPARE(capture->messages(), row.errors);
    }

    // One line at a time goes to the device; its reply ends after the quiet time, or after the
    // time-out without any answer. A client that leaves gets nothing more, the next one does.
    void quietAndTimeout()
    {
        ReplyRouter router(100, 400);
        QStringList out;
        QList<qint64> at;
        QElapsedTimer clock;
        const auto keep = [&](const QString &what) { out.append(what); at.append(clock.elapsed()); };
        connect(&router, &ReplyRouter::toDevice, &router, [&](const QByteArray &line) { keep("device " + line.trimmed()); });
        connect(&router, &ReplyRouter::toClient, &router,
                [&](quint64 client, const QByteArray &lines) { keep(QStringLiteral("client %1 ").arg(client) + lines.trimmed()); });
        connect(&router, &ReplyRouter::toAllClients, &router, [&](const QByteArray &lines) { keep("all " + lines.trimmed()); });
        clock.start();
        router.deviceData("hello\r\n");
        router.clientData(1, "A\r\nB\r");
        router.clientData(2, "C\n");
        router.clientData(1, "\n");
        router.deviceData("a\r\n");
        QTRY_COMPARE(out, (QStringList{"all hello", "device A", "client 1 a", "device C", "device B"}));
        QVERIFY2(at.at(3) - at.at(2) >= 95 && at.at(3) - at.at(2) < 350, qPrintable(QString::number(at.at(3) - at.at(2))));
        QVERIFY2(at.at(4) - at.at(3) >= 390 && at.at(4) - at.at(3) < 650, qPrintable(QString::number(at.at(4) - at.at(3))));
        QTest::qWait(500);
        out.clear();
        router.clientData(3, "D\n");
        router.clientData(5, "E\n");
        router.clientLeft(3);
        router.deviceData("d\r\n");
        QTRY_COMPARE(out, (QStringList{"device D", "device E"}));
        router.deviceData("e\r\n");
        QCOMPARE(out.last(), QStringLiteral("client 5 e"));
        QCOMPARE(capture->messages(), QStringList{"Client left before its reply was complete: the rest of the reply is dropped"});
    }

    // Three clients query at once through the real gateway; each gets exactly its own two-line
    // answers, in order, and unsolicited lines still reach everyone.
    void repliesGoToTheirClients()
    {
        GatewaySettings settings;
        settings.setReplyRouting(true);
        settings.setReplyQuietMs(3);
        startGateway();
        device->answer = [](const QByteArray &line) { return line.trimmed() + " first\r\n" + line.trimmed() + " second\r\n"; };
        std::vector<std::unique_ptr<FakeClient>> clients;
        for (int c = 0; c < 3; ++c)
            clients.emplace_back(new FakeClient(port));
        QTRY_COMPARE(server()->clientCount(), 3);
        QByteArray expected[3];
        for (int c = 0; c < 3; ++c) {
            QByteArray queries;
            for (int i = 0; i < 50; ++i) {
                const QByteArray query = "Q" + QByteArray::number(c) + "-" + QByteArray::number(i);
                queries += query + "\r\n";
                expected[c] += query + " first\r\n" + query + " second\r\n";
            }
            clients[c]->write(queries);
        }
        for (int c = 0; c < 3; ++c)
            QTRY_COMPARE_WITH_TIMEOUT(clients[c]->received, expected[c], 10000);
        device->send("EVENT\r\n");
        for (int c = 0; c < 3; ++c)
            QTRY_VERIFY(clients[c]->received.endsWith(expected[c] + "EVENT\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestReplyRouter)
#include "tst_replyrouter.moc"
