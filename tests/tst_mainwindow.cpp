#include "gateway/gatewaysettings.h"
#include "platform/autostart.h"
#include "platform/licencedirectory.h"
#include "tests/testsupport.h"
#include "ui/localaddresses.h"
#include "ui/mainwindow.h"
#include "ui/updatecheck.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QToolTip>

struct UpdateCase
{
    const char *name;
    QByteArray answer;
    QString atStart, userCheck;
};
Q_DECLARE_METATYPE(UpdateCase)

// Counts the quits the application is asked for.
class QuitCounter : public QObject
{
public:
    QuitCounter() { QCoreApplication::instance()->installEventFilter(this); }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        quits += watched == QCoreApplication::instance() && event->type() == QEvent::Quit;
        return false;
    }
    int quits = 0;
};

// Runs on a real X display: with a tray host when VQ_EXPECT_TRAY is 1, without one otherwise.
class TestMainWindow : public QObject
{
    Q_OBJECT

    TestDir dir;
    std::unique_ptr<MainWindow> window;
    const bool expectTray = qgetenv("VQ_EXPECT_TRAY") == "1";

    void showWindow()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    // The event loop as the program runs it, ended with 99 when nothing else ends it in time.
    static int execBounded()
    {
        QTimer watchdog;
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(5000);
        return QApplication::exec();
    }
    QSystemTrayIcon *tray() const { return window->findChild<QSystemTrayIcon *>(); }
    static QByteArray ok(const QByteArray &body, const QByteArray &headers = "")
    {
        return "HTTP/1.0 200 OK\r\n" + headers
                + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    }
    static QByteArray doc(const QByteArray &inside)
    {
        return "<?xml version=\"1.0\"?><Product>" + inside + "</Product>";
    }
    static QString failed(const QString &why)
    {
        return "The check for updates failed: " + why + '.';
    }

    template<typename T = QWidget>
    T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QString text(const char *name) const { return child(name)->property("text").toString(); }
    void click(const char *button)
    {
        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
    }
    void show(bool device, int state, const QString &info)
    {
        if (device)
            QMetaObject::invokeMethod(window.get(), "onDeviceConnectionStateChanged",
                                      Q_ARG(VQDEVICE_STATUS, VQDEVICE_STATUS(state)),
                                      Q_ARG(QString, info));
        else
            QMetaObject::invokeMethod(window.get(), "onServerStateChanged",
                                      Q_ARG(VQSERVER_STATUS, VQSERVER_STATUS(state)),
                                      Q_ARG(QString, info));
    }
    static QVariantMap store()
    {
        QVariantMap values;
        for (const QString &key : GatewaySettings().allKeys())
            values.insert(key, GatewaySettings().value(key).toString());
        return values;
    }

private slots:
    void initTestCase()
    {
        VqLog::Logger::instance().setLoggingLevel(VqLog::Off);
        QTRY_COMPARE_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), expectTray, 15000);
    }
    void init()
    {
        TestDir::resetSettings();
        window.reset(new MainWindow);
        if (!expectTray && QByteArray(QTest::currentTestFunction()).startsWith("tray"))
            QSKIP("needs a tray host");
    }
    void cleanup() { dir.noteResult(), window.reset(); }
    // "side state -> colour, button, whether button and fields can be used", the text being the
    // info given. Each state is entered from the busiest one; one outside the table changes the
    // text only.
    void statusRows_data()
    {
        QTest::addColumn<QString>("row");
        for (const char *row :
             {"device 0 -> #ffffff Disconnect 00", "device 1 -> #00ff00 Disconnect 10",
              "device 2 -> #ff0000 Connect 11", "device 3 -> #ffffff Connect 11",
              "server 0 -> #ffffff Start 11", "server 1 -> #00ff00 Stop 10",
              "server 2 -> #ff0000 Start 11"})
            QTest::newRow(row) << QString::fromLatin1(row);
    }
    void statusRows()
    {
        QFETCH(QString, row);
        const bool device = row.startsWith(QLatin1String("device"));
        const char *status = device ? "deviceStatus" : "serverStatus",
                   *button = device ? "btnConnect" : "btnListen";
        const char *field = device ? "ipAddress" : "portLocal";
        show(device, device ? 0 : 1, QStringLiteral("before"));
        for (const QString &info : {QStringLiteral("info"), QStringLiteral("odd")}) {
            show(device, info == QLatin1String("odd") ? 9 : row.section(' ', 1, 1).toInt(), info);
            QCOMPARE(QStringLiteral("%1 %2 %3 %4%5")
                             .arg(text(status),
                                  child<QLabel>(status)
                                          ->palette()
                                          .color(QPalette::WindowText)
                                          .name(),
                                  text(button))
                             .arg(child(button)->isEnabled())
                             .arg(child(field)->isEnabled()),
                     info + ' ' + row.section(" -> ", 1));
            QCOMPARE(child("port")->isEnabled(), child("ipAddress")->isEnabled());
        }
    }
    // Every edit is stored at once under its own key, and touches no other: "field typed ->
    // keys stored" or "box [instance] -> keys stored", the address being 127.0.0.1 unless typed.
    void editsAreStoredAtOnce_data()
    {
        QTest::addColumn<QString>("edit");
        for (const char *edit :
             {"port 12345 -> Port=12345", "port 1o6x -> Port=16", "port 65536 -> Port=6553",
              "portLocal 23456 -> PortLocal=23456", "portLocal 99999 -> PortLocal=9999",
              "ipAddress 127.0.0.2 -> IpAddress=127.0.0.2", "ipAddress  -> IpAddress=...",
              "checkAutoconnect -> Autoconnect=true", "checkStartMinimized -> StartMinimized=true",
              "checkLog -> LogTraffic=true", "checkStartAutoAtLogin -> StartAtLogin=true",
              "checkLog lab1 -> LogTraffic=true",
              "checkStartAutoAtLogin lab1 -> StartAtLogin=true"})
            QTest::newRow(edit) << QString::fromLatin1(edit);
    }
    void editsAreStoredAtOnce()
    {
        QFETCH(QString, edit);
        const QStringList input = edit.section(" ->", 0, 0).split(' ');
        const QByteArray widget = input.at(0).toLatin1();
        QVariantMap stored{{QStringLiteral("IpAddress"), QStringLiteral("127.0.0.1")}};
        for (const QString &pair : edit.section("-> ", 1).split(' ', Qt::SkipEmptyParts))
            stored.insert(pair.section('=', 0, 0), pair.section('=', 1));
        const QString instance = widget.startsWith("check") ? input.value(1) : QString();
        const QString named = instance.isEmpty() ? QString() : QStringLiteral("-") + instance;
        // Another instance's entry, which this one leaves alone.
        QFile other(dir.filePath(QStringLiteral("config/autostart/VQGateway.desktop")));
        const auto unnamed = qScopeGuard([&other] {
            GatewaySettings::setInstanceName(QString());
            other.remove();
        });
        if (!instance.isEmpty()) {
            GatewaySettings::setInstanceName(instance);
            TestDir::resetSettings();
            window.reset(new MainWindow);
            QVERIFY(QDir().mkpath(dir.filePath("config/autostart"))
                    && other.open(QIODevice::WriteOnly));
        }
        QCOMPARE(window->windowTitle(),
                 QStringLiteral("VQ Gateway") + (instance.isEmpty() ? "" : " - " + instance));
        QCOMPARE(tray()->toolTip(), window->windowTitle());
        auto *box = window->findChild<QCheckBox *>(QLatin1String(widget));
        if (box) {
            box->setChecked(true);
        } else {
            child<QLineEdit>(widget)->clear();
            QTest::keyClicks(child(widget), input.value(1));
        }
        QCOMPARE(store(), stored);
        QCOMPARE(child("btnViewLogFile")->isEnabled(),
                 stored.contains(QStringLiteral("LogTraffic")));
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        click("btnViewLogFile");
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        const QString log = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
                + "/VQGateway" + named + "_Log.txt";
        QCOMPARE(catcher.urls,
                 stored.contains(QStringLiteral("LogTraffic"))
                         ? QList<QUrl>{QUrl::fromLocalFile(log)}
                         : QList<QUrl>());
        QFile entry(dir.filePath("config/autostart/VQGateway" + named + ".desktop"));
        QCOMPARE(entry.exists(), stored.contains(QStringLiteral("StartAtLogin")));
        QVERIFY(!entry.exists()
                || (entry.open(QIODevice::ReadOnly)
                    && entry.readAll().contains(
                            "\nExec=\"" + QFile::encodeName(QCoreApplication::applicationFilePath())
                            + "\""
                            + (instance.isEmpty() ? "" : " --instance " + instance.toLatin1())
                            + "\n")));
        if (!box)
            return;
        box->setChecked(false);
        QVariantMap off = stored;
        for (auto it = off.begin(); it != off.end(); ++it)
            it.value()
                    = it.key() == QLatin1String("IpAddress") ? it.value() : QStringLiteral("false");
        QCOMPARE(store(), off);
        QVERIFY(!child("btnViewLogFile")->isEnabled() && !entry.exists());
        QCOMPARE(other.exists(), !instance.isEmpty());
    }
    // Nothing is written back at start, not even the autostart entry of an option stored on.
    void loadingWritesNothingBack()
    {
        window.reset();
        GatewaySettings settings;
        settings.setValue(QStringLiteral("Port"), QStringLiteral("abc"));
        settings.setLogTraffic(true);
        settings.setStartAtLogin(true);
        const QVariantMap before = store();
        window.reset(new MainWindow);
        QCOMPARE(text("port"), QStringLiteral("0"));
        QCOMPARE(store(), before);
        QVERIFY(child<QCheckBox>("checkLog")->isChecked() && child("btnViewLogFile")->isEnabled());
        QVERIFY(child<QCheckBox>("checkStartAutoAtLogin")->isChecked()
                && !child<QCheckBox>("checkAutoconnect")->isChecked());
        QVERIFY(!QFile::exists(Platform::autostartEntryPath(QString())));
    }
    // Serial chosen: its fields in the place of the address and port, stored as edited, and
    // Connect opens the port typed in.
    void serialDevice()
    {
        PseudoTerminal terminal;
        child<QRadioButton>("radioSerial")->setChecked(true);
        QVERIFY(!child("serialPort")->isHidden() && child("ipAddress")->isHidden());
        child<QComboBox>("serialPort")->setEditText(terminal.path);
        child<QLineEdit>("serialSettings")->setText(QStringLiteral("9600,8N2"));
        QCOMPARE(GatewaySettings().serialPort(), terminal.path);
        QCOMPARE(GatewaySettings().serialSettings(), QStringLiteral("9600,8N2"));
        click("btnConnect");
        QTRY_COMPARE(text("deviceStatus"), QStringLiteral("Connected"));
        QVERIFY(!child("radioNetwork")->isEnabled());
        click("btnConnect");
        QTRY_COMPARE(text("deviceStatus"), QStringLiteral("Disconnected"));
        child<QRadioButton>("radioNetwork")->setChecked(true);
        QVERIFY(GatewaySettings().serialPort().isEmpty() && !child("ipAddress")->isHidden());
    }
    void buttonsDriveTheGateway()
    {
        FakeDevice device;
        child<QLineEdit>("port")->setText(QString::number(device.port()));
        click("btnConnect");
        QTRY_COMPARE(text("deviceStatus"), QStringLiteral("Connected"));
        click("btnConnect");
        QTRY_COMPARE(text("deviceStatus"), QStringLiteral("Disconnected"));
        // A stored host name or IPv6 address is shown as it is, not forced into the IPv4 mask.
        for (const QString stored : {"localhost", "::1"}) {
            FakeDevice named(QHostAddress(stored == "::1" ? stored : "127.0.0.1"));
            GatewaySettings().setIpAddress(stored);
            GatewaySettings().setPort(named.port());
            window.reset(new MainWindow);
            QCOMPARE(text("ipAddress"), stored);
            click("btnConnect");
            QTRY_COMPARE(named.connectionCount(), 1);
        }
        const quint16 port = freeLoopbackPort();
        child<QLineEdit>("portLocal")->setText(QString::number(port));
        click("btnListen");
        QTRY_COMPARE(text("serverStatus"), QStringLiteral("Started - Connections 0/5"));
        // The server's status shows the clients, as they are, when the pointer rests on it.
        FakeClient client(port);
        QTRY_COMPARE(text("serverStatus"), QStringLiteral("Started - Connections 1/5"));
        QWidget *status = child("serverStatus");
        QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), status->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(status, &hover);
        QVERIFY2(QToolTip::text().contains(
                         QStringLiteral("\n1       127.0.0.1:%1  ").arg(client.localPort())),
                 qPrintable(QToolTip::text()));
        click("btnListen");
        QTRY_COMPARE(text("serverStatus"), QStringLiteral("Idle"));
    }
    // Ctrl+T and Ctrl+N switch the level, in the window and in each field, and type nothing.
    void levelKeys()
    {
        for (const char *field : {"", "ipAddress", "port", "portLocal"}) {
            QWidget *target = *field ? child(field) : window.get();
            const QString before = target->property("text").toString();
            MessageBoxCatcher boxes;
            QTest::keySequence(target, QKeySequence(Qt::CTRL | Qt::Key_T));
            QCOMPARE(GatewaySettings().loggingLevel() * 10
                             + VqLog::Logger::instance().loggingLevel(),
                     0 * 10 + VqLog::Trace);
            QTest::keySequence(target, QKeySequence(Qt::CTRL | Qt::Key_N));
            QCOMPARE(GatewaySettings().loggingLevel() * 10
                             + VqLog::Logger::instance().loggingLevel(),
                     1 * 10 + VqLog::Info);
            QCOMPARE(boxes.texts,
                     (QStringList{"  Detailed Trace Level now enabled!   ",
                                  "  Normal Trace Level now enabled!   "}));
            QCOMPARE(target->property("text").toString(), before);
        }
    }
    // The checks at start, at the next start and the user's; one byte over the size is dropped;
    // a compressed answer is not unpacked. Only the user's check says what went wrong.
    void updateCheck_data()
    {
        const QString newer = QStringLiteral(
                "VQ Gateway v01.02.00 is available on Velquor website. Please click "
                "<a href='http://127.0.0.1/get'>here</a> for more information.");
        const QByteArray offer
                = "<Id>1004</Id><Version>01.02.00</Version><Url>http://127.0.0.1/get</Url>";
        const QByteArray pad(maxUpdateDocumentBytes - doc(offer + "<P></P>").size(), 'x');
        QTest::addColumn<UpdateCase>("row");
        for (const UpdateCase &row : std::initializer_list<UpdateCase>{
                     {"same", ok(doc("<Id>1004</Id><Version>01.01.01</Version>")), "",
                      "  Your software is up to date.   "},
                     {"newer, largest size", ok(doc(offer + "<P>" + pad + "</P>")), newer, newer},
                     {"one byte more", ok(doc(offer + "<P>" + pad + "x</P>")), "",
                      failed("the answer is larger than 64 KiB")},
                     {"compressed",
                      ok(qCompress(doc(offer)).mid(4), "Content-Encoding: deflate\r\n"), "",
                      failed("the answer is not the update document of VQ Gateway")},
                     {"not found", "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n", "",
                      failed("the server answered with HTTP status 404 Not Found")},
                     {"redirect",
                      "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:9/x\r\nContent-Length: "
                      "0\r\n\r\n",
                      "", failed("the server redirects to http://127.0.0.1:9/x")}})
            QTest::newRow(row.name) << row;
    }
    void updateCheck()
    {
        QFETCH(UpdateCase, row);
        FakeDevice server; // answers each request's first line
        server.answer = [&row](const QByteArray &line) {
            return line.startsWith("GET ") ? row.answer : QByteArray();
        };
        qputenv("VQGATEWAY_UPDATE_URL",
                QStringLiteral("http://127.0.0.1:%1/update.xml").arg(server.port()).toUtf8());
        MessageBoxCatcher boxes;
        for (const QString &expected : {row.atStart, QString(), row.userCheck}) {
            if (server.received.count("GET /update.xml ") < 2)
                window.reset(new MainWindow);
            QSignalSpy handled(window->findChild<QNetworkAccessManager *>(),
                               &QNetworkAccessManager::finished);
            if (server.received.count("GET /update.xml ") == 2)
                QMetaObject::invokeMethod(window.get(), "onCheckForUpdates");
            QVERIFY(handled.wait(10000));
            QCOMPARE(boxes.texts, expected.isEmpty() ? QStringList() : QStringList{expected});
            boxes.texts.clear();
        }
        QVERIFY(window->isVisible());
        QCOMPARE(server.received.count("GET /update.xml "), 3);
        qputenv("VQGATEWAY_UPDATE_URL", "http://127.0.0.1:9/none.xml");
    }
    // A start check that hangs leaves the user's own check its answer; each times out by itself.
    void hungStartCheck()
    {
        FakeDevice server;
        server.answer = [&server](const QByteArray &line) {
            return line.startsWith("GET ") && server.received.count("GET ") > 1
                    ? ok(doc("<Id>1004</Id><Version>1.1.1</Version>"))
                    : QByteArray();
        };
        qputenv("VQGATEWAY_UPDATE_URL",
                QStringLiteral("http://127.0.0.1:%1/update.xml").arg(server.port()).toUtf8());
        const auto restore = qScopeGuard(
                [] { qputenv("VQGATEWAY_UPDATE_URL", "http://127.0.0.1:9/none.xml"); });
        window.reset(new MainWindow);
        MessageBoxCatcher boxes;
        QTRY_COMPARE(server.received.count("GET "), 1);
        QCOMPARE(window->findChild<QNetworkReply *>()->request().transferTimeout(), 15000);
        QMetaObject::invokeMethod(window.get(), "onCheckForUpdates");
        QTRY_COMPARE(boxes.texts, QStringList{"  Your software is up to date.   "});
    }
    // At most six IPv4 addresses are shown, link-local ones left out; none reaches a socket.
    void localAddresses()
    {
        const QList<QPair<QString, QString>> cases{
                {"", ""},
                {"::1 fe80::1 169.254.10.20 127.0.0.1", "127.0.0.1"},
                {"169.253.255.255 169.255.0.1", "169.253.255.255, 169.255.0.1"},
                {"127.0.0.1 198.51.100.1 198.51.100.2 203.0.113.3 203.0.113.4 203.0.113.5 "
                 "203.0.113.6",
                 "127.0.0.1, 198.51.100.1, 198.51.100.2, 203.0.113.3, 203.0.113.4, 203.0.113.5"}};
        for (const auto &c : cases) {
            QList<QHostAddress> list;
            for (const QString &text : c.first.split(QLatin1Char(' '), Qt::SkipEmptyParts))
                list.append(QHostAddress(text));
            QCOMPARE(localAddressList(list), c.second);
        }
    }
    // Each entry does its own thing; Quit ends the program, as the hidden File menu's Quit does.
    void trayMenu()
    {
        QVERIFY(tray()->isVisible());
        const QList<QAction *> actions = tray()->contextMenu()->actions();
        QSignalSpy updateChecks(window->findChild<QNetworkAccessManager *>(),
                                &QNetworkAccessManager::finished);
        QTRY_COMPARE(updateChecks.size(), 1); // the check at start
        emit tray()->activated(
                QSystemTrayIcon::Trigger); // a double click shows and hides, one click nothing
        QVERIFY(!window->isVisible());
        emit tray()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(window->isVisible() && !window->isMinimized());
        emit tray()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!window->isVisible());
        showWindow();
        actions.at(0)->trigger();
        QVERIFY(!window->isVisible());
        MessageBoxCatcher boxes;
        actions.at(1)->trigger();
        QVERIFY(window->isVisible());
        QTRY_COMPARE(updateChecks.size(), 2);
        QCOMPARE(boxes.texts, QStringList{failed("Connection refused")});
        // About, from the tray with the window hidden there: a licence link opens a fresh copy of
        // its page in the user's own directory (a link in its place is replaced, what it points to
        // left alone), the Qt in use is named, and closing it ends nothing.
        UrlCatcher opened;
        for (const char *scheme : {"file", "https"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), &opened, "open");
        const QDir copies(Platform::licenceCopyDirectory());
        QFile changed(copies.filePath(QStringLiteral("VQ_EULA.html")));
        QVERIFY(changed.open(QIODevice::WriteOnly) && changed.write("changed") == 7);
        changed.close();
        const QString target = dir.filePath(QStringLiteral("target"));
        QVERIFY(QFile(target).open(QIODevice::WriteOnly)
                && QFile::setPermissions(target, QFile::ReadOwner)
                && QFile::link(target, copies.filePath("lgpl.html")));
        QString shown;
        QTimer::singleShot(200, window.get(), [&shown] {
            QWidget *about = QApplication::activeModalWidget();
            for (const QString link : {"EULA #browse_EULA", "LGPL #browse_LGPL",
                                       "EULA #browse_other", "LGPL https://example.invalid/"})
                emit about->findChild<QLabel *>("label_" + link.section(' ', 0, 0))
                        ->linkActivated(link.section(' ', 1));
            for (const QLabel *label : about->findChildren<QLabel *>())
                shown += label->text() + '\n';
            about->close();
            QTimer::singleShot(0, [] { QCoreApplication::exit(7); });
        });
        window->hide();
        QTimer::singleShot(0, actions.at(2), &QAction::trigger);
        const QuitCounter counter;
        QCOMPARE(execBounded() * 10 + counter.quits, 70);
        const QString qt = QString::fromLatin1(qVersion());
        for (const QString &part :
             QStringList{">Qt" + qt.section('.', 0, 0) + " Library<", ">(LGPL v3)<",
                         "Qt " + qt + " SDK",
                         ">download.qt.io/archive/qt/" + qt.section('.', 0, 1) + "/<"})
            QVERIFY2(shown.contains(part), qPrintable(part));
        QCOMPARE(int(QFile::permissions(target) & 0x7077), 0x4000);
        QCOMPARE(opened.urls,
                 (QList<QUrl>{QUrl::fromLocalFile(changed.fileName()),
                              QUrl::fromLocalFile(copies.filePath("lgpl.html"))}));
        QFile page(QStringLiteral(":/Licenses/VQ_EULA.html"));
        QVERIFY(changed.open(QIODevice::ReadOnly) && page.open(QIODevice::ReadOnly)
                && changed.readAll() == page.readAll());
        QCOMPARE(int(QFile::permissions(copies.path()) & 0x7077), 0x7000);
        QCOMPARE(updateChecks.size(), 2);
        for (QAction *quit :
             {actions.at(4), window->findChild<QAction *>(QStringLiteral("actionQuit"))}) {
            window->hide();
            QTimer::singleShot(0, quit, &QAction::trigger);
            QCOMPARE(execBounded(), 0);
        }
    }
    // With a tray a close hides the window there, with the notice once for good; without one it
    // ends the program, with no notice, also once a tray came and went. A quit the desktop asks for
    // (the session ends) is never held up by the tray.
    void closeHidesInTheTrayOrEnds()
    {
        MessageBoxCatcher boxes;
        showWindow();
        QTimer::singleShot(0, window.get(), [] {
            QEvent quit(QEvent::Quit);
            QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
        });
        QCOMPARE(execBounded(), 0);
        QCOMPARE(boxes.texts, QStringList());
        if (!expectTray) {
            window.reset(new MainWindow);
            showWindow();
            QTimer::singleShot(0, window.get(), &QWidget::close);
            QCOMPARE(execBounded(), 0);
            QVERIFY(!window->isVisible() && boxes.texts.isEmpty()
                    && !GatewaySettings().noTrayWarning());
            // A tray that comes after the start takes the icon, a window started minimised and a
            // closed one; when it goes, the window comes back.
            GatewaySettings().setStartMinimized(true);
            window.reset(new MainWindow);
            window->showAtStart();
            QVERIFY(window->isVisible());
            QProcess trayer;
            trayer.start(QStringLiteral("trayer"),
                         {QStringLiteral("--height"), QStringLiteral("24")});
            QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible() && tray() && tray()->geometry().isValid(),
                                     10000);
            showWindow();
            QVERIFY(!window->close() && !window->isVisible());
            trayer.kill();
            QTRY_VERIFY(window->isVisible());
            QTimer::singleShot(0, window.get(), &QWidget::close);
            QCOMPARE(execBounded(), 0);
            return;
        }
        for (int start = 0; start < 2; ++start) {
            window.reset(new MainWindow);
            for (int close = 0; close < 2; ++close) {
                showWindow();
                QVERIFY(!window->close() && !window->isVisible());
            }
        }
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(boxes.texts.first().startsWith(
                QLatin1String("The program will keep running in the system tray.")));
        QVERIFY(GatewaySettings().noTrayWarning());
    }
    // What cannot be written is said once, in the window and the log; the box is then unticked.
    void writeFailuresAreReported()
    {
        const auto capture = CaptureDestination::install(VqLog::Error);
        const auto quiet
                = qScopeGuard([] { VqLog::Logger::instance().setLoggingLevel(VqLog::Off); });
        MessageBoxCatcher boxes;
        const QString entry = Platform::autostartEntryPath(QString()),
                      store = GatewaySettings().fileName();
        QVERIFY(QDir(QFileInfo(entry).path()).removeRecursively()
                && QFile(QFileInfo(entry).path())
                           .open(QIODevice::WriteOnly)); // a file, not a folder
        child<QCheckBox>("checkStartAutoAtLogin")->setChecked(true);
        QVERIFY(!child<QCheckBox>("checkStartAutoAtLogin")->isChecked()
                && !GatewaySettings().startAtLogin());
        QVERIFY(QFile::remove(store) && QDir().mkdir(store));
        child<QCheckBox>("checkAutoconnect")->click();
        child<QCheckBox>("checkAutoconnect")->click();
        QCOMPARE(boxes.texts.size(), 2);
        QCOMPARE(capture->messages(),
                 (QStringList{"ERROR Could not write the autostart entry \"" + entry + '"',
                              "ERROR Settings cannot be written to \"" + store + '"'}));
        QVERIFY(QDir().rmdir(store) && QFile::remove(QFileInfo(entry).path()));
    }
    // Starting minimised, or minimising, hides the window only where a tray can bring it back:
    // with a tray a minimised window hides there after 50 ms; without one it stays in the task bar.
    void minimiseHidesInTheTray()
    {
        for (bool minimized : {false, true}) {
            GatewaySettings().setStartMinimized(minimized);
            window.reset(new MainWindow);
            window->showAtStart();
            QCOMPARE(window->isVisible(), !minimized || !expectTray);
        }
        showWindow();
        QElapsedTimer clock;
        clock.start();
        window->showMinimized();
        if (expectTray) {
            QTRY_VERIFY(!window->isVisible());
            verifyWithin(clock.elapsed(), 45, 400, "ms until hidden");
        } else {
            QTRY_VERIFY(window->isMinimized());
            QTest::qWait(200);
            QVERIFY(window->isVisible());
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
