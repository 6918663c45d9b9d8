#include "platform/autostart.h"
#include "platform/instanceguard.h"
#include "tests/testsupport.h"

#include <QSharedMemory>

// What the program keeps in the user's own places: its settings, its autostart entry, its guard.
class TestPlatform : public QObject
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
    // Any path survives the Exec key's quoting; a named instance starts as itself.
    void autostartEntry()
    {
        const QList<QPair<QString, QString>> paths{
                {"/opt/VQ Gateway/vqgateway", "\"/opt/VQ Gateway/vqgateway\""},
                {"/a\"b$c`d", "\"/a\\\\\"b\\\\$c\\\\`d\""},
                {"/a\\b", "\"/a\\\\\\\\b\""},
                {"/100%/x", "\"/100%%/x\""},
                {"/a\nExec=b\r", "\"/a\\nExec=b\\r\""},
                {"/x|lab1", "\"/x\" --instance lab1"}};
        for (const auto &path : paths) {
            const QString text = Platform::autostartEntry(path.first.section('|', 0, 0),
                                                          path.first.section('|', 1));
            QVERIFY2(text.startsWith("[Desktop Entry]\n") && text.contains("\nType=Application\n"),
                     qPrintable(text));
            QVERIFY2(text.contains("\nExec=" + path.second + "\n"), qPrintable(path.first));
        }
        // Removing a missing entry is no error.
        QVERIFY(Platform::setRunAtLogin(false, paths.first().first, QString()));
        QVERIFY(!QFile::exists(Platform::autostartEntryPath(QString())));
    }
    void oneInstancePerUser()
    {
        const QString key = QStringLiteral("vqgateway-guard-test");
        InstanceGuard first(key, QStringLiteral("1000")), otherUser(key, QStringLiteral("1001")),
                sameUser(key, QStringLiteral("1000"));
        QVERIFY(first.tryLock() && otherUser.tryLock() && !sameUser.tryLock());
        // What anybody can create beforehand, such as the shared-memory segment an earlier guard
        // used, stops no start.
        QSharedMemory planted(key + QLatin1String("-1002"));
        QVERIFY(planted.create(1));
        QVERIFY(InstanceGuard(key, QStringLiteral("1002")).tryLock());
        QCOMPARE(Platform::currentUserScope(), QString::number(getuid()));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
