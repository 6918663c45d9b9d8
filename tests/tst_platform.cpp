#include "platform/autostart.h"
#include "platform/instanceguard.h"
#include "tests/testsupport.h"

#include <QSharedMemory>

#include <sys/stat.h>

// What the program keeps in the user's own places: its autostart entry and its guard.
class TestPlatform : public QObject
{
    Q_OBJECT

    TestDir dir;

private slots:
    void cleanup() { dir.noteResult(); }
    // Any path survives the Exec key's quoting; a named instance starts as itself.
    void autostartEntry()
    {
        const QList<QPair<QString, QString>> paths{
                {"/opt/VQ Gateway/vqgateway", "\"/opt/VQ Gateway/vqgateway\""},
                {"/a\"b$c`d", "\"/a\\\\\"b\\\\$c\\\\`d\""},
                {"/a\\b", "\"/a\\\\\\\\b\""},
                {"/100%/x", "\"/100%%/x\""},
                {"/a\nExec=b\r", "\"/a\\nExec=b\\r\""},
                {"/x|lab1", "\"/x\" --instance lab1"}};
        for (const auto &path : paths) {
            const QString text = Platform::autostartEntry(path.first.section('|', 0, 0),
                                                          path.first.section('|', 1));
            QVERIFY2(text.startsWith("[Desktop Entry]\n") && text.contains("\nType=Application\n"),
                     qPrintable(text));
            QVERIFY2(text.contains("\nExec=" + path.second + "\n"), qPrintable(path.first));
        }
        // Removing a missing entry is no error.
        QVERIFY(Platform::setRunAtLogin(false, paths.first().first, QString()));
        QVERIFY(!QFile::exists(Platform::autostartEntryPath(QString())));
    }
    void oneInstancePerUser()
    {
        const QString key = QStringLiteral("vqgateway-guard-test");
        InstanceGuard first(key, QStringLiteral("1000")), otherUser(key, QStringLiteral("1001")),
                sameUser(key, QStringLiteral("1000"));
        QVERIFY(first.tryLock() && otherUser.tryLock() && !sameUser.tryLock());
        // What anybody can create beforehand, such as the shared-memory segment an earlier guard
        // used, stops no start.
        QSharedMemory planted(key + QLatin1String("-1002"));
        QVERIFY(planted.create(1));
        QVERIFY(InstanceGuard(key, QStringLiteral("1002")).tryLock());
        QCOMPARE(Platform::currentUserScope(), QString::number(getuid()));
        // Another session's runtime directory leads to the same guard.
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
        QVERIFY(!InstanceGuard(key, QStringLiteral("1000")).tryLock());
        // A directory that others may use, or that another user made, is never used.
        const QString instances = dir.filePath(QStringLiteral("home/.local/state/vqgateway"));
        const QByteArray path = QFile::encodeName(instances);
        QVERIFY(chmod(path.constData(), 0701) == 0);
        InstanceGuard opened(key, QStringLiteral("1004"));
        QVERIFY(!opened.tryLock());
        QCOMPARE(opened.error(),
                 "Refusing the instance directory " + instances
                         + ": open to other users (mode 0701)");
        if (getuid() == 0 && chmod(path.constData(), 0700) == 0
            && chown(path.constData(), 1, 1) == 0)
            QVERIFY(InstanceGuard(key, QStringLiteral("1004"))
                            .error()
                            .endsWith(": owned by user 1"));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
