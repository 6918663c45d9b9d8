#include "platform/instanceguard.h"
#include "tests/testsupport.h"

#include <QTest>

#include <unistd.h>

#include <memory>

class TestInstanceGuard : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDir> dir;

private slots:
    void initTestCase() { dir.reset(new TestDir); }
    void cleanup() { dir->noteResult(); }

    void oneInstancePerUser()
    {
        const QString key = QStringLiteral("vqgateway-guard-test");
        InstanceGuard first(key, QStringLiteral("1000"));
        InstanceGuard otherUser(key, QStringLiteral("1001"));
        InstanceGuard sameUser(key, QStringLiteral("1000"));
        QVERIFY(first.tryLock());
        QVERIFY(otherUser.tryLock());
        QVERIFY(!sameUser.tryLock());
        QVERIFY(Platform::currentUserScope() == QString::number(getuid()));
    }
};

QTEST_GUILESS_MAIN(TestInstanceGuard)
#include "tst_instanceguard.moc"
