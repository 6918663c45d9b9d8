#include "gateway/gatewaysettings.h"
#include "tests/testsupport.h"

#include <QTest>

#include <functional>
#include <memory>

class TestGatewaySettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDir> dir;

private slots:
    void initTestCase() { dir.reset(new TestDir); }
    void cleanup()
    {
        dir->noteResult();
        GatewaySettings().clear();
    }

    void defaultsAndRoundTrips_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("initial");
        QTest::addColumn<QVariant>("written");
        QTest::newRow("IpAddress") << "IpAddress" << QVariant("192.168.1.140") << QVariant("127.0.0.1");
        QTest::newRow("Port") << "Port" << QVariant(10500u) << QVariant(12345u);
        QTest::newRow("PortLocal") << "PortLocal" << QVariant(10500u) << QVariant(20000u);
        QTest::newRow("ListenAddress") << "ListenAddress" << QVariant(QString()) << QVariant("127.0.0.1");
        QTest::newRow("LogTraffic") << "LogTraffic" << QVariant(false) << QVariant(true);
        QTest::newRow("Autoconnect") << "Autoconnect" << QVariant(false) << QVariant(true);
        QTest::newRow("StartMinimized") << "StartMinimized" << QVariant(false) << QVariant(true);
        QTest::newRow("NoTrayWarning") << "NoTrayWarning" << QVariant(false) << QVariant(true);
        QTest::newRow("StartAtLogin") << "StartAtLogin" << QVariant(false) << QVariant(true);
        QTest::newRow("LoggingLevel") << "LoggingLevel" << QVariant(1) << QVariant(-3);
        QTest::newRow("LastVersionDisplayed") << "LastVersionDisplayed" << QVariant(QString()) << QVariant("01.02.00");
    }
    // Each getter reads its own key with its default; each setter's write is seen by every other
    // object at once and kept in the store, and touches no other key.
    void defaultsAndRoundTrips()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, initial);
        QFETCH(QVariant, written);
        const auto get = [](const GatewaySettings &s, const QString &k) -> QVariant {
            const QVariantMap values{{"IpAddress", s.ipAddress()}, {"Port", s.port()}, {"PortLocal", s.portLocal()},
                                     {"ListenAddress", s.listenAddress()}, {"LogTraffic", s.logTraffic()}, {"Autoconnect", s.autoconnect()},
                                     {"StartMinimized", s.startMinimized()}, {"NoTrayWarning", s.noTrayWarning()},
                                     {"StartAtLogin", s.startAtLogin()}, {"LoggingLevel", s.loggingLevel()},
                                     {"LastVersionDisplayed", s.lastVersionDisplayed()}};
            return k.isEmpty() ? QVariant(values) : values.value(k);
        };
        GatewaySettings writer, reader;
        QCOMPARE(get(reader, key), initial);
        const QVariantMap before = get(reader, QString()).toMap();
        const QHash<QString, std::function<void(GatewaySettings &, const QVariant &)>> set{
            {"IpAddress", [](GatewaySettings &s, const QVariant &v) { s.setIpAddress(v.toString()); }},
            {"Port", [](GatewaySettings &s, const QVariant &v) { s.setPort(v.toUInt()); }},
            {"PortLocal", [](GatewaySettings &s, const QVariant &v) { s.setPortLocal(v.toUInt()); }},
            {"ListenAddress", [](GatewaySettings &s, const QVariant &v) { s.setListenAddress(v.toString()); }},
            {"LogTraffic", [](GatewaySettings &s, const QVariant &v) { s.setLogTraffic(v.toBool()); }},
            {"Autoconnect", [](GatewaySettings &s, const QVariant &v) { s.setAutoconnect(v.toBool()); }},
            {"StartMinimized", [](GatewaySettings &s, const QVariant &v) { s.setStartMinimized(v.toBool()); }},
            {"NoTrayWarning", [](GatewaySettings &s, const QVariant &v) { s.setNoTrayWarning(v.toBool()); }},
            {"StartAtLogin", [](GatewaySettings &s, const QVariant &v) { s.setStartAtLogin(v.toBool()); }},
            {"LoggingLevel", [](GatewaySettings &s, const QVariant &v) { s.setLoggingLevel(v.toInt()); }},
            {"LastVersionDisplayed", [](GatewaySettings &s, const QVariant &v) { s.setLastVersionDisplayed(v.toString()); }}};
        set.value(key)(writer, written);
        QVariantMap expected = before;
        expected.insert(key, written);
        QCOMPARE(get(reader, QString()).toMap(), expected);
        writer.sync();
        QVERIFY(QFile::exists(dir->filePath(QStringLiteral("config/Velquor/Gateway.conf"))));
    }

    // The same file under Qt 5 and Qt 6, so that either reads what the other wrote.
    void storedFileText()
    {
        {
            GatewaySettings settings;
            settings.setIpAddress(QStringLiteral("127.0.0.1"));
            settings.setPort(10600);
            settings.setAutoconnect(true);
            settings.setLoggingLevel(0);
            settings.setLastVersionDisplayed(QStringLiteral("01.02.00"));
        }
        QFile file(dir->filePath(QStringLiteral("config/Velquor/Gateway.conf")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("[General]\nAutoconnect=true\nIpAddress=127.0.0.1\nLastVersionDisplayed=01.02.00\n"
                                            "LoggingLevel=0\nPort=10600\n"));
    }

    void unconvertibleValuesReadAsZero()
    {
        GatewaySettings settings;
        settings.setValue(QStringLiteral("Port"), QStringLiteral("abc"));
        settings.setValue(QStringLiteral("LoggingLevel"), QStringLiteral("high"));
        QCOMPARE(GatewaySettings().port() + GatewaySettings().loggingLevel(), 0u);
    }

    // Values for this run are read everywhere and never stored; the user's own edit ends them.
    // A named instance has a store of its own.
    void overridesAndInstances()
    {
        GatewaySettings().setPort(11000);
        GatewaySettings::overrideForThisRun(QStringLiteral("Port"), 12000u);
        QCOMPARE(GatewaySettings().port(), 12000u);
        QCOMPARE(GatewaySettings().value(QStringLiteral("Port")).toUInt(), 11000u);
        GatewaySettings().setPort(13000);
        QCOMPARE(GatewaySettings().port(), 13000u);
        GatewaySettings::setInstanceName(QStringLiteral("lab1"));
        QCOMPARE(GatewaySettings().port(), 10500u);
        GatewaySettings().setPort(14000); // written when the object goes
        QVERIFY(QFile::exists(dir->filePath(QStringLiteral("config/Velquor/Gateway-lab1.conf"))));
        GatewaySettings::setInstanceName(QString());
        QCOMPARE(GatewaySettings().port(), 13000u);
    }
};

QTEST_GUILESS_MAIN(TestGatewaySettings)
#include "tst_gatewaysettings.moc"
