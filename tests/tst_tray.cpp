#include "VqLog/vqlog.h"
#include "app/gatewaysettings.h"
#include "tests/messageboxcatcher.h"
#include "tests/testdir.h"
#include "ui/mainwindow.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

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
    QSystemTrayIcon *tray() const { return window->findChild<QSystemTrayIcon *>(); }
    QAction *trayAction(const QString &text) const
    {
        for (QAction *action : tray()->contextMenu()->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }

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
    }

    void cleanup()
    {
        dir->noteResult();
        window.reset();
    }

    void trayMenu()
    {
        if (!expectTray)
            QSKIP("needs a tray host");
        QVERIFY(tray());
        QVERIFY(tray()->isVisible());
        QVERIFY(!tray()->icon().availableSizes().isEmpty());
        QStringList texts;
        for (QAction *action : tray()->contextMenu()->actions())
            texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(texts, (QStringList{"Show/Hide", "Check for Updates...", "About...", "-", "Quit"}));
    }

    void startMinimizedOnlyWithATray()
    {
        GatewaySettings().setStartMinimized(true);
        window.reset(new MainWindow);
        window->showAtStart();
        QCOMPARE(window->isVisible(), !expectTray);
    }

    void closeHidesWithTheNoticeOnce()
    {
        if (!expectTray)
            QSKIP("needs a tray host");
        showWindow();
        MessageBoxCatcher boxes;
        QVERIFY(!window->close());
        QVERIFY(!window->isVisible());
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(boxes.texts.first().startsWith(QLatin1String("The program will keep running in the system tray.")));
        QVERIFY(GatewaySettings().noTrayWarning());

        showWindow();
        QVERIFY(!window->close());
        QVERIFY(!window->isVisible());
        // Also after a restart: the notice is stored.
        window.reset(new MainWindow);
        showWindow();
        QVERIFY(!window->close());
        QCOMPARE(boxes.texts.size(), 1);
    }

    void showHideAndDoubleClick()
    {
        if (!expectTray)
            QSKIP("needs a tray host");
        showWindow();
        trayAction(QStringLiteral("Show/Hide"))->trigger();
        QVERIFY(!window->isVisible());
        emit tray()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(!window->isVisible());
        emit tray()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(window->isVisible());
        QVERIFY(!window->isMinimized());
    }

    void minimiseHidesInTheTray()
    {
        showWindow();
        window->showMinimized();
        if (expectTray) {
            QTRY_VERIFY(!window->isVisible());
        } else {
            // Nothing could show a hidden window again: it stays minimised.
            QTRY_VERIFY(window->isMinimized());
            QTest::qWait(200);
            QVERIFY(window->isVisible());
        }
    }

    void quitEndsTheEventLoopWithZero()
    {
        if (!expectTray)
            QSKIP("needs a tray host");
        showWindow();
        window->hide();
        QTimer::singleShot(0, trayAction(QStringLiteral("Quit")), &QAction::trigger);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!window->isVisible());
    }

    void closeWithoutTrayEndsTheProgram()
    {
        if (expectTray)
            QSKIP("runs without a tray host");
        QVERIFY(!tray());
        showWindow();
        MessageBoxCatcher boxes;
        QTimer::singleShot(0, window.get(), &QWidget::close);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!window->isVisible());
        QVERIFY(boxes.texts.isEmpty());
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
