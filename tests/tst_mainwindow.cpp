#include "VqLog/vqlog.h"
#include "app/gatewaysettings.h"
#include "gateway/gatewaymanager.h"
#include "platform/autostart.h"
#include "tests/loopback.h"
#include "tests/messageboxcatcher.h"
#include "tests/testdir.h"
#include "tests/urlcatcher.h"
#include "ui/mainwindow.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include <memory>

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDir> dir;
    std::unique_ptr<MainWindow> window;

    template <typename T>
    T *child(const char *name) const
    {
        T *widget = window->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    QColor textColour(const char *name) const
    {
        return child<QLabel>(name)->palette().color(QPalette::WindowText);
    }
    void showDevice(VQDEVICE_STATUS state, const QString &info)
    {
        QMetaObject::invokeMethod(window.get(), "onDeviceConnectionStateChanged", Q_ARG(VQDEVICE_STATUS, state),
                                  Q_ARG(QString, info));
    }
    void showServer(VQSERVER_STATUS state, const QString &info)
    {
        QMetaObject::invokeMethod(window.get(), "onServerStateChanged", Q_ARG(VQSERVER_STATUS, state),
                                  Q_ARG(QString, info));
    }

private slots:
    void initTestCase()
    {
        dir.reset(new TestDir);
        VqLog::Logger::instance().setLoggingLevel(VqLog::Off);
    }

    void init()
    {
        TestDir::resetSettings();
        window.reset(new MainWindow);
    }

    void cleanup()
    {
        dir->noteResult();
        window.reset();
    }

    // With the fonts the set-up installs, no label is cut, the longest status texts included.
    void everyLabelTextFits()
    {
        window->show();
        showServer(VQSERVER_STARTED, QStringLiteral("Started - Connections 5/5"));
        showDevice(VQDEVICE_DISCONNECTED, QStringLiteral("Disconnected"));
        for (QLabel *label : window->findChildren<QLabel *>()) {
            if (label->text().isEmpty() || label->textFormat() == Qt::RichText || label->text().contains('<'))
                continue;
            const int needed = label->fontMetrics().horizontalAdvance(label->text());
            QVERIFY2(needed <= label->contentsRect().width(),
                     qPrintable(QStringLiteral("%1: \"%2\" needs %3 px, has %4").arg(label->objectName(), label->text())
                                    .arg(needed).arg(label->contentsRect().width())));
        }
    }

    void widgets_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        const QList<QPair<const char *, const char *>> rows{
            {"labelTitleServer", "Application Server"}, {"labelPortLocal", "Local Port:"},
            {"btnListen", "Start"}, {"labelServerStatus", "Status:"}, {"serverStatus", "Disconnected"},
            {"labelServerAddresses", "Local IP addresses:"}, {"labelTitleDevice", "Device Connection"},
            {"labelIpAddress", "Remote IP address:"}, {"labelPort", "Remote Port:"}, {"btnConnect", "Connect"},
            {"labelDeviceStatus", "Status:"}, {"deviceStatus", "Disconnected"}, {"labelTitleOptions", "Options"},
            {"checkAutoconnect", "Automatically start the server and connect the device"},
            {"checkStartMinimized", "Start minimized to tray"},
            {"checkStartAutoAtLogin", "Open the application automatically on Startup"},
            {"checkLog", "Log traffic"}, {"btnViewLogFile", "View Logfile"}, {"labelVersion", "Version: 01.01.01"},
            {"portLocal", "10500"}, {"port", "10500"}};
        for (const auto &row : rows)
            QTest::newRow(row.first) << row.first << row.second;
    }

    void widgets()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QWidget *widget = window->findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(widget->property("text").toString(), text);
    }

    void windowShape()
    {
        QCOMPARE(window->size(), QSize(390, 440));
        QCOMPARE(window->minimumSize(), QSize(390, 440));
        QCOMPARE(window->maximumSize(), QSize(390, 440));
        QCOMPARE(window->windowTitle(), QStringLiteral("VQ Gateway"));
        QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window->menuBar()->isHidden());
        QCOMPARE(child<QPushButton>("btnConnect")->geometry(), QRect(263, 183, 115, 26));
        QCOMPARE(child<QPushButton>("btnListen")->geometry(), QRect(263, 34, 115, 26));
        QCOMPARE(child<QLineEdit>("ipAddress")->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(child<QLineEdit>("ipAddress")->inputMask(), QStringLiteral("000.000.000.000;_"));
        QCOMPARE(child<QLabel>("labelTitleServer")->font().pixelSize(), 13);
        QVERIFY(child<QLabel>("labelTitleServer")->font().bold());
        QCOMPARE(child<QLabel>("labelVersion")->font().pixelSize(), 10);
        QCOMPARE(child<QFrame>("frameOptions")->palette().color(QPalette::Window), QColor(237, 134, 55));
        QCOMPARE(window->palette().color(QPalette::Window), QColor(60, 60, 60));
        QVERIFY(!child<QPushButton>("btnViewLogFile")->isEnabled());
        QVERIFY(!child<QLabel>("logoVQ")->pixmap(Qt::ReturnByValue).isNull());
        QCOMPARE(child<QLabel>("logoVQ")->pixmap(Qt::ReturnByValue).size(), QSize(140, 21));
    }

    void deviceStatusRows_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("buttonText");
        QTest::addColumn<bool>("fieldsEnabled");
        QTest::addColumn<bool>("buttonEnabled");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("connecting") << int(VQDEVICE_CONNECTING) << "Disconnect" << false << false << QColor(Qt::white);
        QTest::newRow("connected") << int(VQDEVICE_CONNECTED) << "Disconnect" << false << true << QColor(0, 255, 0);
        QTest::newRow("error") << int(VQDEVICE_ERROR) << "Connect" << true << true << QColor(255, 0, 0);
        QTest::newRow("disconnected") << int(VQDEVICE_DISCONNECTED) << "Connect" << true << true << QColor(Qt::white);
    }

    void deviceStatusRows()
    {
        QFETCH(int, state);
        QFETCH(QString, buttonText);
        QFETCH(bool, fieldsEnabled);
        QFETCH(bool, buttonEnabled);
        QFETCH(QColor, colour);
        // The fields keep the state that connecting gave them when the link comes up.
        showDevice(VQDEVICE_CONNECTING, QStringLiteral("Connecting host..."));
        showDevice(VQDEVICE_STATUS(state), QStringLiteral("info %1").arg(state));
        QCOMPARE(child<QLabel>("deviceStatus")->text(), QStringLiteral("info %1").arg(state));
        QCOMPARE(child<QPushButton>("btnConnect")->text(), buttonText);
        QCOMPARE(child<QPushButton>("btnConnect")->isEnabled(), buttonEnabled);
        QCOMPARE(child<QLineEdit>("ipAddress")->isEnabled(), fieldsEnabled);
        QCOMPARE(child<QLineEdit>("port")->isEnabled(), fieldsEnabled);
        QCOMPARE(textColour("deviceStatus"), colour);

        // A value outside the table only replaces the text.
        showDevice(VQDEVICE_STATUS(9), QStringLiteral("odd"));
        QCOMPARE(child<QLabel>("deviceStatus")->text(), QStringLiteral("odd"));
        QCOMPARE(child<QPushButton>("btnConnect")->text(), buttonText);
        QCOMPARE(textColour("deviceStatus"), colour);
    }

    void serverStatusRows_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("buttonText");
        QTest::addColumn<bool>("portEnabled");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("idle") << int(VQSERVER_IDLE) << "Start" << true << QColor(Qt::white);
        QTest::newRow("started") << int(VQSERVER_STARTED) << "Stop" << false << QColor(0, 255, 0);
        QTest::newRow("error") << int(VQSERVER_ERROR) << "Start" << true << QColor(255, 0, 0);
    }

    void serverStatusRows()
    {
        QFETCH(int, state);
        QFETCH(QString, buttonText);
        QFETCH(bool, portEnabled);
        QFETCH(QColor, colour);
        showServer(VQSERVER_STARTED, QStringLiteral("Started - Connections 0/5"));
        showServer(VQSERVER_STATUS(state), QStringLiteral("info %1").arg(state));
        QCOMPARE(child<QLabel>("serverStatus")->text(), QStringLiteral("info %1").arg(state));
        QCOMPARE(child<QPushButton>("btnListen")->text(), buttonText);
        QVERIFY(child<QPushButton>("btnListen")->isEnabled());
        QCOMPARE(child<QLineEdit>("portLocal")->isEnabled(), portEnabled);
        QCOMPARE(textColour("serverStatus"), colour);
    }

    void fieldsStoreAtOnce_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("port") << "port" << "12345" << "Port" << QVariant(12345u);
        QTest::newRow("port letters") << "port" << "abc" << "Port" << QVariant(0u);
        QTest::newRow("local port") << "portLocal" << "23456" << "PortLocal" << QVariant(23456u);
        QTest::newRow("local port letters") << "portLocal" << "xyz" << "PortLocal" << QVariant(0u);
    }

    void fieldsStoreAtOnce()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        auto *edit = window->findChild<QLineEdit *>(field);
        edit->clear();
        QTest::keyClicks(edit, typed);
        QCOMPARE(GatewaySettings().value(key), stored);
    }

    void addressFieldStoresItsText()
    {
        auto *edit = child<QLineEdit>("ipAddress");
        edit->clear();
        QCOMPARE(GatewaySettings().ipAddress(), QStringLiteral("..."));
        QTest::keyClicks(edit, QStringLiteral("127.0.0.2"));
        QCOMPARE(GatewaySettings().ipAddress(), edit->text());
        QCOMPARE(edit->text(), QStringLiteral("127.0.0.2"));
    }

    void checkBoxesStoreAtOnce()
    {
        child<QCheckBox>("checkAutoconnect")->setChecked(true);
        child<QCheckBox>("checkStartMinimized")->setChecked(true);
        GatewaySettings settings;
        QVERIFY(settings.autoconnect());
        QVERIFY(settings.startMinimized());
        child<QCheckBox>("checkLog")->setChecked(true);
        QVERIFY(settings.logTraffic());
        QVERIFY(child<QPushButton>("btnViewLogFile")->isEnabled());
        child<QCheckBox>("checkLog")->setChecked(false);
        QVERIFY(!settings.logTraffic());
        QVERIFY(!child<QPushButton>("btnViewLogFile")->isEnabled());
    }

    void loadingWritesNothingBack()
    {
        window.reset();
        GatewaySettings settings;
        settings.setValue(QStringLiteral("Port"), QStringLiteral("abc"));
        settings.setLogTraffic(true);
        window.reset(new MainWindow);
        QCOMPARE(child<QLineEdit>("port")->text(), QStringLiteral("0"));
        QCOMPARE(settings.value(QStringLiteral("Port")), QVariant(QStringLiteral("abc")));
        QVERIFY(child<QCheckBox>("checkLog")->isChecked());
        QVERIFY(child<QPushButton>("btnViewLogFile")->isEnabled());
    }

    void connectWithLettersIsRefusedByTheLink()
    {
        auto *port = child<QLineEdit>("port");
        port->clear();
        QTest::keyClicks(port, QStringLiteral("abc"));
        QTest::mouseClick(child<QPushButton>("btnConnect"), Qt::LeftButton);
        QTRY_COMPARE(child<QLabel>("deviceStatus")->text(), QStringLiteral("Empty IP address or invalid port number!"));
        QCOMPARE(textColour("deviceStatus"), QColor(255, 0, 0));
        QCOMPARE(child<QPushButton>("btnConnect")->text(), QStringLiteral("Connect"));
    }

    void startAndStopTheServer()
    {
        auto *portLocal = child<QLineEdit>("portLocal");
        portLocal->clear();
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 free = probe.serverPort();
        probe.close();
        QTest::keyClicks(portLocal, QString::number(free));
        QTest::mouseClick(child<QPushButton>("btnListen"), Qt::LeftButton);
        QTRY_COMPARE(child<QLabel>("serverStatus")->text(), QStringLiteral("Started - Connections 0/5"));
        QVERIFY(!portLocal->isEnabled());
        QTest::mouseClick(child<QPushButton>("btnListen"), Qt::LeftButton);
        QTRY_COMPARE(child<QLabel>("serverStatus")->text(), QStringLiteral("Idle"));
        QCOMPARE(child<QPushButton>("btnListen")->text(), QStringLiteral("Start"));
    }

    void viewLogOpensTheLogFile()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        child<QCheckBox>("checkLog")->setChecked(true);
        QTest::mouseClick(child<QPushButton>("btnViewLogFile"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.urls.size(), 1);
        QCOMPARE(catcher.urls.first().toLocalFile(),
                 QStandardPaths::writableLocation(QStandardPaths::DataLocation) + QStringLiteral("/VQGateway_Log.txt"));
    }

    void levelKeys_data()
    {
        QTest::addColumn<QString>("field");
        QTest::newRow("window") << "";
        QTest::newRow("address field") << "ipAddress";
        QTest::newRow("port field") << "port";
        QTest::newRow("local port field") << "portLocal";
    }

    void levelKeys()
    {
        QFETCH(QString, field);
        QWidget *target = field.isEmpty() ? static_cast<QWidget *>(window.get()) : window->findChild<QWidget *>(field);
        const QString before = field.isEmpty() ? QString() : target->property("text").toString();
        MessageBoxCatcher boxes;
        const QKeySequence detailed = QKeySequence::keyBindings(QKeySequence::AddTab).first();
        QTest::keySequence(target, detailed);
        QCOMPARE(boxes.texts, QStringList{QStringLiteral("  Detailed Trace Level now enabled!   ")});
        QCOMPARE(GatewaySettings().loggingLevel(), 0);
        QCOMPARE(VqLog::Logger::instance().loggingLevel(), VqLog::Trace);

        const QKeySequence normal = QKeySequence::keyBindings(QKeySequence::New).first();
        QTest::keySequence(target, normal);
        QCOMPARE(boxes.texts.last(), QStringLiteral("  Normal Trace Level now enabled!   "));
        QCOMPARE(GatewaySettings().loggingLevel(), 1);
        QCOMPARE(VqLog::Logger::instance().loggingLevel(), VqLog::Info);
        if (!field.isEmpty())
            QCOMPARE(target->property("text").toString(), before);
        VqLog::Logger::instance().setLoggingLevel(VqLog::Off);
    }

    void otherKeysReachTheFields()
    {
        auto *port = child<QLineEdit>("port");
        port->clear();
        QTest::keyClicks(port, QStringLiteral("123"));
        QCOMPARE(port->text(), QStringLiteral("123"));
    }

    void closeWithoutTrayEndsTheWindow()
    {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        MessageBoxCatcher boxes;
        QVERIFY(window->close());
        QVERIFY(!window->isVisible());
        QVERIFY(boxes.texts.isEmpty());
        QVERIFY(!GatewaySettings().noTrayWarning());
    }

    void startAtLoginWritesAndRemovesTheEntry()
    {
        const QString entry = Platform::autostartEntryPath();
        QVERIFY(entry.startsWith(dir->path()));
        QVERIFY(!QFile::exists(entry));
        child<QCheckBox>("checkStartAutoAtLogin")->setChecked(true);
        QVERIFY(GatewaySettings().startAtLogin());
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("\nExec=\"" + QFile::encodeName(QCoreApplication::applicationFilePath()) + "\"\n"));
        file.close();
        child<QCheckBox>("checkStartAutoAtLogin")->setChecked(false);
        QVERIFY(!GatewaySettings().startAtLogin());
        QVERIFY(!QFile::exists(entry));

        // A start with the option stored on does not write the entry.
        GatewaySettings().setStartAtLogin(true);
        window.reset(new MainWindow);
        QVERIFY(child<QCheckBox>("checkStartAutoAtLogin")->isChecked());
        QVERIFY(!QFile::exists(entry));
    }

    void updateCheck_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("atStart");    // the box shown by the check at start, if any
        QTest::addColumn<QString>("userCheck");  // the box shown when the user asks
        QTest::addColumn<QString>("stored");     // LastVersionDisplayed afterwards

        const QString newer = QStringLiteral(
            "VQ Gateway v01.02.00 is available on Velquor website. Please click "
            "<a href='http://127.0.0.1/get'>here</a> for more information.");
        const QString upToDate = QStringLiteral("  Your software is up to date.   ");
        auto doc = [](const QByteArray &inside) { return "<?xml version=\"1.0\"?><Product>" + inside + "</Product>"; };
        QTest::newRow("newer") << doc("<Id>1004</Id><Name>VQ Gateway</Name><Version>01.02.00</Version><Url>http://127.0.0.1/get</Url>")
                               << newer << newer << "01.02.00";
        QTest::newRow("same") << doc("<Id>1004</Id><Version>01.01.01</Version>") << "" << upToDate << "";
        QTest::newRow("1.2 newer") << doc("<Id>1004</Id><Version>1.2</Version><Url>http://127.0.0.1/</Url>")
                                   << "VQ Gateway v1.2 is available on Velquor website. Please click <a href='http://127.0.0.1/'>here</a> for more information."
                                   << "VQ Gateway v1.2 is available on Velquor website. Please click <a href='http://127.0.0.1/'>here</a> for more information."
                                   << "1.2";
        QTest::newRow("01.00.09 older") << doc("<Id>1004</Id><Version>01.00.09</Version>") << "" << upToDate << "";
        QTest::newRow("foreign id") << doc("<Id>1005</Id><Version>09.00.00</Version>") << "" << "" << "";
        QTest::newRow("no version") << doc("<Id>1004</Id><Name>x</Name>") << "" << upToDate << "";
        QTest::newRow("element before id") << doc("<Date>2016</Date><Id>1004</Id><Version>09</Version>") << "" << "" << "";
        QTest::newRow("markup escaped, script no link")
            << doc("<Id>1004</Id><Version>&lt;img src=x&gt;9</Version><Url>javascript:alert(1)</Url>")
            << "VQ Gateway v&lt;img src=x&gt;9 is available on Velquor website. Please click here (javascript:alert(1)) for more information."
            << "VQ Gateway v&lt;img src=x&gt;9 is available on Velquor website. Please click here (javascript:alert(1)) for more information."
            << "<img src=x>9";
        QTest::newRow("oversized body") << doc("<Id>1004</Id><Version>09</Version><Pad>" + QByteArray(70000, 'x') + "</Pad>")
                                        << "" << "" << "";
    }

    void updateCheck()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, atStart);
        QFETCH(QString, userCheck);
        QFETCH(QString, stored);
        FakeUpdateServer server;
        server.setBody(body);
        qputenv("VQGATEWAY_UPDATE_URL", server.documentUrl().toUtf8());
        MessageBoxCatcher boxes;
        window.reset(new MainWindow);
        auto *network = window->findChild<QNetworkAccessManager *>();
        QSignalSpy handled(network, &QNetworkAccessManager::finished);
        QVERIFY(handled.wait(10000));
        QCOMPARE(boxes.texts, atStart.isEmpty() ? QStringList() : QStringList{atStart});
        QCOMPARE(GatewaySettings().lastVersionDisplayed(), stored);

        // The next start says nothing about a version already announced.
        boxes.texts.clear();
        window.reset(new MainWindow);
        QSignalSpy handledAgain(window->findChild<QNetworkAccessManager *>(), &QNetworkAccessManager::finished);
        QVERIFY(handledAgain.wait(10000));
        QCOMPARE(boxes.texts, QStringList());

        // The user's own check always answers, and brings the hidden window to the front.
        QVERIFY(!window->isVisible());
        QMetaObject::invokeMethod(window.get(), "onCheckForUpdates");
        QVERIFY(window->isVisible());
        QVERIFY(handledAgain.wait(10000));
        QCOMPARE(boxes.texts, userCheck.isEmpty() ? QStringList() : QStringList{userCheck});
        QCOMPARE(server.requests(), 3);
        qputenv("VQGATEWAY_UPDATE_URL", "http://127.0.0.1:9/none.xml");
    }

    void updateCheckWithoutServerSaysNothing()
    {
        MessageBoxCatcher boxes;
        QSignalSpy handled(window->findChild<QNetworkAccessManager *>(), &QNetworkAccessManager::finished);
        QVERIFY(handled.wait(10000));
        QMetaObject::invokeMethod(window.get(), "onCheckForUpdates");
        QVERIFY(window->isVisible());
        QVERIFY(handled.wait(10000));
        QVERIFY(boxes.texts.isEmpty());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
