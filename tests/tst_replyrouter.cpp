#include "gateway/routing/replyrouter.h"
#include "gateway/statustext.h"
#include "gateway/relay/flowcontrol.h"
#include "platform/socketdescriptor.h"
#include "tests/testsupport.h"

class TestReplyRouter : public GatewayTest
{
    Q_OBJECT

private slots:
    // Through the real gateway, with the query rule: what waits in the router counts as waiting
    // for the device, so a client that floods it is held back; the half line of a client that
    // leaves and the command of one that ended its sending side still go, and the latter gets
    // its reply. An observer sees every byte the device sends, sends nothing, takes no client's
    // place, and is dropped as soon as it falls behind, without holding anybody back.
    void routedThroughTheGateway()
    {
        GatewaySettings settings;
        settings.setReplyRouting(true);
        settings.setReplyTimeoutMs(10000);
        settings.setValue(QStringLiteral("ReplyEnd"), QStringLiteral("query"));
        const quint16 observerPort = freeLoopbackPort();
        settings.setValue(QStringLiteral("ObserverListen"),
                          QStringLiteral("127.0.0.1:%1").arg(observerPort));
        startGateway();
        device->answer = [](const QByteArray &line) {
            // The half line of the client that leaves may come first and join it.
            return line.endsWith("WHO?\n") ? QByteArray("R:WHO?\r\n") : QByteArray();
        };
        FakeClient flooder(port), leaver(port), asker(port), observer(observerPort);
        QTRY_VERIFY(server()->clientCount() == 3 && observer.isConnected());
        flooder.write("HOLD?\n");
        QTRY_COMPARE(device->received, QByteArray("HOLD?\n"));
        const QByteArray flood = numberedLines("F", 0, 8000, 1000);
        flooder.write(flood);
        const ReplyRouter *router = manager->findChild<ReplyRouter *>();
        BacklogWatch watch([router] { return router->heldBytes(); });
        QVERIFY2(watch.waitUntilHeldBack(flooder), qPrintable(QString::number(watch.largest)));
        leaver.write("PART");
        leaver.disconnectFromHost();
        asker.write("WHO?\n");
        asker.flush();
        ::shutdown(int(asker.socketDescriptor()), SHUT_WR);
        // An observer has nothing to send: one whose input ended watches on.
        observer.write("ignored\r\n");
        observer.flush();
        ::shutdown(int(observer.socketDescriptor()), SHUT_WR);
        QTRY_COMPARE(capture->count(QStringLiteral(
                             "Observer \"127.0.0.1\" sent data: discarded, observers only watch")),
                     1);
        device->send("R:HOLD\r\n");
        QVERIFY2(watch.waitFor([&] { return device->received.size() == 6 + flood.size() + 4 + 5; },
                               20000),
                 qPrintable(QString::number(device->received.size())));
        QVERIFY2(watch.largest < 1536 * 1024, qPrintable(QString::number(watch.largest)));
        QCOMPARE(QByteArray(device->received).replace("PART", "").replace("WHO?\n", ""),
                 "HOLD?\n" + flood);
        QTRY_COMPARE(asker.received, QByteArray("R:WHO?\r\n"));
        QCOMPARE(flooder.received, QByteArray("R:HOLD\r\n"));
        QTRY_COMPARE(observer.received, QByteArray("R:HOLD\r\nR:WHO?\r\n"));
        // Three megabytes to an observer that reads nothing.
        quint16 stalledPort = 0;
        const int stalled = connectStalledClient(observerPort, &stalledPort);
        QTRY_COMPARE(capture->count(QStringLiteral("Observers 2/5")), 1);
        shrinkSendBuffer(observerPort, stalledPort);
        const QByteArray stream = numberedLines("S", 0, 30000);
        device->send(stream);
        QTRY_COMPARE_WITH_TIMEOUT(flooder.received.size(), 8 + stream.size(), 10000);
        QTRY_COMPARE(
                capture->count(QStringLiteral(
                        "ERROR Observer \"127.0.0.1\" fell more than 1 MiB behind: disconnected")),
                1);
        QTRY_VERIFY(observer.received.endsWith(stream.right(100)));
        ::close(stalled);
        // The observer that only watches is read no more, yet its place comes free when it goes.
        Platform::resetOnClose(observer.socketDescriptor());
        observer.abort();
        QTRY_COMPARE_WITH_TIMEOUT(manager->counters().observers, 0, 8000);
    }
    // Controllers that configure a meter, then read it, interleaved, in turns or with locks: each
    // reading is of what its own controller configured, routed or not, and one that leaves while
    // it holds the device holds nobody up.
    void sharedMeter_data()
    {
        QTest::addColumn<int>("controllers");
        QTest::addColumn<bool>("routing");
        QTest::addColumn<bool>("locks");
        // Beside the one that leaves.
        QTest::newRow("5 in turns, routed") << 4 << true << false;
        QTest::newRow("3 in turns, not routed") << 2 << false << false;
        QTest::newRow("5 with locks, routed") << 4 << true << true;
        QTest::newRow("3 with locks, not routed") << 2 << false << true;
    }
    void sharedMeter()
    {
        QFETCH(int, controllers);
        QFETCH(bool, routing);
        QFETCH(bool, locks);
        GatewaySettings settings;
        settings.setReplyRouting(routing);
        settings.setValue(QStringLiteral("ReplyEnd"), QStringLiteral("query"));
        settings.setValue(QStringLiteral("HoldMs"), locks ? 0 : 500);
        settings.setValue(QStringLiteral("LockCommand"), locks ? ":LOCK" : "");
        settings.setValue(QStringLiteral("UnlockCommand"), QStringLiteral(":UNLOCK"));
        startGateway();
        QByteArray configured;
        device->answer = [&configured](const QByteArray &line) {
            if (line.startsWith("CONF:"))
                configured = line.mid(5).trimmed();
            return line.startsWith("READ?") ? configured + " reading\r\n" : QByteArray();
        };
        const QByteArray quantities[] = {"VOLT", "CURR", "RES", "FREQ", "TEMP"};
        std::vector<std::unique_ptr<FakeClient>> clients;
        for (int i = 0; i <= controllers; ++i)
            clients.emplace_back(new FakeClient(port));
        QTRY_COMPARE(server()->clientCount(), controllers + 1);
        FakeClient &leaver = *clients.back();
        leaver.write(locks ? ":LOCK\n" : "CONF:NONE\n");
        QTRY_VERIFY(leaver.received == "LOCKED\r\n" || device->received == "CONF:NONE\n");
        QVERIFY(holderText(manager->status()).startsWith("Device held by client"));
        const QByteArray lock = locks ? ":LOCK\n" : "", unlock = locks ? ":UNLOCK\n" : "";
        for (int i = 0; i < controllers; ++i)
            clients[i]->write(lock + "CONF:" + quantities[i] + '\n');
        for (int i = 0; i < controllers; ++i)
            clients[i]->write("READ?\n" + unlock);
        leaver.disconnectFromHost();
        for (int i = 0; i < controllers; ++i) {
            const QByteArray reading = quantities[i] + " reading\r\n", &got = clients[i]->received;
            QTRY_VERIFY2(got.count(" reading") == (routing ? 1 : controllers), got.constData());
            QVERIFY(device->received.contains("CONF:" + quantities[i] + "\nREAD?\n"));
            // "LOCKED" and "UNLOCKED".
            QVERIFY2(got.contains(reading) && got.count("LOCKED\r\n") == 2 * locks,
                     got.constData());
        }
        QVERIFY(!device->received.contains("LOCK"));
        QTRY_VERIFY(statusText(manager->status()).contains("Device free, 0 lines waiting"));
        const GatewayManager::Counters now = manager->counters();
        QCOMPARE(locks ? now.lockGrants : now.turns, quint64(controllers + 1));
        QCOMPARE(capture->count("left holding the lock"), int(locks));
    }
    // A controller that never stops sending has its turn cut after HoldMaxMs, logged once: each of
    // the others waits for one turn of it at most, the one that waited longest first.
    void fairTurns()
    {
        ReplyRouter router({ReplyRule::Query, 20, 1000, {}, {}}, {20, 100, {}, {}, 10000});
        QByteArray order;
        connect(&router, &ReplyRouter::toDevice, this, [&](quint64 client, const QByteArray &) {
            order += QByteArray::number(client);
            QTimer::singleShot(1, &router, [&router] { router.deviceData("R\r\n"); });
        });
        for (quint64 client : {1, 2, 3})
            router.clientJoined(client);
        router.clientData(1, QByteArray("A?\n").repeated(300));
        router.clientData(3, "C?\n");
        router.clientData(2, "B?\n");
        QTRY_COMPARE(order.size(), 302);
        const int cut = order.indexOf('3');
        QCOMPARE(order, QByteArray(cut, '1') + "32" + QByteArray(300 - cut, '1'));
        QCOMPARE(capture->count(QStringLiteral("Turn of client 1 ended after")), 1);
    }
    // "rule: script -> what comes out". The script: "c1>A?" client 1 sends the line A? ("~" at the
    // end: no line end), "d>x|y" the device sends the lines x and y in one read, "L1" client 1
    // leaves, "E1" it ends its sending side, "held N in L" the router holds N bytes in L lines, "t"
    // a byte of a line comes 5 ms after the step before, "down" and "up" the device link. What
    // comes out: "dev 1 A?" a line of client 1 to the device, "1< x" lines to client 1, "all< x"
    // lines to everyone, "late 1 A?" the logged time-out of client 1's A?, "done 1" nothing more is
    // owed to client 1 after its input ended, "ok 1 LOCKED" the gateway's answer to a lock line,
    // and "log ..." other log lines. Device lines that start with "!EV" are events; ":LOCK" and
    // ":UNLOCK" are the lock lines.
    void rules_data()
    {
        QTest::addColumn<QString>("row");
        for (const char *row :
             {"query: c1>*IDN?, c2>VOLT 5, c1>MEAS? CH1, held 19 in 2, d>ID, d>5.0|EXTRA -> dev 1 "
              "*IDN?, 1< ID, dev 2 VOLT 5, dev 1 MEAS? CH1, 1< 5.0, all< EXTRA",
              "query: c1>A?, c2>B? -> dev 1 A?, late 1 A?, dev 2 B?, late 2 B?",
              "pattern: c1>AT+CSQ, c2>AT, d>+CSQ: 20, d>OK|RING, d>ERROR 3 -> dev 1 AT+CSQ, 1< "
              "+CSQ: 20, 1< OK, all< RING, dev 2 AT, 2< ERROR 3",
              "pattern: c1>ATI, d>VQ modem -> dev 1 ATI, 1< VQ modem, late 1 ATI",
              "quiet: d>hello, c1>A, c2>B, d>a -> all< hello, dev 1 A, 1< a, dev 2 B, late 2 B",
              "quiet: c1>A, c2>B, d>a, t, t, t, t, t, t, d>b -> dev 1 A, 1< a, 1< b, dev 2 B, late "
              "2 B",
              "pattern: c1>T?, c2>U?, d>FIN °, d>FIN \xb0 -> dev 1 T?, 1< FIN °, dev 2 U?, 2< FIN "
              "\xb0",
              "query: c1>Q?, c1>PART~, L1, c1>LATE, d>R, c2>NEXT? -> dev 1 Q?, log Client left "
              "before its reply was complete: the rest of the reply is dropped, dev 1 PART, dev 2 "
              "NEXT?, late 2 NEXT?",
              "pattern: c3>HALF~, held 4 in 0, E3, d>OK -> dev 3 HALF, 3< OK, done 3",
              "query: c1>SET 1, c1>A?, E1, d>R, c2>B, E2 -> dev 1 SET 1, dev 1 A?, 1< R, done 1, "
              "dev 2 B, done 2",
              "pattern: c1>A, c2>B, down, c3>C, up, c1>D -> dev 1 A, dev 2 B, dev 3 C, dev 1 D, "
              "late 1 D",
              "query: c1>A?, d>!EV 1, d>R1|!EV 2, c2>B?, d>!EV 3|R2 -> dev 1 A?, all< !EV 1, 1< "
              "R1, "
              "all< !EV 2, dev 2 B?, all< !EV 3, 2< R2",
              "pattern: c1>AT+X, d>+X: 1|!EV RING|+X: 2, d>!EV 2|OK|!EV 3 -> dev 1 AT+X, 1< +X: 1, "
              "all< !EV RING, 1< +X: 2, all< !EV 2, 1< OK, all< !EV 3",
              "quiet: c1>A, c2>B, d>!EV, d>a -> dev 1 A, all< !EV, 1< a, dev 2 B, late 2 B",
              "query: c1>:LOCK, c2>B?, c1>A?, d>R, c1>:UNLOCK, d>S -> ok 1 LOCKED, dev 1 A?, 1< R, "
              "log Client 1 unlocked the device, held for # ms, ok 1 UNLOCKED, dev 2 B?, 2< S",
              "none: c2>:UNLOCK, c1>:LOCK, c2>:LOCK, c3>:LOCK, c2>X, held 17 in 3, L1, c2>:UNLOCK, "
              "c3>:UNLOCK -> ok 2 UNLOCKED, ok 1 LOCKED, log Client 1 left holding the lock, held "
              "for # ms, ok 2 LOCKED, dev 2 X, log Client 2 unlocked the device, held for # ms, ok "
              "2 UNLOCKED, ok 3 LOCKED, log Client 3 unlocked the device, held for # ms, ok 3 "
              "UNLOCKED"})
            QTest::newRow(row) << QString::fromLatin1(row);
    }
    void rules()
    {
        const QString timedOut
                = "log ERROR No complete reply within 150 ms to client %1 for \"%2\"";
        QFETCH(QString, row);
        const auto kind = ReplyRule::Kind(
                QStringList{"quiet", "query", "pattern", "none"}.indexOf(row.section(':', 0, 0)));
        ReplyRouter router({kind, 20, 150,
                            QRegularExpression(QStringLiteral("^(OK|ERROR.*|FIN °)$")),
                            QRegularExpression(QStringLiteral("^!EV"))},
                           {0, 5000, ":LOCK", ":UNLOCK", 10000}, "LOCKED\r\n", "UNLOCKED\r\n");
        QStringList out;
        QList<qint64> at;
        qint64 lastDeviceLineAt = 0;
        QElapsedTimer clock;
        clock.start();
        connect(&router, &ReplyRouter::toDevice, this, [&] { at.append(clock.elapsed()); });
        const auto lines = [](const QByteArray &bytes) {
            return QString::fromLatin1(bytes.trimmed()).replace(QStringLiteral("\r\n"), "|");
        };
        connect(&router, &ReplyRouter::toDevice, this, [&](quint64 client, const QByteArray &line) {
            out.append(QStringLiteral("dev %1 ").arg(client) + lines(line));
        });
        connect(&router, &ReplyRouter::toClient, this,
                [&](quint64 client, const QByteArray &bytes) {
                    out.append(QStringLiteral("%1< ").arg(client) + lines(bytes));
                });
        connect(&router, &ReplyRouter::toAllClients, this,
                [&](const QByteArray &bytes) { out.append("all< " + lines(bytes)); });
        connect(&router, &ReplyRouter::answered, this, [&](quint64 client, const QByteArray &line) {
            out.append(QStringLiteral("ok %1 ").arg(client) + lines(line));
        });
        connect(&router, &ReplyRouter::replyTimedOut, this, [&] { out.append("timeout"); });
        connect(&router, &ReplyRouter::clientSettled, this,
                [&](quint64 client) { out.append(QStringLiteral("done %1").arg(client)); });
        capture->onMessage = [&out](const QString &message) {
            out.append(
                    "log "
                    + QString(message).replace(QRegularExpression("held for \\d+"), "held for #"));
        };
        for (quint64 client : {1, 2, 3})
            router.clientJoined(client);
        for (const QString &step : row.section(": ", 1).section(" -> ", 0, 0).split(", ")) {
            const quint64 client = step.mid(1, 1).toULongLong();
            QByteArray bytes = step.mid(step.indexOf('>') + 1).replace('|', "\r\n").toLatin1();
            bytes = bytes.endsWith('~') ? bytes.chopped(1) : bytes + "\r\n";
            if (step == "t")
                QTest::qWait(5), router.devicePartialLine();
            else if (step == "down" || step == "up")
                router.deviceLinkChanged(step == "up");
            else if (step.startsWith("held "))
                QCOMPARE(router.heldBytes(),
                         step.section(' ', 1, 1).toLongLong()
                                 + step.section(' ', 3).toLongLong() * queuedPieceOverheadBytes);
            else if (step.startsWith('c'))
                router.clientData(client, bytes);
            else if (step.startsWith('d'))
                router.deviceData(bytes), lastDeviceLineAt = clock.elapsed();
            else
                step.startsWith('L') ? router.clientLeft(client) : router.clientInputEnded(client);
        }
        QStringList expected;
        for (const QString &item : row.section(" -> ", 1).split(", "))
            expected += item.startsWith("late ")
                    ? QStringList{timedOut.arg(item.section(' ', 1, 1), item.section(' ', 2)),
                                  "timeout"}
                    : QStringList{item};
        QTRY_COMPARE(out.join(", "), expected.join(", "));
        QCOMPARE(router.heldBytes(), 0);
        // The quiet rule ends a reply the quiet time after the device's last line, not at the
        // time-out; measured from that line, so that a slow machine's late steps do not count.
        if (kind == ReplyRule::Quiet)
            verifyWithin(at.at(1) - lastDeviceLineAt, 18, 140, "ms to the quiet reply's end");
        capture->onMessage = nullptr;
    }
};

QTEST_GUILESS_MAIN(TestReplyRouter)
#include "tst_replyrouter.moc"
