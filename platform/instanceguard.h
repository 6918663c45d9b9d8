#pragma once

#include <QString>

#include <memory>

class QLockFile;
class QSharedMemory;

namespace Platform {

// The scope in which one instance may run: the user on Linux; empty on Windows, whose
// session-local objects already keep users apart.
QString currentUserScope();

}

// Lets one process at a time hold a name within a scope: on Windows a named shared-memory
// segment, elsewhere a lock file in a directory that only the user can write to, so that no
// other user can take the name first, and a crashed holder never blocks the next start.
class InstanceGuard
{
public:
    explicit InstanceGuard(const QString &key, const QString &scope = Platform::currentUserScope());
    ~InstanceGuard();

    // True when this process now holds the guard.
    bool tryLock();

private:
#ifdef Q_OS_WIN
    std::unique_ptr<QSharedMemory> sharedMemory;
#else
    std::unique_ptr<QLockFile> instanceLock;
#endif
};
