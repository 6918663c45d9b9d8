#include "platform/autostart.h"
#include "platform/instanceguard.h"
#include "tests/testsupport.h"

#include <unistd.h>

class TestPlatform : public QObject
{
    Q_OBJECT

    TestDir dir;

private slots:
    void cleanup() { dir.noteResult(); }

    // Any path survives the Exec key's quoting.
    void autostartEntry()
    {
        const QList<QPair<QString, QString>> paths{
                {"/opt/VQ Gateway/vqgateway", "\"/opt/VQ Gateway/vqgateway\""},
                {"/a\"b$c`d", "\"/a\\\\\"b\\\\$c\\\\`d\""},
                {"/a\\b", "\"/a\\\\\\\\b\""},
                {"/100%/x", "\"/100%%/x\""}};
        for (const auto &path : paths) {
            const QString text = Platform::autostartEntry(path.first);
            QVERIFY2(text.startsWith("[Desktop Entry]\n") && text.contains("\nType=Application\n"),
                     qPrintable(text));
            QVERIFY2(text.contains("\nExec=" + path.second + "\n"), qPrintable(path.first));
        }
        Platform::setRunAtLogin(false, paths.first().first); // removing a missing entry is no error
        QVERIFY(!QFile::exists(Platform::autostartEntryPath()));
    }
    void oneInstancePerUser()
    {
        const QString key = QStringLiteral("vqgateway-guard-test");
        InstanceGuard first(key, QStringLiteral("1000")), otherUser(key, QStringLiteral("1001")),
                sameUser(key, QStringLiteral("1000"));
        QVERIFY(first.tryLock() && otherUser.tryLock() && !sameUser.tryLock());
        QCOMPARE(Platform::currentUserScope(), QString::number(getuid()));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
