#pragma once

#include "gateway/device/devicelink.h"
#include "gateway/relay/socketwriter.h"
#include "gateway/relay/threadinbox.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;
class QTcpSocket;

// The network link: one TCP connection to the device.
class TcpClientService : public DeviceLink
{
    Q_OBJECT

public:
    // An attempt that the device neither accepts nor refuses ends as a TCP error after this.
    static constexpr int connectTimeoutMs = 10000;

    explicit TcpClientService(QObject *parent = nullptr);
    ~TcpClientService() override;

    bool connectToHost(QString ipAddress, uint port);
    void disconnectFromHost();

    bool isSerial() const override { return false; }
    bool open(const DeviceTarget &target) override
    {
        return connectToHost(target.address, target.port);
    }
    void close() override { disconnectFromHost(); }
    bool write(const QByteArray &data) override;
    void flush(int timeoutMs) override { writer.flush(timeoutMs); }
    qint64 backlog() const override { return writer.backlog(); }
    // While paused, TCP slows the device.
    void setReadingPaused(bool paused) override;
    bool isReadingPaused() const override { return readingPaused; }
    quint64 bytesToDevice() const override { return writer.bytesSent(); }

private slots:
    void connected();
    void readyRead();
    void error(QAbstractSocket::SocketError socketError);

private:
    void releaseSocket();
    void linkLost(const QString &text);
    void sendWaiting();
    void armWriter();
    void connectTimedOut();
    // The attempt ended without a link: commands no longer wait for it.
    void attemptFailed(const QString &text);

    // The socket object while it makes the connection (or after it failed to); once the link is
    // up, the link is the writer's descriptor alone.
    QTcpSocket *socket = nullptr;
    bool linked = false;
    ThreadInbox inbox;
    SocketWriter writer;
    QSocketNotifier *readable = nullptr;
    QSocketNotifier *writable = nullptr;
    QTimer connectTimer;
    bool readingPaused = false;
};
