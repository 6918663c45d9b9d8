#include "gateway/tcpclientservice.h"

#include "VqLog/vqlog.h"
#include "gateway/deviceaddress.h"
#include "gateway/flowcontrol.h"
#include "gateway/relaytext.h"
#include "platform/keepalive.h"

#include <QHostAddress>
#include <QTcpSocket>

TcpClientService::TcpClientService(QObject *parent)
    : QObject(parent)
{
}

TcpClientService::~TcpClientService()
{
    disconnectFromHost();
}

bool TcpClientService::connectToHost(QString ipAddress, uint port)
{
    // The manager always disconnects first; a socket left over anyway is dropped quietly so
    // that it cannot report into the new attempt.
    releaseSocket();
    inputBuffer = DeviceInputBuffer();

    QString address;
    switch (checkDeviceAddress(ipAddress, port, &address)) {
    case DeviceAddressCheck::EmptyOrBadPort:
        LOG_ERROR << "Trying to connect host using either an empty IP address or an invalid port "
                     "number!";
        emit connectState(TCPCLIENT_ERROR,
                          QStringLiteral("Empty IP address or invalid port number!"));
        return false;
    case DeviceAddressCheck::Invalid:
        LOG_ERROR << "Trying to connect using an invalid IP address!";
        emit connectState(TCPCLIENT_ERROR, QStringLiteral("Invalid IP address!"));
        return false;
    case DeviceAddressCheck::Valid:
        break;
    }

    socket = new QTcpSocket(this);
    socket->setReadBufferSize(socketReadBufferBytes);
    connect(socket, &QTcpSocket::bytesWritten, this, &TcpClientService::bytesWritten);
    connect(socket, &QTcpSocket::connected, this, &TcpClientService::connected);
    connect(socket, &QTcpSocket::disconnected, this, &TcpClientService::disconnected);
    connect(socket, &QTcpSocket::readyRead, this, &TcpClientService::readyRead);
    connect(socket, &QTcpSocket::errorOccurred, this, &TcpClientService::error);

    LOG_INFO << "Connecting to" << address << "port" << port;
    emit connectState(TCPCLIENT_CONNECTING, QStringLiteral("Connecting host..."));
    socket->connectToHost(address, quint16(port));
    return true;
}

void TcpClientService::disconnectFromHost()
{
    if (!socket)
        return;
    LOG_INFO << "Disconnecting from host";
    emit connectState(TCPCLIENT_DISCONNECTED, QStringLiteral("Disconnected"));
    releaseSocket();
}

void TcpClientService::releaseSocket()
{
    if (!socket)
        return;
    socket->disconnect(this);
    socket->deleteLater();
    socket = nullptr;
    // Nothing waits for the device any more: whoever held back for it may go on.
    if (overHighMark) {
        overHighMark = false;
        emit writeDrained();
    }
}

bool TcpClientService::write(const QByteArray &data)
{
    if (!socket)
        return false;
    const bool written = socket->write(data) != -1;
    if (socket->bytesToWrite() > backlogHighBytes)
        overHighMark = true;
    return written;
}

void TcpClientService::bytesWritten()
{
    if (overHighMark && socket->bytesToWrite() < backlogLowBytes) {
        overHighMark = false;
        emit writeDrained();
    }
}

void TcpClientService::setReadingPaused(bool paused)
{
    readingPaused = paused;
    if (!paused && socket && socket->bytesAvailable() > 0)
        readyRead();
}

void TcpClientService::connected()
{
    // Commands are short and wait for their replies: no holding them back to fill a segment.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Platform::enableKeepAlive(socket->socketDescriptor(), keepAliveIdleSeconds,
                              keepAliveIntervalSeconds, keepAliveProbes);
    LOG_INFO << "Connected to" << socket->peerAddress().toString() << "port" << socket->peerPort();
    emit connectState(TCPCLIENT_CONNECTED, QStringLiteral("Connected"));
}

void TcpClientService::disconnected()
{
    LOG_INFO << "Disconnected from host.";
    emit connectState(TCPCLIENT_DISCONNECTED, QStringLiteral("Disconnected"));
    releaseSocket();
}

void TcpClientService::readyRead()
{
    if (readingPaused)
        return;
    const FramedInput input = frameDeviceInput(inputBuffer, socket->readAll(), lineEnd);
    if (input.overflowed)
        LOG_ERROR
                << "Commands received do not contain any <CR><LF> sequence. Input buffer cleared!";
    if (!input.lines.isEmpty())
        emit commandReceived(textFromBytes(input.lines));
}

void TcpClientService::error(QAbstractSocket::SocketError)
{
    const QString text = socket->errorString();
    LOG_ERROR << "TCP error:" << text;
    emit connectState(TCPCLIENT_ERROR, text);
}
