#include "gateway/device/tcpclientservice.h"

#include "VqLog/vqlog.h"
#include "gateway/deviceaddress.h"
#include "gateway/relay/flowcontrol.h"
#include "platform/keepalive.h"
#include "platform/socketdescriptor.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpSocket>

TcpClientService::TcpClientService(QObject *parent)
    : DeviceLink(parent)
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
    resetFraming();

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
    connect(socket, &QTcpSocket::connected, this, &TcpClientService::connected);
    connect(socket, &QTcpSocket::errorOccurred, this, &TcpClientService::error);
    // Commands sent while the link comes up are dropped, as while it is down: kept, they would
    // reach the device all at once when it answers, past the reply router and its turns.
    writer.reopen(SocketWriter::State::Connecting);

    // A host name is looked up again by every attempt: the device may have moved meanwhile.
    LOG_INFO << "Connecting to" << address << "port" << port;
    emit connectState(TCPCLIENT_CONNECTING, QStringLiteral("Connecting host..."));
    connectTimer.start();
    socket->connectToHost(address, quint16(port));
    return true;
}

void TcpClientService::disconnectFromHost()
{
    if (!socket && !linked)
        return;
    LOG_INFO << "Disconnecting from host";
    emit connectState(TCPCLIENT_DISCONNECTED, QStringLiteral("Disconnected"));
    releaseSocket();
}

void TcpClientService::releaseSocket()
{
    connectTimer.stop();
    if (!socket && !linked)
        return;
    delete readable;
    readable = nullptr;
    delete writable;
    writable = nullptr;
    writer.close();
    linked = false;
    if (socket) {
        socket->disconnect(this);
        socket->deleteLater();
        socket = nullptr;
    }
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
    // While paused the device's bytes, and its close, wait with the system.
    readingPaused = paused;
    if (readable)
        readable->setEnabled(!paused);
}

void TcpClientService::connected()
{
    connectTimer.stop();
    const qintptr descriptor = socket->socketDescriptor();
    // Commands are short and wait for their replies: no holding them back to fill a segment.
    Platform::prepareConnectedSocket(descriptor);
    Platform::enableKeepAlive(descriptor, keepAliveIdleSeconds, keepAliveIntervalSeconds,
                              keepAliveProbes);
    const QString peer = socket->peerAddress().toString();
    const quint16 peerPort = socket->peerPort();
    if (!writer.open(descriptor)) {
        error(QAbstractSocket::UnknownSocketError);
        return;
    }
    // From here on the link is read and written directly, through the writer's descriptor: a
    // reply reaches the clients without a copy through a socket object's buffer. The socket
    // object that made the connection lets go of it.
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    socket = nullptr;
    linked = true;
    readable = new QSocketNotifier(writer.descriptor(), QSocketNotifier::Read, this);
    readable->setEnabled(!readingPaused);
    connect(readable, &QSocketNotifier::activated, this, &TcpClientService::readyRead);
    writable = new QSocketNotifier(writer.descriptor(), QSocketNotifier::Write, this);
    writable->setEnabled(false);
    connect(writable, &QSocketNotifier::activated, this, &TcpClientService::sendWaiting);
    armWriter();
    LOG_INFO << "Connected to" << peer << "port" << peerPort;
    emit connectState(TCPCLIENT_CONNECTED, QStringLiteral("Connected"));
}

void TcpClientService::linkLost(const QString &received)
{
    // A failed write says more than the end of the input that follows it.
    const QString text = writer.hasFailed() ? writer.failureText() : received;
    LOG_ERROR << "TCP error:" << text;
    if (text == Platform::timedOutText())
        LOG_ERROR << "The device took nothing, or answered no keep-alive probe, for"
                  << peerSilenceLimitSeconds << "s: what waited for it is dropped with the link";
    else if (writer.backlog() > 0)
        LOG_ERROR << writer.backlog()
                  << "bytes that waited for the device are dropped with the link";
    emit connectState(TCPCLIENT_ERROR, text);
    LOG_INFO << "Disconnected from host.";
    emit connectState(TCPCLIENT_DISCONNECTED, QStringLiteral("Disconnected"));
    releaseSocket();
}

void TcpClientService::readyRead()
{
    QByteArray received(int(socketReadBufferBytes), Qt::Uninitialized);
    qint64 size = 0;
    QString failure;
    switch (Platform::receiveSome(writer.descriptor(), received.data(), received.size(), &size,
                                  &failure)) {
    case Platform::ReceiveResult::Nothing:
        return;
    case Platform::ReceiveResult::End:
        linkLost(Platform::peerResetText());
        return;
    case Platform::ReceiveResult::Failed:
        linkLost(failure);
        return;
    case Platform::ReceiveResult::Received:
        break;
    }
    received.resize(int(size));
    // A short line must not keep a whole read buffer alive while it waits for a slow client.
    if (size < socketReadBufferBytes / 2)
        received.squeeze();
    deliver(received);
}

void TcpClientService::error(QAbstractSocket::SocketError socketError)
{
    connectTimer.stop();
    // The lookup's own text does not say which name it could not find.
    attemptFailed(socketError == QAbstractSocket::HostNotFoundError
                          ? QStringLiteral("Host %1 not found").arg(socket->peerName())
                          : socket->errorString());
}

void TcpClientService::connectTimedOut()
{
    if (!socket)
        return;
    // Left to the system, an attempt whose packets go unanswered lasts about two minutes.
    socket->abort();
    attemptFailed(QStringLiteral("Connection timed out"));
}

void TcpClientService::attemptFailed(const QString &text)
{
    writer.close();
    emit writeProgressed();
    LOG_ERROR << "TCP error:" << text;
    emit connectState(TCPCLIENT_ERROR, text);
}
