#include "tests/testsupport.h"
#include "ui/updatecheck.h"

// What the walk found: the id, the version and the link.
struct WalkCase { const char *name; QByteArray body; QString found; };
Q_DECLARE_METATYPE(WalkCase)

struct DecideCase { const char *name; QString id, version; bool userAsked; QString last; UpdateNotice notice; bool store; };
Q_DECLARE_METATYPE(DecideCase)

class TestUpdateCheck : public QObject
{
    Q_OBJECT

    static QByteArray document(const QByteArray &inside) { return "<?xml version=\"1.0\"?><Product>" + inside + "</Product>"; }

private slots:
    void walk_data()
    {
        addRows<WalkCase>({{"all four", document("<Id>1004</Id><Name>VQ Gateway</Name><Version>01.02.00</Version><Url>http://h/p</Url>"),
                            "1004 01.02.00 http://h/p"},
                           {"missing version", document("<Id>1004</Id><Name>n</Name><Url>u</Url>"), "1004 01.01.01 u"},
                           {"other element first ends the walk", document("<Date>2016</Date><Id>1004</Id><Version>09</Version>"), " 01.01.01 "},
                           {"nested", "<a><b><Id>1004</Id><Version>1.2</Version></b></a>", "1004 1.2 "},
                           {"empty version element", document("<Id>1004</Id><Version/><Url>u</Url>"), "1004 01.01.01 "},
                           {"names keep their case", document("<id>1004</id><Version>2</Version>"), " 01.01.01 "},
                           {"not xml", "<html><body>Not found", " 01.01.01 "}});
    }
    void walk()
    {
        QFETCH(WalkCase, row);
        const UpdateDocument parsed = readUpdateDocument(row.body, QStringLiteral("01.01.01"));
        QCOMPARE(parsed.id + ' ' + parsed.version + ' ' + parsed.url, row.found);
    }

    void decide_data()
    {
        const auto none = UpdateNotice::Nothing, upToDate = UpdateNotice::UpToDate, available = UpdateNotice::Available;
        addRows<DecideCase>({{"start, newer, not announced", "1004", "01.02.00", false, "", available, true},
                             {"start, newer, announced", "1004", "01.02.00", false, "01.02.00", none, true},
                             {"user, newer, announced", "1004", "01.02.00", true, "01.02.00", available, true},
                             {"start, same", "1004", "01.01.01", false, "", none, false},
                             {"user, same", "1004", "01.01.01", true, "", upToDate, false},
                             {"1.2 is newer", "1004", "1.2", false, "", available, true},
                             {"01.01.02 is newer", "1004", "01.01.02", false, "", available, true},
                             {"01.01.00 is not", "1004", "01.01.00", true, "", upToDate, false},
                             {"case ignored", "1004", "01.01.01A", false, "01.01.01a", none, true},
                             {"foreign id", "1005", "09.00.00", true, "", none, false},
                             {"no id", "", "09.00.00", true, "", none, false}});
    }
    void decide()
    {
        QFETCH(DecideCase, row);
        const UpdateDecision decision = decideUpdate({row.id, QString(), row.version, QString()}, QStringLiteral("01.01.01"), row.userAsked, row.last);
        QCOMPARE(decision.notice, row.notice);
        QCOMPARE(decision.storeVersion, row.store);
    }

    // Text from the server is shown as text; only web links become links.
    void availability()
    {
        const QString text = QStringLiteral("VQ Gateway v%1 is available on Velquor website. Please click %2 for more information.");
        QCOMPARE(availabilityText(QStringLiteral("VQ Gateway"), QStringLiteral("<b>9</b>"), QStringLiteral("https://x.invalid/?a=1&b='2'")),
                 text.arg(QStringLiteral("&lt;b&gt;9&lt;/b&gt;"), QStringLiteral("<a href='https://x.invalid/?a=1&amp;b=&#39;2&#39;'>here</a>")));
        QCOMPARE(availabilityText(QStringLiteral("VQ Gateway"), QStringLiteral("2"), QStringLiteral("javascript:alert('x')")),
                 text.arg(QStringLiteral("2"), QStringLiteral("here (javascript:alert('x'))")));
    }

    // Whatever the server sends, the reader ends.
    void truncatedDocuments()
    {
        const QByteArray full = document("<Id>1004</Id><Name>VQ Gateway</Name><Version>01.02.00</Version><Url>http://h/p</Url>");
        for (int cut = 0; cut <= full.size(); ++cut)
            QVERIFY(!readUpdateDocument(full.left(cut), QStringLiteral("01.01.01")).version.isEmpty());
    }

    void urlFromEnvironment()
    {
        qunsetenv("VQGATEWAY_UPDATE_URL");
        QCOMPARE(updateDocumentUrl(), QUrl(QStringLiteral("http://updates.velquor.invalid/~ftp-xml/product_update_1004.xml")));
        qputenv("VQGATEWAY_UPDATE_URL", "http://127.0.0.1:1/x.xml");
        QCOMPARE(updateDocumentUrl(), QUrl(QStringLiteral("http://127.0.0.1:1/x.xml")));
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
