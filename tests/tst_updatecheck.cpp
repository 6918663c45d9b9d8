#include "tests/testsupport.h"
#include "ui/updatecheck.h"

// What the update check makes of the document it fetched; no address here reaches a socket.
class TestUpdateCheck : public QObject
{
    Q_OBJECT

    static QByteArray doc(const QByteArray &inside)
    {
        return "<?xml version=\"1.0\"?><Product>" + inside + "</Product>";
    }

private slots:
    // What the walk finds: the id, the version (our own when there is none) and the link.
    void walk()
    {
        const QList<QPair<QByteArray, QString>> cases{
                {doc("<Id>1004</Id><Name>VQ "
                     "Gateway</Name><Version>01.02.00</Version><Url>http://h/p</Url>"),
                 "1004 01.02.00 http://h/p"},
                {doc("<Id>1004</Id><Name>n</Name><Url>u</Url>"), "1004 01.01.01 u"},
                {doc("<Date>2016</Date><Id>1004</Id><Version>09</Version>"),
                 " 01.01.01 "}, // another element first ends the walk
                {"<a><b><Id>1004</Id><Version>1.2</Version></b></a>", "1004 1.2 "},
                {doc("<Id>1004</Id><Version/><Url>u</Url>"), "1004 01.01.01 u"},
                {doc("<Id> 1004\n</Id><Version> 1.2 </Version>"), "1004 1.2 "},
                {doc("<id>1004</id><Version>2</Version>"), " 01.01.01 "},
                {"<html><body>Not found", " 01.01.01 "}};
        for (const auto &c : cases) {
            const UpdateDocument found = readUpdateDocument(c.first, QStringLiteral("01.01.01"));
            QCOMPARE(found.id + ' ' + found.version + ' ' + found.url, c.second);
        }
        // Whatever the server sends, the reader ends.
        for (int cut = 0; cut <= cases.first().first.size(); ++cut)
            QVERIFY(!readUpdateDocument(cases.first().first.left(cut), QStringLiteral("01.01.01"))
                             .version.isEmpty());
    }
    // Id, version, who asked (s at start, u the user), the version last announced; then what
    // is shown (- nothing, = up to date, + available) and whether the version is stored.
    void decide()
    {
        const QStringList cases{"1004 01.02.00 s  + stored",
                                "1004 01.02.00 s 01.02.00 - stored",
                                "1004 01.02.00 u 01.02.00 + stored",
                                "1004 01.01.01 s  -",
                                "1004 01.01.01 u  =",
                                "1004 1.2 s  + stored",
                                "1004 01.01.02 s  + stored",
                                "1004 01.01.00 u  =",
                                "1004 1.0 u  =",
                                "1004 1.1.1 u  =",
                                "1004 01.10 s 01.9 + stored",
                                "1004 01.01.01A s 01.01.01a - stored",
                                "1005 09.00.00 u  -",
                                " 09.00.00 u  -"};
        QStringList results;
        for (const QString &c : cases) {
            const QStringList part = c.split(QLatin1Char(' '));
            const UpdateDecision decision
                    = decideUpdate({part[0], QString(), part[1], QString()},
                                   QStringLiteral("01.01.01"), part[2] == "u", part[3]);
            results.append(QStringList(part.mid(0, 4)).join(' ') + ' ' + "-=+"[int(decision.notice)]
                           + (decision.storeVersion ? " stored" : ""));
        }
        QCOMPARE(results, cases);
    }
    // Versions of different lengths: a missing part counts as 0.
    void compare()
    {
        for (const char *row : {"1.1 < 1.1.1", "1.1.0 = 1.1", "1.1.1 > 1.1", "1 = 01.00.00",
                                "1.1.0.1 > 1.1", "1.2 > 1.1.9", "1.10 > 1.9.9"}) {
            const QStringList part = QString::fromLatin1(row).split(' ');
            QCOMPARE(QString(part[0] + ' ' + "<=>"[compareVersions(part[0], part[2]) + 1] + ' '
                             + part[2]),
                     QString::fromLatin1(row));
            QCOMPARE(compareVersions(part[2], part[0]), -compareVersions(part[0], part[2]));
        }
    }
    // Text from the server is shown as text; only web links become links.
    void availability()
    {
        const QString text = QStringLiteral("VQ Gateway v%1 is available on Velquor website. "
                                            "Please click %2 for more information.");
        QCOMPARE(availabilityText(QStringLiteral("VQ Gateway"), QStringLiteral("<b>9</b>"),
                                  QStringLiteral("https://x.invalid/?a=1&b='2'")),
                 text.arg(QStringLiteral("&lt;b&gt;9&lt;/b&gt;"),
                          QStringLiteral(
                                  "<a href='https://x.invalid/?a=1&amp;b=&#39;2&#39;'>here</a>")));
        QCOMPARE(availabilityText(QStringLiteral("VQ Gateway"), QStringLiteral("2"),
                                  QStringLiteral("javascript:alert('x')")),
                 text.arg(QStringLiteral("2"), QStringLiteral("here (javascript:alert('x'))")));
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
