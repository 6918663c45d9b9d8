#include "app/commandline.h"

#include <QTest>

// Pure checks: no address here reaches a socket.
class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    // Each command line and what it asks for.
    void parse()
    {
        const QString plain = QStringLiteral("run headless=0 platform=0 instance= device=:0 "
                                             "listen=0:0 traffic=0 end= routing=0");
        QList<QPair<QString, QString>> cases{
                {"", plain},
                {"--help", "help"},
                {"-v --headless", "version"},
                {"--headless --instance lab_1-B --device 127.000.0.1:10500 --listen 127.0.0.1:1 "
                 "--log-traffic --device-line-end lf --reply-routing",
                 "run headless=1 platform=0 instance=lab_1-B device=127.0.0.1:10500 "
                 "listen=1127.0.0.1:1 traffic=1 end=LF routing=1"},
                {"--listen 65535", QString(plain).replace("listen=0:0", "listen=1:65535")},
                {"--listen [::1]:7000", QString(plain).replace("listen=0:0", "listen=1::1:7000")},
                {"--device-line-end CRLF", QString(plain).replace("end=", "end=CRLF")},
                {"-platform offscreen", QString(plain).replace("platform=0", "platform=1")},
                {"--instance " + QString(32, 'n'),
                 QString(plain).replace("instance=", "instance=" + QString(32, 'n'))}};
        for (const QString bad :
             {"--bogus", "stray", "--instance", "--instance nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn",
              "--instance a.b", "--device 127.0.0.1:10499", "--device 127.0.0.1",
              "--device 127.0.0.1:65536", "--device 300.0.0.1:10500", "--listen 0",
              "--listen 65536", "--listen x:10500", "--listen 127.0.0.1:", "--device-line-end cr"})
            cases.append({bad, "fail"});
        for (const auto &c : cases) {
            const CommandLine line = parseCommandLine(
                    QStringList{"vqgateway"} + c.first.split(QLatin1Char(' '), Qt::SkipEmptyParts));
            QString seen = QStringList{"run", "help", "version", "fail"}.at(line.action);
            if (line.action == CommandLine::Run)
                seen += QStringLiteral(" headless=%1 platform=%2 instance=%3 device=%4:%5 "
                                       "listen=%6%7:%8 traffic=%9")
                                .arg(line.headless)
                                .arg(line.platformNamed)
                                .arg(line.instance, line.deviceAddress)
                                .arg(line.devicePort)
                                .arg(line.listenGiven)
                                .arg(line.listenAddress)
                                .arg(line.listenPort)
                                .arg(line.logTraffic)
                        + QStringLiteral(" end=%1 routing=%2")
                                  .arg(line.deviceLineEnd)
                                  .arg(line.replyRouting);
            QCOMPARE(c.first + " -> " + seen, c.first + " -> " + c.second);
            QCOMPARE(line.error.isEmpty(), line.action != CommandLine::Fail);
        }
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
