#include "platform/autostart.h"
#include "platform/instanceguard.h"
#include "platform/osname.h"
#include "tests/testsupport.h"

#include <unistd.h>

class TestPlatform : public QObject
{
    Q_OBJECT

    TestDir dir;

private slots:
    void cleanup() { dir.noteResult(); }

    // Any path survives the Exec key's quoting; removing a missing entry is no error.
    void autostartEntry() {
        const QList<QPair<QString, QString>> paths{{"/opt/VQ Gateway/vqgateway", "\"/opt/VQ Gateway/vqgateway\""},
                                                   {"/a\"b$c`d", "\"/a\\\\\"b\\\\$c\\\\`d\""},
                                                   {"/a\\b", "\"/a\\\\\\\\b\""},
                                                   {"/100%/x", "\"/100%%/x\""}};
        for (const auto &path : paths)
            QVERIFY2(Platform::autostartEntry(path.first).contains("\nExec=" + path.second + "\n"), qPrintable(path.first));
        const QString entry = Platform::autostartEntryPath();
        QCOMPARE(entry, dir.filePath(QStringLiteral("config/autostart/VQGateway.desktop")));
        Platform::setRunAtLogin(false, paths.first().first);
        QVERIFY(!QFile::exists(entry));
        Platform::setRunAtLogin(true, paths.first().first);
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.startsWith("[Desktop Entry]\n") && text.contains("\nType=Application\n"));
        QVERIFY(text.contains("\nExec=\"/opt/VQ Gateway/vqgateway\"\n"));
        Platform::setRunAtLogin(false, QString());
        QVERIFY(!QFile::exists(entry));
    }
    void oneInstancePerUser() {
        const QString key = QStringLiteral("vqgateway-guard-test");
        InstanceGuard first(key, QStringLiteral("1000")), otherUser(key, QStringLiteral("1001")), sameUser(key, QStringLiteral("1000"));
        QVERIFY(first.tryLock() && otherUser.tryLock() && !sameUser.tryLock());
        QCOMPARE(Platform::currentUserScope(), QString::number(getuid()));
    }
    void windowsVersionNames() {
        QStringList names;
        for (int value : {0x0030, 0x0090, 0x00a0, 0x00b0, 0x00c0, 0x00d0})
            names.append(Platform::windowsVersionName(value));
        QCOMPARE(names, (QStringList{"Windows XP", "Windows 7", "Windows 8", "Windows 8.1", "Windows 10", "Unknown Windows operating system."}));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
