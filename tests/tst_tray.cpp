#include "gateway/gatewaysettings.h"
#include "tests/testsupport.h"
#include "ui/mainwindow.h"

#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

#include <memory>

// Runs on a real X display: with a tray host when VQ_EXPECT_TRAY is 1, without one otherwise.
class TestTray : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDir> dir;
    std::unique_ptr<MainWindow> window;
    bool expectTray = false;

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

private slots:
    void initTestCase()
    {
        dir.reset(new TestDir);
        VqLog::Logger::instance().setLoggingLevel(VqLog::Off);
        expectTray = qgetenv("VQ_EXPECT_TRAY") == "1";
        if (expectTray)
            QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 15000);
        else
            QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    }
    void init()
    {
        TestDir::resetSettings();
        window.reset(new MainWindow);
        if (expectTray != (tray() != nullptr))
            QFAIL("the tray icon does not follow the tray's presence");
        if (!expectTray && QByteArray(QTest::currentTestFunction()).startsWith("tray"))
            QSKIP("needs a tray host");
    }
    void cleanup()
    {
        dir->noteResult();
        window.reset();
    }

    // Each menu entry does its own thing: the menu is in this order, and Quit ends the program.
    void trayMenu()
    {
        QVERIFY(tray()->isVisible() && !tray()->icon().availableSizes().isEmpty());
        const QList<QAction *> actions = tray()->contextMenu()->actions();
        QStringList texts;
        for (QAction *action : actions)
            texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(texts, (QStringList{"Show/Hide", "Check for Updates...", "About...", "-", "Quit"}));
        QSignalSpy updateChecks(window->findChild<QNetworkAccessManager *>(), &QNetworkAccessManager::finished);
        QTRY_COMPARE(updateChecks.size(), 1); // the check at start
        showWindow();
        actions.at(0)->trigger();
        QVERIFY(!window->isVisible());
        actions.at(1)->trigger();
        QVERIFY(window->isVisible());
        QTRY_COMPARE(updateChecks.size(), 2);
        QString dialogShown;
        QTimer::singleShot(200, window.get(), [&dialogShown] {
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (auto *dialog = qobject_cast<QDialog *>(widget); dialog && dialog->isVisible()) {
                    dialogShown = QString::fromLatin1(dialog->metaObject()->className());
                    dialog->reject();
                }
        });
        actions.at(2)->trigger();
        QCOMPARE(dialogShown, QStringLiteral("About"));
        QCOMPARE(updateChecks.size(), 2);
        window->hide();
        QTimer::singleShot(0, actions.at(4), &QAction::trigger);
        QCOMPARE(execBounded(), 0);
    }

    void trayCloseHidesWithTheNoticeOnce()
    {
        MessageBoxCatcher boxes;
        for (int start = 0; start < 2; ++start) {
            window.reset(new MainWindow);
            for (int close = 0; close < 2; ++close) {
                showWindow();
                QVERIFY(!window->close());
                QVERIFY(!window->isVisible());
            }
        }
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(boxes.texts.first().startsWith(QLatin1String("The program will keep running in the system tray.")));
        QVERIFY(GatewaySettings().noTrayWarning());
    }

    void trayDoubleClickShows()
    {
        emit tray()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(!window->isVisible());
        emit tray()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(window->isVisible() && !window->isMinimized());
    }

    void startMinimizedOnlyWithATray()
    {
        GatewaySettings().setStartMinimized(true);
        window.reset(new MainWindow);
        window->showAtStart();
        QCOMPARE(window->isVisible(), !expectTray);
    }

    // With a tray a minimised window hides there after 50 ms; without one it stays in the task bar.
    void minimiseHidesInTheTray()
    {
        showWindow();
        QElapsedTimer clock;
        clock.start();
        window->showMinimized();
        if (expectTray) {
            QTRY_VERIFY(!window->isVisible());
            QVERIFY2(clock.elapsed() >= 45, qPrintable(QString::number(clock.elapsed())));
        } else {
            QTRY_VERIFY(window->isMinimized());
            QTest::qWait(200);
            QVERIFY(window->isVisible());
        }
    }

    void closeWithoutTrayEndsTheProgram()
    {
        if (expectTray)
            QSKIP("runs without a tray host");
        showWindow();
        MessageBoxCatcher boxes;
        QTimer::singleShot(0, window.get(), &QWidget::close);
        QCOMPARE(execBounded(), 0);
        QVERIFY(!window->isVisible() && boxes.texts.isEmpty());
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
