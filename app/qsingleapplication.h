#pragma once

#include <QApplication>

#include <memory>

class InstanceGuard;

// The program's application object with a guard that lets one instance run at a time.
class QSingleApplication : public QApplication
{
    Q_OBJECT

public:
    // guardKey names what only one process may hold; named instances each have their own.
    QSingleApplication(int &argc, char **argv, const QString &guardKey);
    ~QSingleApplication() override;

    // True when this process now holds the guard and may run.
    bool lock();
    // Why the guard cannot be taken at all; empty when another instance holds it.
    QString lockError() const;

private:
    std::unique_ptr<InstanceGuard> guard;
};
