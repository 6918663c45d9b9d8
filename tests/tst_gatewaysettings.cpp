#include "gateway/gatewaysettings.h"
#include "tests/testsupport.h"

class TestGatewaySettings : public QObject
{
    Q_OBJECT

    TestDir dir;

    static QVariantList all(const GatewaySettings &s)
    {
        return {s.ipAddress(),     s.port(),         s.portLocal(),           s.listenAddress(),
                s.deviceLineEnd(), s.replyRouting(), s.replyQuietMs(),        s.replyTimeoutMs(),
                s.logTraffic(),    s.autoconnect(),  s.startMinimized(),      s.noTrayWarning(),
                s.startAtLogin(),  s.loggingLevel(), s.lastVersionDisplayed()};
    }

private slots:
    void cleanup() { dir.noteResult(); }
    // Own key and default for each; writes seen at once; the same file under Qt 5 and Qt 6.
    void defaultsAndRoundTrips()
    {
        GatewaySettings reader, writer;
        QCOMPARE(all(reader),
                 (QVariantList{"192.168.1.140", 10500u, 10500u, "", "CRLF", false, 50, 500, false,
                               false, false, false, false, 1, ""}));
        writer.setIpAddress(QStringLiteral("127.0.0.1"));
        writer.setPort(12345);
        writer.setPortLocal(20000);
        writer.setListenAddress(QStringLiteral("127.0.0.2"));
        writer.setDeviceLineEnd(QStringLiteral("LF"));
        writer.setReplyRouting(true);
        writer.setReplyQuietMs(7);
        writer.setReplyTimeoutMs(70);
        writer.setLogTraffic(true);
        writer.setAutoconnect(true);
        writer.setStartMinimized(true);
        writer.setNoTrayWarning(true);
        writer.setStartAtLogin(true);
        writer.setLoggingLevel(-3);
        writer.setLastVersionDisplayed(QStringLiteral("01.02.00"));
        QCOMPARE(all(reader),
                 (QVariantList{"127.0.0.1", 12345u, 20000u, "127.0.0.2", "LF", true, 7, 70, true,
                               true, true, true, true, -3, "01.02.00"}));
        writer.sync();
        QFile file(dir.filePath(QStringLiteral("config/Velquor/Gateway.conf")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().split('\n'),
                 (QList<QByteArray>{"[General]", "Autoconnect=true", "DeviceLineEnd=LF",
                                    "IpAddress=127.0.0.1", "LastVersionDisplayed=01.02.00",
                                    "ListenAddress=127.0.0.2", "LogTraffic=true", "LoggingLevel=-3",
                                    "NoTrayWarning=true", "Port=12345", "PortLocal=20000",
                                    "ReplyQuietMs=7", "ReplyRouting=true", "ReplyTimeoutMs=70",
                                    "StartAtLogin=true", "StartMinimized=true", ""}));
    }
};

QTEST_GUILESS_MAIN(TestGatewaySettings)
#include "tst_gatewaysettings.moc"
