#include "gateway/tcpclientservice.h"

#include "VqLog/vqlog.h"
#include "gateway/deviceaddress.h"
#include "gateway/flowcontrol.h"
#include "platform/keepalive.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpSocket>

TcpClientService::TcpClientService(QObject *parent)
    : QObject(parent)
    , inbox(this)
    , writer(backlogHighBytes, SocketWriter::State::Closed,
             [this] { inbox.post([this] { armWriter(); }); })
    , connectTimer(this)
{
    connectTimer.setSingleShot(true);
    connectTimer.setInterval(connectTimeoutMs);
    connect(&connectTimer, &QTimer::timeout, this, &TcpClientService::connectTimedOut);
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
    connect(socket, &QTcpSocket::connected, this, &TcpClientService::connected);
    connect(socket, &QTcpSocket::disconnected, this, &TcpClientService::disconnected);
    connect(socket, &QTcpSocket::readyRead, this, &TcpClientService::readyRead);
    connect(socket, &QTcpSocket::errorOccurred, this, &TcpClientService::error);
    // Commands sent while the link comes up wait for it.
    writer.reopen(SocketWriter::State::Waiting);

    LOG_INFO << "Connecting to" << address << "port" << port;
    emit connectState(TCPCLIENT_CONNECTING, QStringLiteral("Connecting host..."));
    connectTimer.start();
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
    connectTimer.stop();
    if (!socket)
        return;
    delete writable;
    writable = nullptr;
    writer.close();
    socket->disconnect(this);
    socket->deleteLater();
    socket = nullptr;
    // Nothing waits for the device any more: whoever held back for it may go on.
    emit writeProgressed();
}

bool TcpClientService::write(const QByteArray &data)
{
    return writer.write(data);
}

void TcpClientService::armWriter()
{
    if (writable && writer.backlog() > 0 && !writable->isEnabled()) {
        writable->setEnabled(true);
        sendWaiting();
    }
}

void TcpClientService::sendWaiting()
{
    writer.sendWaiting();
    if (writer.backlog() == 0 || writer.hasFailed())
        writable->setEnabled(false);
    emit writeProgressed();
}

void TcpClientService::setReadingPaused(bool paused)
{
    readingPaused = paused;
    if (paused)
        return;
    if (!linesAfterClose.isEmpty())
        emit commandReceived(std::exchange(linesAfterClose, QByteArray()));
    if (socket && socket->bytesAvailable() > 0)
        readyRead();
}

void TcpClientService::connected()
{
    connectTimer.stop();
    // Commands are short and wait for their replies: no holding them back to fill a segment.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Platform::enableKeepAlive(socket->socketDescriptor(), keepAliveIdleSeconds,
                              keepAliveIntervalSeconds, keepAliveProbes);
    if (writer.open(socket->socketDescriptor())) {
        writable = new QSocketNotifier(writer.descriptor(), QSocketNotifier::Write, this);
        writable->setEnabled(false);
        connect(writable, &QSocketNotifier::activated, this, &TcpClientService::sendWaiting);
        armWriter();
    }
    LOG_INFO << "Connected to" << socket->peerAddress().toString() << "port" << socket->peerPort();
    emit connectState(TCPCLIENT_CONNECTED, QStringLiteral("Connected"));
}

void TcpClientService::disconnected()
{
    LOG_INFO << "Disconnected from host.";
    emit connectState(TCPCLIENT_DISCONNECTED, QStringLiteral("Disconnected"));
    if (readingPaused && socket->bytesAvailable() > 0) {
        // What the device sent before it closed still goes on, once the clients take it.
        linesAfterClose += frameDeviceInput(inputBuffer, socket->readAll(), lineEnd).lines;
    }
    releaseSocket();
}

void TcpClientService::readyRead()
{
    if (readingPaused)
        return;
    const QByteArray received = socket->readAll();
    fromDevice.fetch_add(quint64(received.size()), std::memory_order_relaxed);
    const FramedInput input = frameDeviceInput(inputBuffer, received, lineEnd);
    if (input.overflowed)
        LOG_ERROR << "Commands received do not contain any <CR><LF> sequence. Input buffer "
                     "cleared!";
    if (!input.lines.isEmpty())
        emit commandReceived(input.lines);
}

void TcpClientService::error(QAbstractSocket::SocketError)
{
    connectTimer.stop();
    if (socket->state() != QAbstractSocket::ConnectedState && !writable) {
        // The link never came up: commands no longer wait for it.
        writer.close();
        emit writeProgressed();
    }
    const QString text = socket->errorString();
    LOG_ERROR << "TCP error:" << text;
    emit connectState(TCPCLIENT_ERROR, text);
}

void TcpClientService::connectTimedOut()
{
    if (!socket || socket->state() == QAbstractSocket::ConnectedState)
        return;
    // Left to the system, an attempt whose packets go unanswered lasts about two minutes.
    socket->abort();
    writer.close();
    emit writeProgressed();
    const QString text = QStringLiteral("Connection timed out");
    LOG_ERROR << "TCP error:" << text;
    emit connectState(TCPCLIENT_ERROR, text);
}
