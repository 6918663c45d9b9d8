#include "VqLog/rotationstrategy.h"

#include "VqLog/stderrreport.h"

#include <QFile>

namespace VqLog {

QString backupName(const QString &fileName, int index)
{
    return fileName + QStringLiteral(".%1").arg(index);
}

RotationStrategy::~RotationStrategy() = default;

void SizeRotationStrategy::initFromFile(const QFile &file)
{
    fileName = file.fileName();
    currentSizeInBytes = file.size();
}

void SizeRotationStrategy::countMessage(const QString &message)
{
    currentSizeInBytes += message.toUtf8().size();
}

void SizeRotationStrategy::countEncodedMessage(const QString &, qint64 utf8Size)
{
    currentSizeInBytes += utf8Size;
}

bool SizeRotationStrategy::rotationDue()
{
    return currentSizeInBytes > maxSizeInBytes;
}

void SizeRotationStrategy::setMaxSizeBytes(qint64 size)
{
    maxSizeInBytes = size;
}

void SizeRotationStrategy::setBackupCount(int backups)
{
    backupsCount = qMin(backups, MaxBackups);
}

void SizeRotationStrategy::rotate()
{
    if (backupsCount == 0) {
        if (!QFile::remove(fileName))
            reportToStderr(QStringLiteral("VqLog: backup delete failed ") + fileName);
        return;
    }

    // Only the unbroken run of backups from .1 upwards moves; the search stops at the first gap.
    int last = 0;
    for (int i = 1; i <= backupsCount; ++i) {
        if (!QFile::exists(backupName(fileName, i)))
            break;
        last = qMin(i, backupsCount - 1);
    }
    for (int i = last; i >= 1; --i) {
        const QString older = backupName(fileName, i + 1);
        const QString newer = backupName(fileName, i);
        QFile::remove(older);
        if (!QFile::rename(newer, older))
            reportToStderr(QStringLiteral("VqLog: could not rename backup ") + newer
                           + QStringLiteral(" to ") + older);
    }

    const QString first = backupName(fileName, 1);
    if (QFile::exists(first))
        QFile::remove(first);
    if (!QFile::rename(fileName, first))
        reportToStderr(QStringLiteral("VqLog: could not rename log ") + fileName
                       + QStringLiteral(" to ") + first);
}

}
