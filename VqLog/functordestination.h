#pragma once

#include "VqLog/vqlog.h"

#include <QObject>

// Lets a meta-object cast of a functor destination to "VqLog::Destination" reach that base.
Q_DECLARE_INTERFACE(VqLog::Destination, "VqLog.Destination")

namespace VqLog {

using LogFunction = void (*)(const QString &message, Level level);

class FunctorDestination : public QObject, public Destination
{
    Q_OBJECT
    Q_INTERFACES(VqLog::Destination)

public:
    explicit FunctorDestination(LogFunction function);
    FunctorDestination(QObject *receiver, const char *member);

    void write(const QString &message, Level level) override;
    bool isValid() override { return true; }

signals:
    void logMessageReady(const QString &message, int level);

private:
    LogFunction logFunction = nullptr;
};

DestinationPtr createFunctorDestination(LogFunction f);
DestinationPtr createFunctorDestination(QObject *receiver, const char *member);

}
