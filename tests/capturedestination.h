#pragma once

#include "VqLog/vqlog.h"

#include <QStringList>

#include <mutex>

// Keeps every line the logger hands it, for tests that check what was logged.
class CaptureDestination : public VqLog::Destination
{
public:
    void write(const QString &message, VqLog::Level) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        captured.append(message);
    }
    bool isValid() override { return true; }

    QStringList lines() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return captured;
    }
    // The message part of every line: what follows the level text and the timestamp.
    QStringList messages() const
    {
        QStringList result;
        for (const QString &line : lines())
            result.append(line.mid(30));
        return result;
    }
    bool contains(const QString &message) const { return messages().contains(message); }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        captured.clear();
    }

private:
    mutable std::mutex mutex;
    QStringList captured;
};
