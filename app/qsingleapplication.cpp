#include "app/qsingleapplication.h"

#include <QDir>
#include <QLockFile>
#include <QSharedMemory>
#include <QStandardPaths>

namespace {

const QString instanceKey = QStringLiteral("6c62e725-7d5a-4464-8f29-425316ac48e8");

QString lockFilePath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return QDir(dir).filePath(QStringLiteral("vqgateway-%1.lock").arg(instanceKey));
}

}

QSingleApplication::QSingleApplication(int &argc, char **argv)
    : QApplication(argc, argv)
    , sharedMemory(new QSharedMemory(instanceKey, this))
    , instanceLock(new QLockFile(lockFilePath()))
{
    // A running instance never goes stale by age, only when its process is gone.
    instanceLock->setStaleLockTime(0);
}

QSingleApplication::~QSingleApplication()
{
    if (sharedMemory->isAttached())
        sharedMemory->detach();
    delete instanceLock;
}

bool QSingleApplication::lock()
{
    if (!instanceLock->tryLock(0))
        return false;
    if (sharedMemory->attach(QSharedMemory::ReadOnly)) {
        // Nobody holds the lock file, so no instance runs: the segment was left by one that
        // crashed. Detaching as its last user removes it.
        sharedMemory->detach();
    }
    return sharedMemory->create(1, QSharedMemory::ReadWrite);
}
