#include "app/gatewaysettings.h"
#include "tests/testsupport.h"

#include <QTest>

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

    void firstRunDefaults()
    {
        GatewaySettings settings;
        QCOMPARE(settings.ipAddress(), QStringLiteral("192.168.1.140"));
        QCOMPARE(settings.port(), 10500u);
        QCOMPARE(settings.portLocal(), 10500u);
        QCOMPARE(settings.logTraffic(), false);
        QCOMPARE(settings.autoconnect(), false);
        QCOMPARE(settings.startMinimized(), false);
        QCOMPARE(settings.noTrayWarning(), false);
        QCOMPARE(settings.startAtLogin(), false);
        QCOMPARE(settings.loggingLevel(), 1);
        QCOMPARE(settings.lastVersionDisplayed(), QString());
    }

    void writesAreSeenByOtherObjects()
    {
        GatewaySettings writer;
        GatewaySettings reader;
        writer.setPort(12345);
        writer.setIpAddress(QStringLiteral("127.0.0.1"));
        writer.setAutoconnect(true);
        writer.setLoggingLevel(-3);
        writer.setLastVersionDisplayed(QStringLiteral("01.02.00"));
        QCOMPARE(reader.port(), 12345u);
        QCOMPARE(reader.ipAddress(), QStringLiteral("127.0.0.1"));
        QCOMPARE(reader.autoconnect(), true);
        QCOMPARE(reader.loggingLevel(), -3);
        QCOMPARE(reader.lastVersionDisplayed(), QStringLiteral("01.02.00"));
        // "Port" and "PortLocal" are distinct values.
        QCOMPARE(reader.portLocal(), 10500u);
        writer.setPortLocal(20000);
        QCOMPARE(reader.port(), 12345u);
        QCOMPARE(reader.portLocal(), 20000u);
    }

    void valuesPersistInTheStore()
    {
        {
            GatewaySettings writer;
            writer.setStartMinimized(true);
        }
        QVERIFY(QFile::exists(dir->filePath(QStringLiteral("config/Velquor/Gateway.conf"))));
        QCOMPARE(GatewaySettings().startMinimized(), true);
    }

    void unconvertibleValuesReadAsZero()
    {
        GatewaySettings settings;
        settings.setValue(QStringLiteral("Port"), QStringLiteral("abc"));
        settings.setValue(QStringLiteral("LoggingLevel"), QStringLiteral("high"));
        QCOMPARE(GatewaySettings().port(), 0u);
        QCOMPARE(GatewaySettings().loggingLevel(), 0);
    }
};

QTEST_GUILESS_MAIN(TestGatewaySettings)
#include "tst_gatewaysettings.moc"
