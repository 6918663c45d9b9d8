#include "app/commandline.h"

#include <QTest>

// Pure checks: no address here reaches a socket.
class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("result");
        const QString plain = QStringLiteral("run headless=0 platform=0 instance= device=:0 listen=0:0 traffic=0 end= routing=0");
        QTest::newRow("none") << "" << plain;
        QTest::newRow("help") << "--help" << "help";
        QTest::newRow("version wins over the rest") << "-v --headless" << "version";
        QTest::newRow("everything") << "--headless --instance lab_1-B --device 127.000.0.1:10500 --listen 127.0.0.1:1 --log-traffic "
                                       "--device-line-end lf --reply-routing"
                                    << "run headless=1 platform=0 instance=lab_1-B device=127.0.0.1:10500 listen=1127.0.0.1:1 traffic=1 end=LF routing=1";
        QTest::newRow("listen port only") << "--listen 65535" << QString(plain).replace("listen=0:0", "listen=1:65535");
        QTest::newRow("IPv6 listen") << "--listen [::1]:7000" << QString(plain).replace("listen=0:0", "listen=1::1:7000");
        QTest::newRow("CRLF") << "--device-line-end CRLF" << QString(plain).replace("end=", "end=CRLF");
        QTest::newRow("Qt's platform option") << "-platform offscreen" << QString(plain).replace("platform=0", "platform=1");
        QTest::newRow("32-character name") << QStringLiteral("--instance ") + QString(32, 'n')
                                           << QString(plain).replace("instance=", "instance=" + QString(32, 'n'));
        for (const char *bad : {"--bogus", "stray", "--instance", "--instance " "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", "--instance a.b",
                                "--device 127.0.0.1:10499", "--device 127.0.0.1", "--device 127.0.0.1:65536", "--device 300.0.0.1:10500",
                                "--listen 0", "--listen 65536", "--listen x:10500", "--listen 127.0.0.1:", "--device-line-end cr"})
            QTest::newRow(bad) << QString::fromLatin1(bad) << "fail";
    }
    void parse() {
        QFETCH(QString, arguments);
        QFETCH(QString, result);
        QStringList argv{QStringLiteral("vqgateway")};
        if (!arguments.isEmpty())
            argv += arguments.split(QLatin1Char(' '));
        const CommandLine c = parseCommandLine(argv);
        const QString actions[] = {QStringLiteral("run"), QStringLiteral("help"), QStringLiteral("version"), QStringLiteral("fail")};
        QString seen = actions[c.action];
        if (c.action == CommandLine::Run)
            seen += QStringLiteral(" headless=%1 platform=%2 instance=%3 device=%4:%5 listen=%6%7:%8 traffic=%9")
                        .arg(c.headless).arg(c.platformNamed).arg(c.instance, c.deviceAddress).arg(c.devicePort)
                        .arg(c.listenGiven).arg(c.listenAddress).arg(c.listenPort).arg(c.logTraffic)
                    + QStringLiteral(" end=%1 routing=%2").arg(c.deviceLineEnd).arg(c.replyRouting);
        QCOMPARE(seen, result);
        QCOMPARE(c.error.isEmpty(), c.action != CommandLine::Fail);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
