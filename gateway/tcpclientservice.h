#pragma once

#include "gateway/deviceframing.h"
#include "gateway/socketwriter.h"
#include "gateway/threadinbox.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>

class QSocketNotifier;
class QTcpSocket;

enum TCPCLIENT_STATUS : int {
    TCPCLIENT_CONNECTING = 0,
    TCPCLIENT_CONNECTED = 1,
    TCPCLIENT_ERROR = 2,
    TCPCLIENT_DISCONNECTED = 3
};
Q_DECLARE_METATYPE(TCPCLIENT_STATUS)

// The gateway's one TCP connection to the device. It cuts what the device sends at its line
// ends and reports every change of the link as a status with a text. Any thread may write to
// the device.
class TcpClientService : public QObject
{
    Q_OBJECT

public:
    // An attempt that the device neither accepts nor refuses ends as a TCP error after this.
    static constexpr int connectTimeoutMs = 10000;

    explicit TcpClientService(QObject *parent = nullptr);
    ~TcpClientService() override;

    bool connectToHost(QString ipAddress, uint port);
    void disconnectFromHost();
    // Any thread. False without a link; bytes written while the link comes up wait for it.
    bool write(const QByteArray &data);
    // Gives the device what waits for it, for up to timeoutMs, before the link closes.
    void flush(int timeoutMs) { writer.flush(timeoutMs); }
    // Any thread: the bytes that wait for the device in the gateway.
    qint64 backlog() const { return writer.backlog(); }
    // While paused, what the device sends waits in the socket layer and TCP slows the device.
    void setReadingPaused(bool paused);
    bool isReadingPaused() const { return readingPaused; }
    void setLineEnd(DeviceLineEnd end) { lineEnd = end; }

    quint64 bytesFromDevice() const { return fromDevice.load(std::memory_order_relaxed); }
    quint64 bytesToDevice() const { return writer.bytesSent(); }

signals:
    void connectState(TCPCLIENT_STATUS state, QString info);
    // Every complete line received, each still ending in its line end.
    void commandReceived(QByteArray command);
    // Bytes arrived that complete no line.
    void partialLineReceived();
    // Bytes that waited for the device left, or were dropped with the link.
    void writeProgressed();

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
    DeviceInputBuffer inputBuffer;
    DeviceLineEnd lineEnd = DeviceLineEnd::CrLf;
    bool readingPaused = false;
    std::atomic<quint64> fromDevice{0};
};
