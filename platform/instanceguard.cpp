#include "platform/instanceguard.h"

#include "platform/privatefile.h"

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

QString instanceDirectory(QString *error)
{
#ifdef Q_OS_WIN
    Q_UNUSED(error)
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#else
    // Under the home directory, which every way of logging in sets alike; short, so that a
    // socket's path stays within the system's limit of about a hundred bytes.
    const QString dir = QDir::homePath() + QStringLiteral("/.local/state/vqgateway");
    QString reason;
    if (makePrivateDirectory(dir, &reason))
        return dir;
    if (error)
        *error = QStringLiteral("Refusing the instance directory %1: %2").arg(dir, reason);
    return QString();
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
    const QString dir = Platform::instanceDirectory(&problem);
    if (dir.isEmpty())
        return;
    const QString name = scope.isEmpty() ? key : key + QLatin1Char('-') + scope;
    instanceLock = std::make_unique<QLockFile>(
            QDir(dir).filePath(QStringLiteral("vqgateway-%1.lock").arg(name)));
    // A running instance never goes stale by age, only when its process is gone.
    instanceLock->setStaleLockTime(0);
}

InstanceGuard::~InstanceGuard() = default;

bool InstanceGuard::tryLock()
{
    return instanceLock && instanceLock->tryLock(0);
}

#endif
