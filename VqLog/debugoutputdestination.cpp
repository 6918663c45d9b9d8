#include "VqLog/debugoutputdestination.h"

#include "platform/debugoutput.h"

namespace VqLog {

void DebugOutputDestination::write(const QString &message, Level)
{
    Platform::writeDebugOutput(message);
    Platform::writeDebugOutput(QStringLiteral("\n"));
}

DestinationPtr createDebugOutputDestination()
{
    return DestinationPtr(new DebugOutputDestination);
}

}
