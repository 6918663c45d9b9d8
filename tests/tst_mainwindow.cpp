#include "VqLog/vqlog.h"
#include "app/gatewaysettings.h"
#include "gateway/gatewaymanager.h"
#include "tests/testdir.h"
#include "ui/mainwindow.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include <memory>

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

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
        GatewaySettings settings;
        settings.clear();
        // Nothing here may reach the default device address.
        settings.setIpAddress(QStringLiteral("127.0.0.1"));
        window.reset(new MainWindow);
    }

    void cleanup()
    {
        dir->noteResult();
        window.reset();
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
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
