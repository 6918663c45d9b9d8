#include "ui/updatecheck.h"

#include <QRandomGenerator>
#include <QTest>

Q_DECLARE_METATYPE(UpdateNotice)

class TestUpdateCheck : public QObject
{
    Q_OBJECT

    static QByteArray document(const QByteArray &inside)
    {
        return "<?xml version=\"1.0\"?><Product>" + inside + "</Product>";
    }

private slots:
    void walk_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("url");
        QTest::newRow("all four") << document("<Id>1004</Id><Name>VQ Gateway</Name><Version>01.02.00</Version><Url>http://h/p</Url>")
                                  << "1004" << "01.02.00" << "http://h/p";
        QTest::newRow("missing version") << document("<Id>1004</Id><Name>n</Name><Url>u</Url>") << "1004" << "01.01.01" << "u";
        QTest::newRow("other element first ends the walk")
            << document("<Date>2016-01-01</Date><Id>1004</Id><Version>09</Version>") << "" << "01.01.01" << "";
        QTest::newRow("nested") << QByteArray("<a><b><Id>1004</Id><Version>1.2</Version></b></a>") << "1004" << "1.2" << "";
        QTest::newRow("empty version element") << document("<Id>1004</Id><Version/><Url>u</Url>") << "1004" << "01.01.01" << "";
        QTest::newRow("names keep their case") << document("<id>1004</id><Version>2</Version>") << "" << "01.01.01" << "";
        QTest::newRow("not xml") << QByteArray("<html><body>Not found") << "" << "01.01.01" << "";
        QTest::newRow("empty") << QByteArray() << "" << "01.01.01" << "";
    }

    void walk()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, id);
        QFETCH(QString, version);
        QFETCH(QString, url);
        const UpdateDocument parsed = readUpdateDocument(body, QStringLiteral("01.01.01"));
        QCOMPARE(parsed.id, id);
        QCOMPARE(parsed.version, version);
        QCOMPARE(parsed.url, url);
    }

    void decide_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("userAsked");
        QTest::addColumn<QString>("last");
        QTest::addColumn<UpdateNotice>("notice");
        QTest::addColumn<bool>("store");
        const auto none = UpdateNotice::Nothing;
        const auto upToDate = UpdateNotice::UpToDate;
        const auto available = UpdateNotice::Available;
        QTest::newRow("start, newer, not announced") << "1004" << "01.02.00" << false << "" << available << true;
        QTest::newRow("start, newer, announced") << "1004" << "01.02.00" << false << "01.02.00" << none << true;
        QTest::newRow("user, newer, announced") << "1004" << "01.02.00" << true << "01.02.00" << available << true;
        QTest::newRow("start, same") << "1004" << "01.01.01" << false << "" << none << false;
        QTest::newRow("user, same") << "1004" << "01.01.01" << true << "" << upToDate << false;
        QTest::newRow("1.2 is newer") << "1004" << "1.2" << false << "" << available << true;
        QTest::newRow("01.00.09 is not") << "1004" << "01.00.09" << true << "" << upToDate << false;
        QTest::newRow("case ignored") << "1004" << "01.01.01A" << false << "01.01.01a" << none << true;
        QTest::newRow("foreign id") << "1005" << "09.00.00" << true << "" << none << false;
        QTest::newRow("no id") << "" << "09.00.00" << true << "" << none << false;
    }

    void decide()
    {
        QFETCH(QString, id);
        QFETCH(QString, version);
        QFETCH(bool, userAsked);
        QFETCH(QString, last);
        QFETCH(UpdateNotice, notice);
        QFETCH(bool, store);
        const UpdateDecision decision =
            decideUpdate(UpdateDocument{id, QString(), version, QString()}, QStringLiteral("01.01.01"), userAsked, last);
        QCOMPARE(decision.notice, notice);
        QCOMPARE(decision.storeVersion, store);
    }

    void availability_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << "01.02.00" << "http://example.invalid/p"
                               << "VQ Gateway v01.02.00 is available on Velquor website. Please click <a href='http://example.invalid/p'>here</a> for more information.";
        QTest::newRow("markup escaped") << "<b>9</b>" << "https://x.invalid/?a=1&b='2'"
                                        << "VQ Gateway v&lt;b&gt;9&lt;/b&gt; is available on Velquor website. Please click <a href='https://x.invalid/?a=1&amp;b=&#39;2&#39;'>here</a> for more information.";
        QTest::newRow("javascript is no link") << "2" << "javascript:alert('x')"
                                               << "VQ Gateway v2 is available on Velquor website. Please click here (javascript:alert('x')) for more information.";
    }

    void availability()
    {
        QFETCH(QString, version);
        QFETCH(QString, link);
        QFETCH(QString, text);
        QCOMPARE(availabilityText(QStringLiteral("VQ Gateway"), version, link), text);
    }

    // Whatever the server sends, the reader ends: every cut of a real document, and random
    // sequences of XML pieces.
    void truncatedAndRandomDocuments()
    {
        const QByteArray full = document("<Id>1004</Id><Name>VQ Gateway</Name><Version>01.02.00</Version><Url>http://h/p</Url>");
        for (int cut = 0; cut <= full.size(); ++cut)
            readUpdateDocument(full.left(cut), QStringLiteral("01.01.01"));
        const QList<QByteArray> pieces{"<", ">", "</", "/>", "Id", "Version", "<?xml version=\"1.0\"?>", "<!--", "-->", "<![CDATA[",
                                       "]]>", "&amp;", "&#x41;", "&bogus;", "\"", "=", " ", "\x00", "\xff", "<Product>", "</Product>"};
        QRandomGenerator random(1004);
        for (int round = 0; round < 2000; ++round) {
            QByteArray body;
            for (int i = random.bounded(60); i > 0; --i)
                body += pieces.at(random.bounded(pieces.size()));
            const UpdateDocument parsed = readUpdateDocument(body, QStringLiteral("01.01.01"));
            QVERIFY(!parsed.version.isEmpty());
        }
    }

    void urlFromEnvironment()
    {
        qunsetenv("VQGATEWAY_UPDATE_URL");
        QCOMPARE(updateDocumentUrl().host(), QStringLiteral("updates.velquor.invalid"));
        QCOMPARE(updateDocumentUrl().path(), QStringLiteral("/~ftp-xml/product_update_1004.xml"));
        qputenv("VQGATEWAY_UPDATE_URL", "http://127.0.0.1:1/x.xml");
        QCOMPARE(updateDocumentUrl(), QUrl(QStringLiteral("http://127.0.0.1:1/x.xml")));
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
