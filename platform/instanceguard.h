#pragma once

#include <QString>

#include <memory>

class QLockFile;
class QSharedMemory;

namespace Platform {

// The scope in which one instance may run: the user on Linux, where shared memory is visible
// machine-wide; empty on Windows, whose session-local objects already keep users apart.
QString currentUserScope();

}

// Lets one process at a time hold a name within a scope.
class InstanceGuard
{
public:
    explicit InstanceGuard(const QString &key, const QString &scope = Platform::currentUserScope());
    ~InstanceGuard();

    // True when this process now holds the guard.
    bool tryLock();

private:
    std::unique_ptr<QSharedMemory> sharedMemory;
    // A shared-memory segment outlives a crashed process on Unix; a lock file knows whether its
    // owner still lives, so it tells a running instance from a leftover segment.
    std::unique_ptr<QLockFile> instanceLock;
};
