#pragma once

#include <QApplication>

class QLockFile;
class QSharedMemory;

// The program's application object with a guard that lets one instance run at a time.
class QSingleApplication : public QApplication
{
    Q_OBJECT

public:
    QSingleApplication(int &argc, char **argv);
    ~QSingleApplication() override;

    // True when this process now holds the guard and may run.
    bool lock();

private:
    QSharedMemory *sharedMemory;
    // A shared-memory segment outlives a crashed process on Unix; a lock file knows whether its
    // owner still lives, so it tells a running instance from a leftover segment.
    QLockFile *instanceLock;
};
