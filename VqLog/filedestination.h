#pragma once

#include "VqLog/rotationstrategy.h"
#include "VqLog/vqlog.h"

#include <QFile>

namespace VqLog {

enum LogRotation { RotationOff = 0, RotationBySize = 1 };

class FileDestination : public Destination
{
public:
    FileDestination(const QString &filePath, RotationStrategyPtr rotationStrategy);

    void write(const QString &message, Level level) override;
    void writeUtf8(const QString &message, const QByteArray &utf8, Level level) override;
    bool isValid() override;

private:
    bool openFile();

    QFile file;
    RotationStrategyPtr rotationStrategy;
};

DestinationPtr createFileDestination(const QString &filePath, LogRotation rotation,
                                     const qint64 &maxSizeBytes, const int &backupCount);

}
