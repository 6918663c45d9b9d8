#include "gateway/routing/turnkeeper.h"
#include "tests/testsupport.h"

class TestTurnKeeper : public QObject
{
    Q_OBJECT

private slots:
    // "steps -> what comes out", with turns held 30 ms, at most 100 ms, and locks idle 60 ms. The
    // steps: "w2,1" asks who of the waiting clients 2 and 1 goes next ("next 0": none), "s1" a
    // line of client 1 went, "q1" one that awaits its reply, "e1" the reply ended, "L1" the lock
    // line of client 1 came up, "U1" its unlock line ("unlock true" when it held the lock), "x1"
    // client 1 left, "a1" bytes came from it, "t" waits until the keeper frees the device once
    // more, "p" lets more than a lock's idle time pass. What comes out besides: "cut 1" the turn
    // of client 1 was cut short, "freed", and "log ...". "R: " routes replies: a long turn is cut
    // right after a reply, or after twice its length.
    void grants_data()
    {
        QTest::addColumn<QString>("row");
        for (const char *row :
             {"w2,1 -> next 2",
              "s1, w2 -> next 0",
              "s1, w2,1 -> next 1",
              "s1, t, w2 -> freed, next 2",
              "q1, w2 -> next 0",
              "q1, e1, t, w2,1 -> freed, next 2",
              "q1, t, w1,2,3 -> freed, log Turn of client 1 ended after # ms: other clients wait, "
              "cut 1, next 2",
              "q1, t, w1 -> freed, next 1",
              "s1, x1, w2 -> next 2",
              "s1, L1, w2 -> next 0",
              "L1, w2,1 -> next 1",
              "L1, U2, w2 -> unlock false, next 0",
              "L1, a2, U1, w2 -> log Client 1 unlocked the device, held for # ms, unlock true, "
              "next 2",
              "L1, x1, w2 -> log Client 1 left holding the lock, held for # ms, next 2",
              "L1, t, w2 -> log WARN  Lock of client 1 expired: nothing from it for 60 ms, held "
              "for "
              "# ms, freed, next 2",
              "L1, L1, U1, U1 -> log Client 1 unlocked the device, held for # ms, unlock true, "
              "unlock false",
              "R: q1, t, w1,2 -> freed, next 1",
              "R: q1, t, e1, w2,1 -> freed, log Turn of client 1 ended after # ms: other clients "
              "wait, cut 1, next 2",
              "R: q1, t, t, w1,2 -> freed, freed, log Turn of client 1 ended after # ms: other "
              "clients wait, cut 1, next 2",
              "L1, q1, p, a1, p, e1, w2 -> next 0"})
            QTest::newRow(row) << QString::fromLatin1(row);
    }
    void grants()
    {
        QFETCH(QString, row);
        const auto capture = CaptureDestination::install();
        const bool replies = row.startsWith("R: ");
        TurnKeeper keeper({30, 100, ":LOCK", ":UNLOCK", 60, replies});
        QStringList out;
        connect(&keeper, &TurnKeeper::freed, this, [&out] { out.append("freed"); });
        capture->onMessage = [&out](const QString &message) {
            out.append("log "
                       + QString(message).replace(QRegularExpression("(after|held for) \\d+"),
                                                  "\\1 #"));
        };
        const QString steps = row.section(" -> ", 0, 0).mid(replies ? 3 : 0);
        QElapsedTimer sinceStep;
        int freedSeen = 0;
        for (const QString &step : steps.split(", ")) {
            const quint64 client = step.mid(1).toULongLong();
            const QChar kind = step.at(0);
            quint64 cut = 0;
            QList<quint64> waiting;
            for (const QString &number : step.mid(1).split(','))
                waiting.append(number.toULongLong());
            if (kind == 't') {
                QTRY_VERIFY2_WITH_TIMEOUT(out.count("freed") > freedSeen,
                                          "the device was not freed", 3000);
                freedSeen = out.count("freed");
            } else if (kind == 'p') {
                sinceStep.start();
                QTRY_VERIFY(sinceStep.elapsed() > 90);
            } else if (kind == 'w')
                out.append(QStringLiteral("next %1").arg(keeper.next(waiting, &cut)));
            else if (kind == 'U')
                out.append(keeper.unlock(client) ? "unlock true" : "unlock false");
            else if (kind == 's' || kind == 'q')
                keeper.lineWent(client, kind == 'q');
            else if (kind == 'e')
                keeper.replyEnded(client);
            else if (kind == 'L')
                keeper.lock(client);
            else
                kind == 'x' ? keeper.clientLeft(client) : keeper.clientActive(client);
            if (cut)
                out.insert(out.size() - 1, QStringLiteral("cut %1").arg(cut));
        }
        QCOMPARE(out.join(", "), row.section(" -> ", 1));
        capture->onMessage = nullptr;
        const int firstLine = steps.indexOf(QRegularExpression("[sq]"));
        const bool locks = steps.contains('L'),
                   turns = firstLine >= 0 && (!locks || firstLine < steps.indexOf('L'));
        QCOMPARE(keeper.turns(), quint64(turns));
        QCOMPARE(keeper.lockGrants(), quint64(locks));
        QCOMPARE(keeper.lockExpiries(), quint64(row.contains("expired")));
    }
};

QTEST_GUILESS_MAIN(TestTurnKeeper)
#include "tst_turnkeeper.moc"
