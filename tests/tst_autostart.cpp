#include "platform/autostart.h"
#include "tests/testsupport.h"

#include <QFile>
#include <QTest>

#include <memory>

class TestAutostart : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDir> dir;

private slots:
    void initTestCase() { dir.reset(new TestDir); }
    void cleanup() { dir->noteResult(); }

    void execQuoting_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/bin/vqgateway" << "\"/usr/bin/vqgateway\"";
        QTest::newRow("blank") << "/opt/VQ Gateway/vqgateway" << "\"/opt/VQ Gateway/vqgateway\"";
        QTest::newRow("quote dollar backtick") << "/a\"b$c`d" << "\"/a\\\\\"b\\\\$c\\\\`d\"";
        QTest::newRow("backslash") << "/a\\b" << "\"/a\\\\\\\\b\"";
        QTest::newRow("percent") << "/100%/x" << "\"/100%%/x\"";
    }

    void execQuoting()
    {
        QFETCH(QString, path);
        QFETCH(QString, exec);
        QCOMPARE(Platform::desktopExecArgument(path), exec);
        QVERIFY(Platform::autostartEntry(path).contains(QStringLiteral("\nExec=") + exec + QLatin1Char('\n')));
    }

    void writtenAndRemoved()
    {
        const QString entry = Platform::autostartEntryPath();
        QCOMPARE(entry, dir->filePath(QStringLiteral("config/autostart/VQGateway.desktop")));
        // Removing a missing entry is no error.
        Platform::setRunAtLogin(false, QStringLiteral("/opt/VQ Gateway/vqgateway"));
        QVERIFY(!QFile::exists(entry));
        Platform::setRunAtLogin(true, QStringLiteral("/opt/VQ Gateway/vqgateway"));
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(text.contains("\nExec=\"/opt/VQ Gateway/vqgateway\"\n"));
        QVERIFY(text.contains("\nType=Application\n"));
        Platform::setRunAtLogin(false, QString());
        QVERIFY(!QFile::exists(entry));
    }
};

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
