#pragma once

#include <QIODevice>
#include <QSharedPointer>
#include <QString>

class QFile;

namespace VqLog {

// The name of backup number index of a log file: index 1 is the newest.
QString backupName(const QString &fileName, int index);

class RotationStrategy
{
public:
    virtual ~RotationStrategy();
    virtual void initFromFile(const QFile &file) = 0;
    virtual void countMessage(const QString &message) = 0;
    // The same, for a message whose size in UTF-8 is known already.
    virtual void countEncodedMessage(const QString &message, qint64 utf8Size)
    {
        Q_UNUSED(utf8Size)
        countMessage(message);
    }
    virtual bool rotationDue() = 0;
    virtual void rotate() = 0;
    virtual QIODevice::OpenMode openModeFlag() = 0;
};

using RotationStrategyPtr = QSharedPointer<RotationStrategy>;

class NullRotationStrategy : public RotationStrategy
{
public:
    void initFromFile(const QFile &) override { }
    void countMessage(const QString &) override { }
    bool rotationDue() override { return false; }
    void rotate() override { }
    QIODevice::OpenMode openModeFlag() override { return QIODevice::Truncate; }
};

class SizeRotationStrategy : public RotationStrategy
{
public:
    static constexpr int MaxBackups = 10;

    void initFromFile(const QFile &file) override;
    void countMessage(const QString &message) override;
    void countEncodedMessage(const QString &message, qint64 utf8Size) override;
    bool rotationDue() override;
    void rotate() override;
    QIODevice::OpenMode openModeFlag() override { return QIODevice::Append; }

    void setMaxSizeBytes(qint64 size);
    void setBackupCount(int backups);

private:
    QString fileName;
    qint64 currentSizeInBytes = 0;
    qint64 maxSizeInBytes = 0;
    int backupsCount = 0;
};

}
