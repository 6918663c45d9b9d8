#include "VqLog/filedestination.h"

#include "VqLog/stderrreport.h"
#include "platform/privatefile.h"

namespace VqLog {

FileDestination::FileDestination(const QString &filePath, RotationStrategyPtr strategy)
    : rotationStrategy(std::move(strategy))
{
    file.setFileName(filePath);
    if (!openFile())
        reportToStderr(QStringLiteral("VqLog: could not open log file ") + filePath);
    rotationStrategy->initFromFile(file);
}

bool FileDestination::openFile()
{
    // With "Log traffic" on, the log holds every command: it is the user's alone.
    return Platform::openPrivateFile(
            file, QIODevice::WriteOnly | QIODevice::Text | rotationStrategy->openModeFlag());
}

void FileDestination::write(const QString &message, Level level)
{
    QByteArray utf8 = message.toUtf8();
    utf8.append('\n');
    writeUtf8(message, utf8, level);
}

void FileDestination::writeUtf8(const QString &message, const QByteArray &utf8, Level)
{
    // The line end is not counted.
    rotationStrategy->countEncodedMessage(message, utf8.size() - 1);
    if (rotationStrategy->rotationDue()) {
        file.close();
        rotationStrategy->rotate();
        if (!openFile())
            reportToStderr(QStringLiteral("VqLog: could not reopen log file ") + file.fileName());
        rotationStrategy->initFromFile(file);
    }
    if (!file.isOpen())
        return;
    // Every line reaches the operating system before the statement returns, so a crash loses
    // nothing that was logged.
    file.write(utf8);
    file.flush();
}

bool FileDestination::isValid()
{
    return file.isOpen();
}

DestinationPtr createFileDestination(const QString &filePath, LogRotation rotation,
                                     const qint64 &maxSizeBytes, const int &backupCount)
{
    RotationStrategyPtr strategy;
    if (rotation == RotationBySize) {
        auto *sizeStrategy = new SizeRotationStrategy;
        sizeStrategy->setMaxSizeBytes(maxSizeBytes);
        sizeStrategy->setBackupCount(backupCount);
        strategy.reset(sizeStrategy);
    } else {
        strategy.reset(new NullRotationStrategy);
    }
    return DestinationPtr(new FileDestination(filePath, strategy));
}

}
