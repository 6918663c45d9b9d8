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

#ifdef Q_OS_WIN

InstanceGuard::InstanceGuard(const QString &key, const QString &scope)
    : sharedMemory(
            std::make_unique<QSharedMemory>(scope.isEmpty() ? key : key + QLatin1Char('-') + scope))
{
}

InstanceGuard::~InstanceGuard()
{
    if (sharedMemory->isAttached())
        sharedMemory->detach();
}

bool InstanceGuard::tryLock()
{
    if (sharedMemory->attach(QSharedMemory::ReadOnly)) {
        sharedMemory->detach();
        return false;
    }
    return sharedMemory->create(1, QSharedMemory::ReadWrite);
}

#else

InstanceGuard::InstanceGuard(const QString &key, const QString &scope)
{
    // The runtime directory belongs to the user alone; without one, the user's own data
    // directory stands in, never the shared temporary directory.
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(dir);
    const QString name = scope.isEmpty() ? key : key + QLatin1Char('-') + scope;
    instanceLock = std::make_unique<QLockFile>(
            QDir(dir).filePath(QStringLiteral("vqgateway-%1.lock").arg(name)));
    // A running instance never goes stale by age, only when its process is gone.
    instanceLock->setStaleLockTime(0);
}

InstanceGuard::~InstanceGuard() = default;

bool InstanceGuard::tryLock()
{
    return instanceLock->tryLock(0);
}

#endif
