#pragma once

#include "VqLog/vqlog.h"

namespace VqLog {

class DebugOutputDestination : public Destination
{
public:
    void write(const QString &message, Level level) override;
    bool isValid() override { return true; }
};

DestinationPtr createDebugOutputDestination();

}
