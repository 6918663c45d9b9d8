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

    static QVariant read(const GatewaySettings &s, const QString &key)
    {
        return QVariantMap{{"IpAddress", s.ipAddress()},
                           {"Port", s.port()},
                           {"PortLocal", s.portLocal()},
                           {"ListenAddress", s.listenAddress()},
                           {"DeviceLineEnd", s.deviceLineEnd()},
                           {"ReplyRouting", s.replyRouting()},
                           {"ReplyQuietMs", s.replyQuietMs()},
                           {"ReplyTimeoutMs", s.replyTimeoutMs()},
                           {"LogTraffic", s.logTraffic()},
                           {"Autoconnect", s.autoconnect()},
                           {"LoggingLevel", s.loggingLevel()},
                           {"ReplyEnd", s.replyEnd()},
                           {"ReplyEndPattern", s.replyEndPattern()},
                           {"ObserverListen", s.observerListen()},
                           {"MetricsListen", s.metricsListen()},
                           {"AllowedClients", s.allowedClients()},
                           {"WhenDeviceDown", s.whenDeviceDown()},
                           {"HoldMs", s.holdMs()},
                           {"HoldMaxMs", s.holdMaxMs()},
                           {"LockReply", s.lockReply()},
                           {"EventPattern", s.eventPattern()},
                           {"DeviceNotices", s.deviceNotices()},
                           {"DeviceDownNotice", s.deviceDownNotice()},
                           {"SerialPort", s.serialPort()},
                           {"SerialSettings", s.serialSettings()}}
                .value(key);
    }
    // The settings of a new instance, from this text as a user writes it in the file.
    void writeFile(const QString &text)
    {
        static int files = 0;
        GatewaySettings::setInstanceName(QStringLiteral("file%1").arg(++files));
        QFile file(GatewaySettings().fileName());
        QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly));
        file.write("[General]\n" + text.toUtf8() + '\n');
    }

private slots:
    void cleanup()
    {
        GatewaySettings::setInstanceName(QString());
        dir.noteResult();
    }
    // "Key=text in the file -> what the getter reads | the problem line, if any": a value reads
    // as written, quoted or not; one that is not usable is named once, with its fallback.
    void asWritten_data()
    {
        QTest::addColumn<QString>("row");
        const QString pattern = QStringLiteral(R"(^(OK|ERROR \d);\\$)"),
                      allowed = QStringLiteral("127.0.0.1, 192.168.10.0/24, ::1");
        const QString rows[] = {
                "AllowedClients=" + allowed + " -> " + allowed,
                "AllowedClients=\"" + allowed + "\" -> " + allowed,
                "AllowedClients=192.0.2.1, /0 -> 192.0.2.1, /0 | AllowedClients \"192.0.2.1, /0\" "
                "is "
                "not a list of full addresses and networks (\"/0\" is none) - using none: no "
                "client "
                "is served",
                "ReplyEndPattern=^[0-9]{1,3}$ -> ^[0-9]{1,3}$",
                "ReplyEndPattern=" + pattern + " -> " + pattern,
                "ReplyEndPattern=\"" + pattern + "\" -> " + pattern,
                "ReplyEndPattern=( ->  | ReplyEndPattern \"(\" is not a regular expression - using "
                "none",
                "ReplyEnd=pattern -> quiet | ReplyEndPattern \"\" is not a regular expression - "
                "using ReplyEnd=quiet",
                "ReplyEnd=Query -> query",
                "ReplyEnd=fast -> quiet | ReplyEnd \"fast\" is not quiet, query or pattern - using "
                "quiet",
                "ReplyRouting=ture -> false | ReplyRouting \"ture\" is not true or false - using "
                "false",
                "ReplyRouting=TRUE -> true",
                "LogTraffic=1 -> true",
                "Autoconnect=\"false\" -> false",
                "Port=10,500 -> 0 | Port \"10,500\" is not a port from 1 to 65535 - using "
                "none: the device is not connected",
                "Port=+10500 -> 0 | Port \"+10500\" is not a port from 1 to 65535 - using "
                "none: the device is not connected",
                "PortLocal=65536 -> 0 | PortLocal \"65536\" is not a port from 1 to 65535 - using "
                "none: the server does not start",
                "PortLocal=\"7000\" -> 7000",
                "ReplyQuietMs=0 -> 50 | ReplyQuietMs \"0\" is not from 1 to 10000 ms - using 50",
                "LoggingLevel=-3 -> 1 | LoggingLevel \"-3\" is not a level from 0 to 6 - using 1",
                "DeviceLineEnd=lf -> LF",
                "WhenDeviceDown=Close -> close",
                "DeviceNotices=yes -> false | DeviceNotices \"yes\" is not true or false - using "
                "false",
                "DeviceDownNotice=\"!DOWN, \\\"lab\\\"\" -> !DOWN, \\\"lab\\\"",
                "SerialSettings=9600,7E2,xonxoff -> 9600,7E2,xonxoff",
                "SerialPort=\"/dev/serial/by-id/usb-FTDI, port0\" -> /dev/serial/by-id/usb-FTDI, "
                "port0",
                "WhenDeviceDown=drop -> keep | WhenDeviceDown \"drop\" is not keep or close - "
                "using "
                "keep",
                "DeviceLineEnd=cr -> CRLF | DeviceLineEnd \"cr\" is not CRLF or LF - using CRLF",
                "IpAddress=192.0.2.300 -> 192.0.2.300 | IpAddress \"192.0.2.300\" is not an IPv4 "
                "address, an IPv6 address or a host name - using none: the device is not connected",
                "IpAddress=meter.lab -> meter.lab",
                "Port=5025 -> 5025",
                "ListenAddress=127.1 -> 127.1 | ListenAddress \"127.1\" is not an IP address - "
                "using none: the server does not start",
                "ListenAddress=010.0.0.1 -> 10.0.0.1",
                "ObserverListen=10500 ->  | ObserverListen \"10500\" is not apart from the client "
                "server's port - using none: no observers",
                "ObserverListen=127.0.0.1:7000 -> 127.0.0.1:7000",
                "MetricsListen=x:1 ->  | MetricsListen \"x:1\" is not [ADDRESS:]PORT with a port "
                "from 1 to 65535 - using none: no metrics",
                "HoldMs=-1 -> 0 | HoldMs \"-1\" is not from 0 to 600000 ms - using 0: no turns",
                "HoldMaxMs=5 s -> 5000 | HoldMaxMs \"5 s\" is not from 1 to 3600000 ms - using "
                "5000",
                "LockReply=\"\" -> LOCKED | LockReply \"\" is not a line - using LOCKED",
                "EventPattern=^(RING|\\*STB) -> ^(RING|\\*STB)",
                "EventPattern=[RING ->  | EventPattern \"[RING\" is not a regular expression - "
                "using none: no device events"};
        for (const QString &row : rows)
            QTest::newRow(qPrintable(row.section(" -> ", 0, 0))) << row;
    }
    void asWritten()
    {
        QFETCH(QString, row);
        writeFile(row.section(" -> ", 0, 0));
        const GatewaySettings settings;
        const QString key = row.section('=', 0, 0), value = read(settings, key).toString();
        QCOMPARE(row.section(" -> ", 0, 0) + " -> "
                         + (QStringList(value) + settings.problems()).join(" | "),
                 row);
        // What the program writes leaves the user's other lines as they were (a file is
        // replaced as a whole: each read opens it anew).
        const auto text = [&settings] {
            QFile file(settings.fileName());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray before = text();
        GatewaySettings().setLastVersionDisplayed(QStringLiteral("9;\\"));
        QVERIFY(text().contains(before.mid(10)));
        QCOMPARE(read(GatewaySettings(), key).toString(), value);
        QCOMPARE(GatewaySettings().lastVersionDisplayed(), QStringLiteral("9;\\"));
    }
    // What a start states: the effective configuration in a few lines, and the problems.
    void configuration()
    {
        QCOMPARE(configurationReport(GatewaySettings()).lines.mid(1),
                 (QStringList{"Device: 192.168.1.140:10500, lines end in CR LF",
                              "Listen: every interface, port 10500", "Observe: none",
                              "Allowed clients: everyone", "Reply routing: off", "Metrics: none",
                              "Traffic logging: off", "Turns: off", "Locks: off",
                              "Device events: none",
                              "When the device is down: clients kept, notices off"}));
        writeFile("ReplyRouting=true\nReplyEnd=pattern\nReplyEndPattern=^OK$\nPortLocal=x\n"
                  "DeviceLineEnd=LF\nMetricsListen=9464\nAllowedClients=10\nLogTraffic=true\n"
                  "ObserverListen=[::1]:7000\nIpAddress=[0::1]\nHoldMs=200\nLockCommand=:L\n"
                  "UnlockCommand=:L\nEventPattern=^RING");
        const ConfigurationReport report = configurationReport(GatewaySettings());
        QCOMPARE(report.lines,
                 (QStringList{"Instance: file" + GatewaySettings::instanceName().mid(4)
                                      + ", settings " + GatewaySettings().fileName(),
                              "Device: [::1]:10500, lines end in LF", "Listen: none",
                              "Observe: [::1]:7000", "Allowed clients: nobody",
                              "Reply routing: on, replies end at a line that matches \"^OK$\", "
                              "time-out 500 ms",
                              "Metrics: 127.0.0.1:9464", "Traffic logging: on",
                              "Turns: hold 200 ms, at most 5000 ms while others wait",
                              "Locks: \":L\" answered \"LOCKED\", no unlock line, idle limit "
                              "10000 ms",
                              "Device events: lines that match \"^RING\"",
                              "When the device is down: clients kept, notices off"}));
        QCOMPARE(report.problems, GatewaySettings().problems());
        QCOMPARE(report.problems.size(), 3);
    }
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
        writer.setLoggingLevel(4);
        writer.setLastVersionDisplayed(QStringLiteral("01.02.00"));
        QCOMPARE(all(reader),
                 (QVariantList{"127.0.0.1", 12345u, 20000u, "127.0.0.2", "LF", true, 7, 70, true,
                               true, true, true, true, 4, "01.02.00"}));
        writer.sync();
        QFile file(dir.filePath(QStringLiteral("config/Velquor/Gateway.conf")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().split('\n'),
                 (QList<QByteArray>{"[General]", "Autoconnect=true", "DeviceLineEnd=LF",
                                    "IpAddress=127.0.0.1", "LastVersionDisplayed=01.02.00",
                                    "ListenAddress=127.0.0.2", "LogTraffic=true", "LoggingLevel=4",
                                    "NoTrayWarning=true", "Port=12345", "PortLocal=20000",
                                    "ReplyQuietMs=7", "ReplyRouting=true", "ReplyTimeoutMs=70",
                                    "StartAtLogin=true", "StartMinimized=true", ""}));
    }
};

QTEST_GUILESS_MAIN(TestGatewaySettings)
#include "tst_gatewaysettings.moc"
