#include "platform/instanceguard.h"

#include <QDir>
#include <QLockFile>
#include <QSharedMemory>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace Platform {

QString currentUserScope()
{
#ifdef Q_OS_WIN
    return QString();
#else
    return QString::number(::getuid());
#endif
}

}

namespace {

QString lockFilePath(const QString &name)
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return QDir(dir).filePath(QStringLiteral("vqgateway-%1.lock").arg(name));
}

}

InstanceGuard::InstanceGuard(const QString &key, const QString &scope)
{
    const QString name = scope.isEmpty() ? key : key + QLatin1Char('-') + scope;
    sharedMemory = std::make_unique<QSharedMemory>(name);
    instanceLock = std::make_unique<QLockFile>(lockFilePath(name));
    // A running instance never goes stale by age, only when its process is gone.
    instanceLock->setStaleLockTime(0);
}

InstanceGuard::~InstanceGuard()
{
    if (sharedMemory->isAttached())
        sharedMemory->detach();
}

bool InstanceGuard::tryLock()
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
