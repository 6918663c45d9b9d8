#pragma once

#include "VqLog/vqlog.h"

namespace VqLog {

// Copies every line to the debugger, or to the standard error stream where there is none. A
// line the stream cannot take at once is dropped from it; the first drop is noted once in
// dropNotice (the log file), which keeps every line. Lines for the journal carry their
// priority instead of a time.
class DebugOutputDestination : public Destination
{
public:
    explicit DebugOutputDestination(DestinationPtr dropNotice = DestinationPtr());
    void write(const QString &message, Level level) override;
    void writeUtf8(const QString &message, const QByteArray &utf8, Level level) override;
    bool isValid() override { return true; }

private:
    DestinationPtr dropNotice;
    bool dropNoted = false;
    const bool journal;
};

DestinationPtr createDebugOutputDestination(DestinationPtr dropNotice = DestinationPtr());

}
