#pragma once

#include <QString>

#include <memory>

class QLockFile;
class QSharedMemory;

namespace Platform {

// The scope in which one instance may run: the user on Linux; empty on Windows, whose
// session-local objects already keep users apart.
QString currentUserScope();
// Where the user's running instances keep their lock files and sockets: the same in every session
// of the user, with or without a runtime directory (su, cron, ssh), so that a guard taken in one
// holds in all of them. Made for the user alone; empty, with an error line that says why, when it
// is there already but others may use it. On Windows the base of the channel's pipe names.
QString instanceDirectory(QString *error = nullptr);

}

// Lets one process at a time hold a name within a scope: on Windows a named shared-memory
// segment, elsewhere a lock file in the instance directory, which only the user can write to, so
// that no other user can take the name first, and a crashed holder never blocks the next start.
class InstanceGuard
{
public:
    explicit InstanceGuard(const QString &key, const QString &scope = Platform::currentUserScope());
    ~InstanceGuard();

    // True when this process now holds the guard.
    bool tryLock();
    // Why the guard cannot be taken at all, when it is not for another instance.
    QString error() const { return problem; }

private:
    QString problem;
#ifdef Q_OS_WIN
    std::unique_ptr<QSharedMemory> sharedMemory;
#else
    std::unique_ptr<QLockFile> instanceLock;
#endif
};
