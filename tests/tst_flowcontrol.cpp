#include "tests/testsupport.h"

// Memory stays bounded whatever a peer does, and nothing is lost, duplicated or reordered.
class TestFlowControl : public GatewayTest
{
    Q_OBJECT

private slots:
    // A client that stops reading holds the device back once more than 1 MiB waits for it, not
    // before; each byte it takes restarts its 5 s, after which it is dropped and the device goes
    // on, with what it sent just before it closed. The other client gets every byte, in order.
    void stalledClient()
    {
        startGateway();
        FakeClient reader(port);
        // Four that stop reading: each is dropped in its turn, whatever the order of marks and
        // wake-ups in the threads that serve them.
        QList<int> stalled;
        for (quint16 stalledPort = 0; stalled.size() < 4; shrinkSendBuffer(port, stalledPort)) {
            stalled.append(connectStalledClient(port, &stalledPort));
            QTRY_COMPARE(server()->clientCount(), 1 + stalled.size());
        }
        // Rounds of a hundred lines, each written once the reader has all before it, until a
        // round stays with the device.
        QByteArray sent;
        qint64 backlogWhenHeld = -1;
        QElapsedTimer clock;
        clock.start();
        for (int n = 0; backlogWhenHeld < 0 && n < 100000; n += 100) {
            sent += numberedLines("D", n, 100);
            device->send(sent.mid(n * 100));
            if (!QTest::qWaitFor([&] { return reader.received.size() == sent.size(); }, 1000))
                backlogWhenHeld = server()->largestClientBacklog();
        }
        const qint64 heldAt = clock.elapsed();
        verifyWithin(backlogWhenHeld, 1000 * 1000, 1536 * 1024, "backlog when held back");
        device->send("LAST\r\n");
        device->latest()->disconnectFromHost();
        // The client takes a little after a while: its 5 s start again from there.
        QTest::qWait(1500);
        char sink[4096];
        qint64 taken = 0;
        for (ssize_t got = 1; taken < 64 * 1024 && got > 0; taken += qMax<ssize_t>(got, 0))
            got = ::recv(stalled.first(), sink, sizeof sink, 0);
        QVERIFY2(taken >= 64 * 1024, "dropped before it could take anything");
        const qint64 tookAt = clock.elapsed();
        const QRegularExpression drop = numbered(QStringLiteral(
                "ERROR Client \"127.0.0.1\" took nothing of its # bytes for 5 s: disconnected"));
        QTRY_COMPARE_WITH_TIMEOUT(capture->messages().filter(drop).size(), 3, 6000);
        verifyWithin(clock.elapsed() - heldAt, 3000, 6500, "ms from the hold to the others' drop");
        QTRY_COMPARE_WITH_TIMEOUT(capture->messages().filter(drop).size(), 4, 8000);
        const qint64 droppedAt = clock.elapsed();
        verifyWithin(droppedAt - tookAt, 4500, 6500, "ms from taking bytes to the drop");
        QVERIFY2(droppedAt - heldAt > 6000, "dropped 5 s after it was held, not after it took");
        QTRY_COMPARE(reader.received, sent + "LAST\r\n");
        for (int fd : stalled)
            ::close(fd);
    }
    // A device that stops reading holds every client back once more than 1 MiB waits for it;
    // nothing is lost or reordered, not even the last command of a client that closes meanwhile.
    // Lines piled up behind a lock hold the others back, not the lock's holder: it goes on, and
    // gives the lock back long before the lock would have expired.
    void lockHolderReadWhileOthersWait()
    {
        GatewaySettings settings;
        settings.setReplyRouting(true);
        settings.setValue(QStringLiteral("ReplyEnd"), QStringLiteral("query"));
        settings.setValue(QStringLiteral("LockCommand"), QStringLiteral(":LOCK"));
        settings.setValue(QStringLiteral("UnlockCommand"), QStringLiteral(":UNLOCK"));
        settings.setValue(QStringLiteral("LockIdleMs"), 60000);
        startGateway();
        device->answer = [](const QByteArray &line) {
            return line.startsWith("READ?") ? QByteArray("A reading\r\n") : QByteArray();
        };
        FakeClient holder(port), other(port);
        QTRY_COMPARE(server()->clientCount(), 2);
        holder.write(":LOCK\n");
        QTRY_COMPARE(holder.received, QByteArray("LOCKED\r\n"));
        const QByteArray flood = numberedLines("CONF:B", 0, 40000, 40);
        other.write(flood);
        QTRY_VERIFY(manager->counters().clientHolds > 0);
        holder.write("CONF:A\nREAD?\n:UNLOCK\n");
        QTRY_COMPARE(holder.received, QByteArray("LOCKED\r\nA reading\r\nUNLOCKED\r\n"));
        QVERIFY(device->received.startsWith("CONF:A\nREAD?\n"));
        QTRY_VERIFY_WITH_TIMEOUT(device->received.endsWith(flood.right(40)), 20000);
    }
    void deviceThatStopsReadingAndOrderUnderChurn()
    {
        startGateway();
        device->setReading(false);
        shrinkSendBuffer(device->latest()->peerPort(), device->port());
        FakeClient flooder(port), closer(port);
        QTRY_COMPARE(server()->clientCount(), 2);
        const QByteArray flood = numberedLines("F", 0, 200000, 80);
        flooder.write(flood);
        const DeviceLink *link = manager->findChild<DeviceLink *>();
        BacklogWatch watch([link] { return link->backlog(); });
        QVERIFY2(watch.waitUntilHeldBack(flooder), qPrintable(QString::number(watch.largest)));
        closer.write("LAST\r\n");
        closer.disconnectFromHost();
        QTRY_VERIFY(closer.isClosed());
        device->setReading(true);
        QVERIFY2(watch.waitFor([&] { return device->received.size() == flood.size() + 6; }, 30000),
                 qPrintable(QString::number(device->received.size())));
        QCOMPARE(QByteArray(device->received).replace("LAST\r\n", ""), flood);
        QVERIFY2(watch.largest < 1536 * 1024, qPrintable(QString::number(watch.largest)));
        // Then bytes written straight from several threads, and through the queues while sockets
        // are full, keep each writer's order while clients come and go; a device link dropped
        // while clients write breaks nothing, and the next link carries on.
        flooder.abort();
        device->setReading(false);
        device->received.clear();
        QObject owner;
        QList<FakeClient *> talkers;
        for (int t = 0; t < 3; ++t)
            talkers.append(new FakeClient(port, &owner));
        QTRY_COMPARE(server()->clientCount(), 3);
        // Each talker counts in letters of its own, so that its bytes can be picked out of
        // whatever the device receives.
        const auto count = [](int t, int from, int to) {
            QByteArray stream;
            for (int n = from; n < to; ++n) {
                for (char digit : QByteArray::number(n))
                    stream += char(digit - '0' + 'a' + 10 * t);
                stream += char('!' + t);
            }
            return stream;
        };
        const auto ownBytes = [](const QByteArray &received, int t) {
            QByteArray own;
            own.reserve(received.size());
            for (char c : received)
                if ((c >= 'a' + 10 * t && c < 'a' + 10 * t + 10) || c == '!' + t)
                    own.append(c);
            return own;
        };
        QList<QByteArray> firstCounts;
        for (int t = 0; t < 3; ++t) {
            firstCounts.append(count(t, 0, 30000));
            talkers.at(t)->write(firstCounts.last());
        }
        QTRY_VERIFY(link->backlog() > 0);
        device->setReading(true);
        const QByteArray lines = numberedLines("D", 0, 20000, 50);
        device->send(lines);
        QTimer churn;
        connect(&churn, &QTimer::timeout, &owner, [&] {
            new FakeClient(port, &owner);
            for (FakeClient *client : owner.findChildren<FakeClient *>())
                if (!talkers.contains(client) && client->isConnected())
                    client->abort();
        });
        churn.start(5);
        const auto complete = [&] {
            for (int t = 0; t < 3; ++t)
                if (talkers.at(t)->received != lines
                    || ownBytes(device->received, t) != firstCounts.at(t))
                    return false;
            return true;
        };
        QVERIFY2(QTest::qWaitFor(complete, 20000), "a writer's bytes were lost or reordered");
        for (int t = 1; t < 3; ++t)
            talkers.at(t)->write(count(t, 30000, 60000));
        manager->connectDevice(QStringLiteral("127.0.0.1"), device->port());
        QTRY_VERIFY(manager->isConnectedToDevice());
        talkers.at(0)->write(count(0, 30000, 30100));
        QTRY_VERIFY(ownBytes(device->received, 0).endsWith(count(0, 30099, 30100)));
        churn.stop();
    }
};

QTEST_GUILESS_MAIN(TestFlowControl)
#include "tst_flowcontrol.moc"
