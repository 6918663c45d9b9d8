#pragma once

#include "gateway/deviceframing.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;

enum TCPCLIENT_STATUS : int {
    TCPCLIENT_CONNECTING = 0,
    TCPCLIENT_CONNECTED = 1,
    TCPCLIENT_ERROR = 2,
    TCPCLIENT_DISCONNECTED = 3
};
Q_DECLARE_METATYPE(TCPCLIENT_STATUS)

// The gateway's one TCP connection to the device. It cuts what the device sends at CR LF and
// reports every change of the link as a status with a text.
class TcpClientService : public QObject
{
    Q_OBJECT

public:
    explicit TcpClientService(QObject *parent = nullptr);
    ~TcpClientService() override;

    bool connectToHost(QString ipAddress, uint port);
    void disconnectFromHost();
    bool write(const QByteArray &data);
    // True when the bytes waiting for the device are above the high mark: writeDrained()
    // follows when they are below the low mark again, or the link is gone.
    bool isOverHighMark() const { return overHighMark; }
    // While paused, what the device sends waits in the socket layer and TCP slows the device.
    void setReadingPaused(bool paused);
    void setLineEnd(DeviceLineEnd end) { lineEnd = end; }

signals:
    void connectState(TCPCLIENT_STATUS state, QString info);
    void commandReceived(QString command);
    void writeDrained();

private slots:
    void connected();
    void disconnected();
    void readyRead();
    void error(QAbstractSocket::SocketError socketError);

private:
    void releaseSocket();
    void bytesWritten();

    QTcpSocket *socket = nullptr;
    DeviceInputBuffer inputBuffer;
    DeviceLineEnd lineEnd = DeviceLineEnd::CrLf;
    bool readingPaused = false;
    bool overHighMark = false;
};
