#include "gateway/replyrouter.h"
#include "tests/testsupport.h"

class TestReplyRouter : public GatewayTest
{
    Q_OBJECT

private slots:
    // Values out of bounds are named in the log, once each and in this order, and left alone.
    void settingsChecked()
    {
        const QString quiet
                = QStringLiteral("ERROR ReplyQuietMs %1 is not from 1 to 10000 ms - using 50");
        const QString timeout
                = QStringLiteral("ERROR ReplyTimeoutMs %1 is not from 1 to 10000 ms - using 500");
        const QList<QPair<QVariantList, QStringList>> cases{
                {{1, 1, "LF"}, {}},
                {{10000, 10000, "CRLF"}, {}},
                {{0, 0, "CRLF"}, {quiet.arg(0), timeout.arg(0)}},
                {{10001, 10001, "lf "},
                 {quiet.arg(10001), timeout.arg(10001),
                  "ERROR Unknown DeviceLineEnd \"lf \" - device lines end in CR LF"}}};
        for (const auto &c : cases) {
            GatewaySettings settings;
            for (int i = 0; i < 3; ++i)
                settings.setValue(
                        QStringList{"ReplyQuietMs", "ReplyTimeoutMs", "DeviceLineEnd"}.at(i),
                        c.first.at(i));
            settings.setReplyRouting(true);
            manager.reset();
            capture->clear();
            createManager();
            QCOMPARE(capture->messages(), c.second);
        }
    }
    // One line at a time; a reply ends when the device is quiet, or at the time-out. A client
    // that leaves gets nothing more; the next one does.
    void quietAndTimeout()
    {
        ReplyRouter router({ReplyRule::Quiet, 100, 400, {}});
        for (quint64 client : {1, 2, 3, 5})
            router.clientJoined(client);
        QStringList out;
        QList<qint64> at;
        QElapsedTimer clock;
        const auto keep
                = [&](const QString &what) { out.append(what), at.append(clock.elapsed()); };
        connect(&router, &ReplyRouter::toDevice, &router,
                [&](quint64, const QByteArray &line) { keep("device " + line.trimmed()); });
        connect(&router, &ReplyRouter::toClient, &router,
                [&](quint64 client, const QByteArray &lines) {
                    keep(QStringLiteral("client %1 ").arg(client) + lines.trimmed());
                });
        connect(&router, &ReplyRouter::toAllClients, &router,
                [&](const QByteArray &lines) { keep("all " + lines.trimmed()); });
        clock.start();
        router.deviceData("hello\r\n");
        router.clientData(1, "A\r\nB\r");
        router.clientData(2, "C\n");
        router.clientData(1, "\n");
        router.deviceData("a\r\n");
        QTRY_COMPARE(out,
                     (QStringList{"all hello", "device A", "client 1 a", "device C", "device B"}));
        QVERIFY2(at.at(3) - at.at(2) >= 95 && at.at(3) - at.at(2) < 350,
                 qPrintable(QString::number(at.at(3) - at.at(2))));
        QVERIFY2(at.at(4) - at.at(3) >= 390 && at.at(4) - at.at(3) < 650,
                 qPrintable(QString::number(at.at(4) - at.at(3))));
        QTest::qWait(500);
        out.clear();
        router.clientData(3, "D\n");
        router.clientData(5, "E\n");
        router.clientLeft(3);
        router.deviceData("d\r\n");
        QTRY_COMPARE(out, (QStringList{"device D", "device E"}));
        router.deviceData("e\r\n");
        QCOMPARE(out.last(), QStringLiteral("client 5 e"));
        QCOMPARE(capture->messages(),
                 (QStringList{"ERROR No complete reply within 400 ms to client 2 for \"C\"",
                              "ERROR No complete reply within 400 ms to client 1 for \"B\"",
                              "Client left before its reply was complete: the rest of the reply is "
                              "dropped"}));
    }
};

QTEST_GUILESS_MAIN(TestReplyRouter)
#include "tst_replyrouter.moc"
