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

FakeUpdateServer::FakeUpdateServer(QObject *parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                if (!socket->readAll().contains("\r\n\r\n"))
                    return;
                ++requestCount;
                socket->write("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nContent-Length: "
                              + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        }
    });
    listen(QHostAddress::LocalHost, 0);
}

QString FakeUpdateServer::documentUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/~ftp-xml/product_update_1004.xml").arg(serverPort());
}
