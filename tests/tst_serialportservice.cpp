#include "gateway/seriallinesettings.h"
#include "gateway/device/serialportservice.h"
#include "gateway/statustext.h"
#include "platform/devicenode.h"
#include "tests/testsupport.h"

#include <QSignalSpy>

#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

class TestSerialPortService : public GatewayTest
{
    Q_OBJECT

    static QByteArray everyByte()
    {
        QByteArray bytes;
        for (int value = 0; value < 256; ++value)
            bytes.append(char(value));
        return bytes + "\r\n";
    }
    static QString lastStatus(const QSignalSpy &spy, int state)
    {
        for (int i = spy.size() - 1; i >= 0; --i)
            if (spy.at(i).at(0).toInt() == state)
                return spy.at(i).at(1).toString();
        return QString();
    }

private slots:
    // "text -> as written again", or "-> !why" for text that is none.
    void lineSettings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        for (const char *c :
             {"115200,8N1 -> 115200,8N1", " 9600 , 7e2 , XonXoff -> 9600,7E2,xonxoff",
              "4000000,5O1,rtscts -> 4000000,5O1,rtscts", "0,8N1 -> !speed", "x,8N1 -> !speed",
              "-9600,8N1 -> !speed", "4000001,8N1 -> !speed", "115200,4N1 -> !data bits",
              "115200,9N1 -> !data bits", "115200,8M1 -> !parity", "115200,8N3 -> !stop bits",
              "115200,8N0 -> !stop bits", "115200,8N1,dsrdtr -> !flow control", "115200 -> !form",
              "115200,8N1,rtscts,x -> !form", "115200,8N1x -> !frame",
              "115200,\u0668N1 -> !data bits", "115200,8N\u0661 -> !stop bits"})
            QTest::newRow(c) << QString::fromUtf8(c).section(" -> ", 0, 0)
                             << QString::fromUtf8(c).section(" -> ", 1);
    }
    void lineSettings()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        SerialLineSettings line;
        QString problem;
        const bool usable = line.parse(text, &problem);
        if (expected.startsWith('!')) {
            QVERIFY2(!usable && problem.contains(expected.mid(1)), qPrintable(problem));
            QCOMPARE(line.text(), QStringLiteral("115200,8N1"));
        } else {
            QVERIFY2(usable, qPrintable(problem));
            QCOMPARE(line.text(), expected);
        }
    }
    // A port that is not there, one in use, and settings that are none: each an error status
    // that says what to do, and no link.
    void failures()
    {
        qRegisterMetaType<TCPCLIENT_STATUS>();
        PseudoTerminal terminal;
        SerialPortService first, second;
        QSignalSpy firstStates(&first, &DeviceLink::connectState);
        QSignalSpy secondStates(&second, &DeviceLink::connectState);
        first.open({{}, 0, terminal.path, QStringLiteral("9600,8N1")});
        QCOMPARE(lastStatus(firstStates, TCPCLIENT_CONNECTED), QStringLiteral("Connected"));
        second.open({{}, 0, terminal.path, QStringLiteral("9600,8N1")});
        QVERIFY2(lastStatus(secondStates, TCPCLIENT_ERROR).contains("is in use by another program"),
                 qPrintable(lastStatus(secondStates, TCPCLIENT_ERROR)));
        QVERIFY(!second.write("*IDN?\r\n"));
        second.open({{}, 0, dir->filePath("ttyNone"), QStringLiteral("9600,8N1")});
        QVERIFY(lastStatus(secondStates, TCPCLIENT_ERROR)
                        .contains("not found: plug the adapter in"));
        QVERIFY(!second.open({{}, 0, terminal.path, QStringLiteral("9600,8N9")}));
        QVERIFY(lastStatus(secondStates, TCPCLIENT_ERROR)
                        .endsWith("\"9600,8N9\" are not usable: the stop bits must be 1 or 2"));
        // Only a group that may read and write the node is named, and never root's (a change
        // of group needs root, as the tests here have).
        QFile node(dir->filePath("ttyGroup"));
        QVERIFY(node.open(QIODevice::WriteOnly));
        const std::tuple<gid_t, mode_t, bool> nodes[]
                = {{20, 0660, true}, {20, 0620, false}, {0, 0660, false}};
        for (const auto &[gid, mode, named] : nodes)
            if (::geteuid() == 0) {
                QVERIFY(::fchown(node.handle(), uid_t(-1), gid) == 0);
                QVERIFY(::fchmod(node.handle(), mode) == 0);
                QCOMPARE(Platform::deviceNodeGroup(node.fileName()),
                         named ? QFileInfo(node.fileName()).group() : QString());
            }
    }
    // Every byte value both ways through the gateway, with the line settings on the port (a
    // pseudo-terminal keeps the speed, stop bits and flow control, but is always 8N).
    void relayAndLineSettings()
    {
        PseudoTerminal terminal;
        createManager();
        startServer();
        manager->connectDevice(
                DeviceTarget{{}, 0, terminal.path, QStringLiteral("9600,8N2,rtscts")});
        QTRY_VERIFY2(manager->isConnectedToDevice(), qPrintable(last("device")));
        const termios applied = terminal.lineSettings();
        QCOMPARE(cfgetospeed(&applied), speed_t(B9600));
        QCOMPARE(applied.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS),
                 tcflag_t(CS8 | CSTOPB | CRTSCTS));
        QCOMPARE(deviceText(manager->status().value("device").toObject()),
                 terminal.path + " 9600,8N2,rtscts");
        manager->connectDevice(DeviceTarget{{}, 0, terminal.path, QStringLiteral("115200,8N1")});
        QTRY_VERIFY2(manager->isConnectedToDevice(), qPrintable(last("device")));
        const termios reopened = terminal.lineSettings();
        QCOMPARE(cfgetospeed(&reopened), speed_t(B115200));
        FakeClient client(port);
        QTRY_VERIFY(client.isConnected());
        client.write(everyByte());
        QTRY_COMPARE(terminal.received(), everyByte());
        terminal.send(everyByte());
        QTRY_COMPARE(client.received, everyByte());
    }
    // Unplugged, an error and a retry every 5 s; plugged in again under the same path, the
    // link comes back by itself and relays.
    void unplugAndReturn()
    {
        auto terminal = std::make_unique<PseudoTerminal>();
        const QString byId = dir->filePath(QStringLiteral("usb-Maker_Meter-if00"));
        QVERIFY(QFile::link(terminal->path, byId));
        GatewaySettings settings;
        settings.setSerialPort(byId);
        settings.setPortLocal(freeLoopbackPort());
        manager.reset(new GatewayManager(nullptr, true));
        QTRY_VERIFY2(manager->isConnectedToDevice(), "the serial link did not come up");
        terminal->unplug();
        QTRY_VERIFY2(!capture->messages()
                              .filter("Serial port " + byId + " lost: the line hung up")
                              .isEmpty(),
                     qPrintable(capture->messages().join('\n')));
        QTRY_VERIFY(!manager->isConnectedToDevice());
        terminal = std::make_unique<PseudoTerminal>();
        QVERIFY(QFile::remove(byId) && QFile::link(terminal->path, byId));
        QTRY_VERIFY_WITH_TIMEOUT(manager->isConnectedToDevice(), 8000);
        FakeClient client(settings.portLocal());
        QTRY_VERIFY(client.isConnected());
        client.write("MEAS?\r\n");
        QTRY_COMPARE(terminal->received(), QByteArray("MEAS?\r\n"));
    }
    // A value that is none is an error line naming the key and why.
    void badSettings()
    {
        GatewaySettings settings;
        settings.setSerialPort(QStringLiteral("/dev/ttyUSB0"));
        settings.setSerialSettings(QStringLiteral("115200,8N1,cts"));
        QCOMPARE(settings.problems(),
                 QStringList("SerialSettings \"115200,8N1,cts\" is not line settings like "
                             "115200,8N1 (the flow control must be rtscts or xonxoff) - using "
                             "none: the device is not connected"));
    }
};

QTEST_GUILESS_MAIN(TestSerialPortService)
#include "tst_serialportservice.moc"
