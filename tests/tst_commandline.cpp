#include "app/commandline.h"

#include <QTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    // "command line -> what it asks for": the action, the switches, the instance and every
    // setting it overrides for this run, checked and normalised; pure checks, no address here
    // reaches a socket.
    void parse()
    {
        QStringList cases{
                " -> run", "--help -> help", "-v --headless -> version",
                "--status --instance lab1 --json -> status json instance=lab1",
                "--json --all --status -> status json all",
                "--headless --instance lab_1-B --device 127.000.0.1:10500 --listen 127.0.0.1:1 "
                "--log-traffic --device-line-end lf --reply-routing -> run headless "
                "instance=lab_1-B DeviceLineEnd=LF IpAddress=127.0.0.1 ListenAddress=127.0.0.1 "
                "LogTraffic=true Port=10500 PortLocal=1 ReplyRouting=true SerialPort=",
                "--listen 65535 -> run ListenAddress= PortLocal=65535",
                "--device [::1]:10600 -> run IpAddress=::1 Port=10600 SerialPort=",
                "--device meter.lab:5025 -> run IpAddress=meter.lab Port=5025 SerialPort=",
                "--device /dev/serial/by-id/usb-1 --serial 9600,7e2,RTSCTS -> run "
                "SerialPort=/dev/serial/by-id/usb-1 SerialSettings=9600,7E2,rtscts",
                "--listen [::1]:7000 -> run ListenAddress=::1 PortLocal=7000",
                "--device-line-end CRLF -platform offscreen -> run platform DeviceLineEnd=CRLF",
                // A reply rule or pattern switches routing on; a pattern asks for its rule.
                "--reply-end Query -> run ReplyEnd=query ReplyRouting=true",
                "--when-device-down CLOSE --device-notices -> run DeviceNotices=true "
                "WhenDeviceDown=close",
                "--reply-end-pattern ^(OK|ERROR.*)$ -> run ReplyEnd=pattern "
                "ReplyEndPattern=^(OK|ERROR.*)$ ReplyRouting=true",
                "--listen 010.0.0.1:7000 --observe 127.0.0.1:7000 --metrics 7001 -> run "
                "ListenAddress=10.0.0.1 MetricsListen=7001 ObserverListen=127.0.0.1:7000 "
                "PortLocal=7000",
                "--listen [::]:7000 --observe 127.0.0.1:7000 -> run ListenAddress=:: "
                "ObserverListen=127.0.0.1:7000 PortLocal=7000",
                "--check-config --instance lab1 --allow ::/0 -> check instance=lab1 "
                "AllowedClients=::/0",
                "--observe 7000 --metrics [::1]:9100 --allow 127.0.0.1,192.0.2.0/24 -> run "
                "AllowedClients=127.0.0.1,192.0.2.0/24 MetricsListen=[::1]:9100 "
                "ObserverListen=7000",
                "--instance " + QString(32, 'n') + " -> run instance=" + QString(32, 'n'),
                "--hold 0 --lock-command :LOCK --unlock-command :UNLOCK --event-pattern ^RING -> "
                "run EventPattern=^RING HoldMs=0 LockCommand=:LOCK UnlockCommand=:UNLOCK",
                "--hold 600000 -> run HoldMs=600000"};
        for (const QString &bad : QStringList{
                     "--bogus", "stray", "--json", "--instance", "--instance " + QString(33, 'n'),
                     "--instance a.b", "--device 127.0.0.1:0", "--device ::1:10600",
                     "--device [meter.lab]:5025", "--device meter_1.lab:5025", "--device 127.0.0.1",
                     "--device 127.0.0.1:65536", "--device 127.0.0.1x:20500",
                     "--device 127.0.0.1:+10500", "--listen 0", "--listen 65536",
                     "--listen x:10500", "--listen 127.0.0.1:", "--device-line-end cr",
                     "--reply-end fast", "--reply-end-pattern (", "--when-device-down drop",
                     "--observe 0", "--metrics x:1", "--allow 300.1.1.1",
                     // Shorthand is no address, here or anywhere.
                     "--allow 192.0.2.1,/0", "--allow 10", "--allow 192.168.1",
                     "--allow 192.168.1.", "--allow 127.1", "--allow ,", "--listen 127.1:7000",
                     "--observe 0x7f.0.0.1:7000",
                     // Options that cannot work together.
                     "--listen 7000 --observe 7000", "--listen 127.0.0.1:7000 --observe 7000",
                     "--listen 7000 --observe [::1]:7000",
                     "--listen 0.0.0.0:7000 --observe 127.0.0.1:7000",
                     "--observe 7000 --metrics 127.0.0.1:7000", "--listen 7000 --metrics 7000",
                     "--reply-end query --reply-end-pattern ^OK$", "--check-config --status",
                     "--check-config --json", "--all", "--status --all --instance lab1",
                     "-platform", "--headless -platform --instance x", "--hold -1", "--hold 600001",
                     "--hold 1s", "--hold +5", "--lock-command", "--event-pattern [",
                     "--lock-command :L --unlock-command :L", "--serial 115200,8X1",
                     "--device 127.0.0.1:1 --serial 9600,8N1"})
            cases.append(bad + " -> fail");
        for (const QString &c : cases) {
            const QString input = c.section(QStringLiteral(" -> "), 0, 0);
            const CommandLine line = parseCommandLine(
                    QStringList{"vqgateway"} + input.split(QLatin1Char(' '), Qt::SkipEmptyParts));
            QString seen = QStringList{"run", "help", "version", "status", "check", "fail"}.at(
                    line.action);
            seen += QLatin1String(line.headless ? " headless" : "")
                    + QLatin1String(line.platformNamed ? " platform" : "")
                    + QLatin1String(line.json ? " json" : "")
                    + QLatin1String(line.all ? " all" : "");
            if (!line.instance.isEmpty() && line.action != CommandLine::Fail)
                seen += QStringLiteral(" instance=") + line.instance;
            for (auto it = line.overrides.cbegin(); it != line.overrides.cend(); ++it)
                seen += QLatin1Char(' ') + it.key() + QLatin1Char('=') + it.value().toString();
            QCOMPARE(input + " -> " + (line.action == CommandLine::Fail ? "fail" : seen), c);
            QCOMPARE(line.error.isEmpty(), line.action != CommandLine::Fail);
        }
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
