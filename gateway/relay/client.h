#pragma once

#include "platform/socketdescriptor.h"

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// The connection of one client application, from the descriptor that the listening server
// accepted. It is read directly: a client's command reaches its thread without a copy through a
// socket object's buffer, and reading can be paused, leaving the bytes with the system.
class Client : public QObject
{
    Q_OBJECT

public:
    // Made in the thread that serves the client; closes the descriptor when destroyed.
    explicit Client(qintptr descriptor, QObject *parent = nullptr);
    ~Client() override;

    // What arrived, up to size bytes, in bytes; why the connection failed, in error.
    Platform::ReceiveResult read(QByteArray *bytes, qint64 size, QString *error);
    void setReading(bool on);
    // The next close resets the connection at once instead of delivering what is unsent.
    void resetOnClose();

signals:
    void readyRead();

private:
    const qintptr descriptor;
    QSocketNotifier *readable;
};
