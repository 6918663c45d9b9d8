#include "VqLog/vqlog.h"
#include "gateway/gatewaysettings.h"
#include "platform/autostart.h"
#include "tests/testsupport.h"
#include "tests/messageboxes.h"
#include "ui/mainwindow.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <memory>

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDir> dir;
    std::unique_ptr<MainWindow> window;

    template <typename T = QWidget>
    T *child(const char *name) const
    {
        T *widget = window->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    QString text(const char *name) const { return child(name)->property("text").toString(); }
    // What a status row shows: its text, its colour, the button's text and whether it and the
    // fields can be used.
    QString row(const char *status, const char *button, const char *field) const
    {
        return QStringLiteral("%1 %2 %3 %4%5").arg(text(status), child<QLabel>(status)->palette().color(QPalette::WindowText).name(),
                                                  text(button)).arg(child(button)->isEnabled()).arg(child(field)->isEnabled());
    }
    void show(const char *slot, int state, const QString &info)
    {
        if (QByteArray(slot).contains("Device"))
            QMetaObject::invokeMethod(window.get(), slot, Q_ARG(VQDEVICE_STATUS, VQDEVICE_STATUS(state)), Q_ARG(QString, info));
        else
            QMetaObject::invokeMethod(window.get(), slot, Q_ARG(VQSERVER_STATUS, VQSERVER_STATUS(state)), Q_ARG(QString, info));
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

    void everyLabelTextFits()
    {
        window->show();
        show("onServerStateChanged", VQSERVER_STARTED, QStringLiteral("Started - Connections 5/5"));
        for (QLabel *label : window->findChildren<QLabel *>()) {
            if (label->text().isEmpty() || label->text().contains('<'))
                continue;
            const int needed = label->fontMetrics().horizontalAdvance(label->text());
            QVERIFY2(needed <= label->contentsRect().width(),
                     qPrintable(QStringLiteral("%1 needs %2 px, has %3").arg(label->text()).arg(needed).arg(label->contentsRect().width())));
        }
    }

    void statusRows_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("shown");
        QTest::newRow("connecting") << QByteArray("onDeviceConnectionStateChanged") << 0 << "info #ffffff Disconnect 00";
        QTest::newRow("connected") << QByteArray("onDeviceConnectionStateChanged") << 1 << "info #00ff00 Disconnect 10";
        QTest::newRow("device error") << QByteArray("onDeviceConnectionStateChanged") << 2 << "info #ff0000 Connect 11";
        QTest::newRow("disconnected") << QByteArray("onDeviceConnectionStateChanged") << 3 << "info #ffffff Connect 11";
        QTest::newRow("idle") << QByteArray("onServerStateChanged") << 0 << "info #ffffff Start 11";
        QTest::newRow("started") << QByteArray("onServerStateChanged") << 1 << "info #00ff00 Stop 10";
        QTest::newRow("server error") << QByteArray("onServerStateChanged") << 2 << "info #ff0000 Start 11";
    }
    void statusRows()
    {
        QFETCH(QByteArray, slot);
        QFETCH(int, state);
        QFETCH(QString, shown);
        const bool device = slot.contains("Device");
        const char *status = device ? "deviceStatus" : "serverStatus";
        const char *button = device ? "btnConnect" : "btnListen";
        const char *field = device ? "ipAddress" : "portLocal";
        // Each state is entered from the busiest one; a value outside the table changes the text only.
        show(slot, device ? int(VQDEVICE_CONNECTING) : int(VQSERVER_STARTED), QStringLiteral("before"));
        show(slot, state, QStringLiteral("info"));
        QCOMPARE(row(status, button, field), shown);
        if (device)
            QCOMPARE(child("port")->isEnabled(), child(field)->isEnabled());
        show(slot, 9, QStringLiteral("odd"));
        QCOMPARE(row(status, button, field), QString(shown).replace(0, 4, QStringLiteral("odd")));
    }

    void editsAreStoredAtOnce_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("port") << QByteArray("port") << "12345" << "Port" << QVariant(12345u);
        QTest::newRow("port letters") << QByteArray("port") << "abc" << "Port" << QVariant(0u);
        QTest::newRow("local port") << QByteArray("portLocal") << "23456" << "PortLocal" << QVariant(23456u);
        QTest::newRow("address") << QByteArray("ipAddress") << "127.0.0.2" << "IpAddress" << QVariant("127.0.0.2");
        QTest::newRow("address emptied") << QByteArray("ipAddress") << "" << "IpAddress" << QVariant("...");
    }
    void editsAreStoredAtOnce()
    {
        QFETCH(QByteArray, field);
        QFETCH(QString, typed);
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        auto *edit = child<QLineEdit>(field.constData());
        edit->clear();
        QTest::keyClicks(edit, typed);
        QCOMPARE(GatewaySettings().value(key).toString(), stored.toString());
    }

    void optionsAreStoredAtOnce_data()
    {
        QTest::addColumn<QByteArray>("box");
        QTest::addColumn<QString>("key");
        for (const char *box : {"checkAutoconnect", "checkStartMinimized", "checkLog"})
            QTest::newRow(box) << QByteArray(box) << QString::fromLatin1(box).mid(5).replace("Log", "LogTraffic");
    }
    void optionsAreStoredAtOnce()
    {
        QFETCH(QByteArray, box);
        QFETCH(QString, key);
        const QStringList keys{"Autoconnect", "StartMinimized", "LogTraffic"};
        child<QCheckBox>(box.constData())->setChecked(true);
        for (const QString &k : keys)
            QCOMPARE(GatewaySettings().value(k, false).toBool(), k == key);
        QCOMPARE(child("btnViewLogFile")->isEnabled(), key == QLatin1String("LogTraffic"));
        child<QCheckBox>(box.constData())->setChecked(false);
        QVERIFY(!GatewaySettings().value(key).toBool());
        QVERIFY(!child("btnViewLogFile")->isEnabled());
    }

    void loadingWritesNothingBack()
    {
        window.reset();
        GatewaySettings settings;
        settings.setValue(QStringLiteral("Port"), QStringLiteral("abc"));
        settings.setLogTraffic(true);
        window.reset(new MainWindow);
        QCOMPARE(text("port"), QStringLiteral("0"));
        QCOMPARE(settings.value(QStringLiteral("Port")), QVariant(QStringLiteral("abc")));
        QVERIFY(child<QCheckBox>("checkLog")->isChecked() && child("btnViewLogFile")->isEnabled());
        QVERIFY(!child<QCheckBox>("checkAutoconnect")->isChecked());
    }

    void buttonsDriveTheGateway()
    {
        auto *port = child<QLineEdit>("port");
        port->clear();
        QTest::keyClicks(port, QStringLiteral("abc"));
        QTest::mouseClick(child<QPushButton>("btnConnect"), Qt::LeftButton);
        QTRY_COMPARE(text("deviceStatus"), QStringLiteral("Empty IP address or invalid port number!"));
        FakeDevice device;
        port->setText(QString::number(device.port()));
        QTest::mouseClick(child<QPushButton>("btnConnect"), Qt::LeftButton);
        QTRY_COMPARE(text("deviceStatus"), QStringLiteral("Connected"));
        QTest::mouseClick(child<QPushButton>("btnConnect"), Qt::LeftButton);
        QTRY_COMPARE(text("deviceStatus"), QStringLiteral("Disconnected"));

        child<QLineEdit>("portLocal")->setText(QString::number(freeLoopbackPort()));
        QTest::mouseClick(child<QPushButton>("btnListen"), Qt::LeftButton);
        QTRY_COMPARE(text("serverStatus"), QStringLiteral("Started - Connections 0/5"));
        QTest::mouseClick(child<QPushButton>("btnListen"), Qt::LeftButton);
        QTRY_COMPARE(text("serverStatus"), QStringLiteral("Idle"));
    }

    void viewLogOpensTheLogFile()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        child<QCheckBox>("checkLog")->setChecked(true);
        QTest::mouseClick(child<QPushButton>("btnViewLogFile"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
                                                               + QStringLiteral("/VQGateway_Log.txt"))});
    }

    void levelKeys_data()
    {
        QTest::addColumn<QByteArray>("field");
        for (const char *field : {"", "ipAddress", "port", "portLocal"})
            QTest::newRow(*field ? field : "window") << QByteArray(field);
    }
    void levelKeys()
    {
        QFETCH(QByteArray, field);
        QWidget *target = field.isEmpty() ? window.get() : child(field.constData());
        const QString before = target->property("text").toString();
        MessageBoxCatcher boxes;
        QTest::keySequence(target, QKeySequence(Qt::CTRL | Qt::Key_T));
        QCOMPARE(boxes.texts, QStringList{QStringLiteral("  Detailed Trace Level now enabled!   ")});
        QCOMPARE(GatewaySettings().loggingLevel() * 10 + VqLog::Logger::instance().loggingLevel(), 0 * 10 + VqLog::Trace);
        QTest::keySequence(target, QKeySequence(Qt::CTRL | Qt::Key_N));
        QCOMPARE(boxes.texts.value(1), QStringLiteral("  Normal Trace Level now enabled!   "));
        QCOMPARE(GatewaySettings().loggingLevel() * 10 + VqLog::Logger::instance().loggingLevel(), 1 * 10 + VqLog::Info);
        QCOMPARE(target->property("text").toString(), before);
        VqLog::Logger::instance().setLoggingLevel(VqLog::Off);
    }

    void closeWithoutTrayEndsTheWindow()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        MessageBoxCatcher boxes;
        QVERIFY(window->close());
        QVERIFY(!window->isVisible() && boxes.texts.isEmpty() && !GatewaySettings().noTrayWarning());
    }

    void startAtLoginWritesAndRemovesTheEntry()
    {
        const QString entry = Platform::autostartEntryPath();
        QVERIFY(entry.startsWith(dir->path()));
        child<QCheckBox>("checkStartAutoAtLogin")->setChecked(true);
        QVERIFY(GatewaySettings().startAtLogin());
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("\nExec=\"" + QFile::encodeName(QCoreApplication::applicationFilePath()) + "\"\n"));
        child<QCheckBox>("checkStartAutoAtLogin")->setChecked(false);
        QVERIFY(!GatewaySettings().startAtLogin() && !QFile::exists(entry));
        // A start with the option stored on does not write the entry.
        GatewaySettings().setStartAtLogin(true);
        window.reset(new MainWindow);
        QVERIFY(child<QCheckBox>("checkStartAutoAtLogin")->isChecked() && !QFile::exists(entry));
    }

    // The check at start, the next start's, then the user's own, against a loopback server.
    void updateCheck_data()
    {
        QTest::addColumn<QByteArray>("inside");
        QTest::addColumn<QString>("atStart");
        QTest::addColumn<QString>("userCheck");
        const QString newer = QStringLiteral("VQ Gateway v01.02.00 is available on Velquor website. Please click "
                                             "<a href='http://127.0.0.1/get'>here</a> for more information.");
        QTest::newRow("newer") << QByteArray("<Id>1004</Id><Version>01.02.00</Version><Url>http://127.0.0.1/get</Url>") << newer << newer;
        QTest::newRow("same") << QByteArray("<Id>1004</Id><Version>01.01.01</Version>") << "" << "  Your software is up to date.   ";
        QTest::newRow("foreign id") << QByteArray("<Id>1005</Id><Version>09.00.00</Version>") << "" << "";
        QTest::newRow("oversized") << "<Id>1004</Id><Version>09</Version><Pad>" + QByteArray(70000, 'x') + "</Pad>" << "" << "";
    }
    void updateCheck()
    {
        QFETCH(QByteArray, inside);
        QFETCH(QString, atStart);
        QFETCH(QString, userCheck);
        FakeUpdateServer server;
        server.setBody("<?xml version=\"1.0\"?><Product>" + inside + "</Product>");
        qputenv("VQGATEWAY_UPDATE_URL", server.documentUrl().toUtf8());
        MessageBoxCatcher boxes;
        for (const QString &expected : {atStart, QString()}) {
            window.reset(new MainWindow);
            QSignalSpy handled(window->findChild<QNetworkAccessManager *>(), &QNetworkAccessManager::finished);
            QVERIFY(handled.wait(10000));
            QCOMPARE(boxes.texts, expected.isEmpty() ? QStringList() : QStringList{expected});
            boxes.texts.clear();
        }
        QSignalSpy handled(window->findChild<QNetworkAccessManager *>(), &QNetworkAccessManager::finished);
        QMetaObject::invokeMethod(window.get(), "onCheckForUpdates");
        QVERIFY(window->isVisible());
        QVERIFY(handled.wait(10000));
        QCOMPARE(boxes.texts, userCheck.isEmpty() ? QStringList() : QStringList{userCheck});
        QCOMPARE(server.requests(), 3);
        qputenv("VQGATEWAY_UPDATE_URL", "http://127.0.0.1:9/none.xml");
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
