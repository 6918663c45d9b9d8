#include "VqLog/debugoutputdestination.h"

#include "platform/debugoutput.h"

namespace VqLog {

DebugOutputDestination::DebugOutputDestination(DestinationPtr dropNotice)
    : dropNotice(std::move(dropNotice))
    , journal(Platform::standardErrorIsJournal())
{
}

void DebugOutputDestination::write(const QString &message, Level level)
{
    writeUtf8(message, QByteArray(), level);
}

void DebugOutputDestination::writeUtf8(const QString &message, const QByteArray &utf8, Level level)
{
    // Called with the logger's lock held, so the notice goes straight to its destination.
    if (Platform::writeDebugOutputLine(message, journal ? journalLine(level, message) : utf8)
        || dropNoted)
        return;
    dropNoted = true;
    if (dropNotice)
        dropNotice->write(formatLine(Error,
                                     QStringLiteral("Standard error output is full: log lines it "
                                                    "cannot take at once are left out of it ")),
                          Error);
}

DestinationPtr createDebugOutputDestination(DestinationPtr dropNotice)
{
    return DestinationPtr(new DebugOutputDestination(std::move(dropNotice)));
}

}
