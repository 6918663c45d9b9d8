#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpServer>

class QTcpSocket;

// A port on which nothing listens right now, found by binding port 0 on the loopback address.
quint16 freeLoopbackPort();

// A device stand-in on 127.0.0.1: accepts connections, keeps what they send and answers on
// request.
class FakeDevice : public QTcpServer
{
    Q_OBJECT

public:
    explicit FakeDevice(QObject *parent = nullptr);

    quint16 port() const { return serverPort(); }
    QByteArray received() const { return receivedBytes; }
    void clearReceived() { receivedBytes.clear(); }
    int connectionCount() const { return connections.size(); }
    QTcpSocket *latest() const { return connections.isEmpty() ? nullptr : connections.last(); }
    void send(const QByteArray &bytes);
    void closeConnections();

private:
    QList<QTcpSocket *> connections;
    QByteArray receivedBytes;
};

// A client application stand-in: connects to a local port and keeps everything it receives.
class FakeClient : public QObject
{
    Q_OBJECT

public:
    explicit FakeClient(quint16 port, QObject *parent = nullptr);

    QTcpSocket *socket() const { return tcpSocket; }
    QByteArray received() const { return receivedBytes; }
    bool isConnected() const;
    bool isClosed() const;
    void send(const QByteArray &bytes);

private:
    QTcpSocket *tcpSocket;
    QByteArray receivedBytes;
};

// An update server stand-in: answers every HTTP request with the same body.
class FakeUpdateServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit FakeUpdateServer(QObject *parent = nullptr);

    void setBody(const QByteArray &xml) { body = xml; }
    QString documentUrl() const;
    int requests() const { return requestCount; }

private:
    QByteArray body;
    int requestCount = 0;
};
