#include "VqLog/functordestination.h"

namespace VqLog {

FunctorDestination::FunctorDestination(LogFunction function)
    : logFunction(function)
{
}

FunctorDestination::FunctorDestination(QObject *receiver, const char *member)
{
    // Queued, so that the receiver handles the line in its own thread and never under the
    // logger's mutex.
    QObject::connect(this, SIGNAL(logMessageReady(QString, int)), receiver, member,
                     Qt::QueuedConnection);
}

void FunctorDestination::write(const QString &message, Level level)
{
    if (logFunction)
        logFunction(message, level);
    if (level > Trace)
        emit logMessageReady(message, int(level));
}

DestinationPtr createFunctorDestination(LogFunction f)
{
    return DestinationPtr(new FunctorDestination(f));
}

DestinationPtr createFunctorDestination(QObject *receiver, const char *member)
{
    return DestinationPtr(new FunctorDestination(receiver, member));
}

}
