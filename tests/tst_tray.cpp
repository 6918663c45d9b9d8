#include "gateway/gatewaysettings.h"
#include "tests/testsupport.h"
#include "ui/mainwindow.h"

#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QSystemTrayIcon>

// Runs on a real X display: with a tray host when VQ_EXPECT_TRAY is 1, without one otherwise.
class TestTray : public QObject
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
        QCOMPARE(tray() != nullptr, expectTray);
        if (!expectTray && QByteArray(QTest::currentTestFunction()).startsWith("tray"))
            QSKIP("needs a tray host");
    }
    void cleanup()
    {
        dir.noteResult();
        window.reset();
    }

    // Each entry does its own thing, in this order; Quit ends the program, as the hidden
    // File menu's Quit does.
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
        for (QAction *quit : {actions.at(4), window->findChild<QAction *>(QStringLiteral("actionQuit"))}) {
            window->hide();
            QTimer::singleShot(0, quit, &QAction::trigger);
            QCOMPARE(execBounded(), 0);
        }
    }

    // A close hides the window in the tray; the notice comes once, then never again, not even
    // at the next start.
    void trayCloseHidesWithTheNoticeOnce()
    {
        MessageBoxCatcher boxes;
        for (int start = 0; start < 2; ++start) {
            window.reset(new MainWindow);
            for (int close = 0; close < 2; ++close) {
                showWindow();
                QVERIFY(!window->close() && !window->isVisible());
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
        emit tray()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!window->isVisible());
    }

    // Starting minimised hides the window only where a tray can bring it back.
    void startMinimized()
    {
        for (bool minimized : {false, true}) {
            GatewaySettings().setStartMinimized(minimized);
            window.reset(new MainWindow);
            window->showAtStart();
            QCOMPARE(window->isVisible(), !minimized || !expectTray);
        }
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
            QVERIFY2(clock.elapsed() >= 45 && clock.elapsed() < 400, qPrintable(QString::number(clock.elapsed())));
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
