#include "tests/loopback.h"

#include <QTcpSocket>

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

FakeDevice::FakeDevice(QObject *parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = nextPendingConnection()) {
            connections.append(socket);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { receivedBytes += socket->readAll(); });
        }
    });
    listen(QHostAddress::LocalHost, 0);
}

void FakeDevice::send(const QByteArray &bytes)
{
    if (QTcpSocket *socket = latest()) {
        socket->write(bytes);
        socket->flush();
    }
}

void FakeDevice::closeConnections()
{
    for (QTcpSocket *socket : qAsConst(connections))
        socket->disconnectFromHost();
}

FakeClient::FakeClient(quint16 port, QObject *parent)
    : QObject(parent)
    , tcpSocket(new QTcpSocket(this))
{
    connect(tcpSocket, &QTcpSocket::readyRead, this, [this] { receivedBytes += tcpSocket->readAll(); });
    tcpSocket->connectToHost(QHostAddress::LocalHost, port);
}

bool FakeClient::isConnected() const
{
    return tcpSocket->state() == QAbstractSocket::ConnectedState;
}

bool FakeClient::isClosed() const
{
    return tcpSocket->state() == QAbstractSocket::UnconnectedState;
}

void FakeClient::send(const QByteArray &bytes)
{
    tcpSocket->write(bytes);
    tcpSocket->flush();
}
