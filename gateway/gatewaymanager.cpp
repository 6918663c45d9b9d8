#include "gateway/gatewaymanager.h"

#include "VqLog/vqlog.h"
#include "gateway/relaytext.h"

#include <QHostAddress>

GatewayManager::GatewayManager(QObject *parent, bool keepConnected)
    : QObject(parent)
    , keepConnected(keepConnected)
    , deviceRetryTimer(this)
    , serverRetryTimer(this)
{
    clientServer = new TcpServerService(this);
    deviceClient = new TcpClientService(this);

    qRegisterMetaType<TCPCLIENT_STATUS>("TCPCLIENT_STATUS");
    // The services report from inside their own calls, and the server also from client
    // threads: queued, the manager sees everything in its own thread and in emission order.
    connect(deviceClient, &TcpClientService::connectState, this,
            &GatewayManager::onTcpConnectStatus, Qt::QueuedConnection);
    connect(deviceClient, &TcpClientService::commandReceived, this,
            &GatewayManager::clientMessageReceived, Qt::QueuedConnection);
    // Flow control: a client that caught up, or one that left, may let the device go on; a
    // device that caught up lets the clients go on.
    connect(clientServer, &TcpServerService::clientBacklogDrained, this,
            &GatewayManager::resumeDeviceReading, Qt::QueuedConnection);
    connect(clientServer, &TcpServerService::clientLeft, this, &GatewayManager::resumeDeviceReading,
            Qt::QueuedConnection);
    connect(
            deviceClient, &TcpClientService::writeDrained, clientServer,
            [this] { clientServer->setClientReadingPaused(false); }, Qt::QueuedConnection);
    qRegisterMetaType<TCPSERVER_STATUS>("TCPSERVER_STATUS");
    connect(clientServer, &TcpServerService::connectState, this, &GatewayManager::onTcpServerStatus,
            Qt::QueuedConnection);
    if (settings.replyRouting())
        routeReplies();
    else
        connect(clientServer, &TcpServerService::messageReceived, this,
                &GatewayManager::serverMessageReceived, Qt::QueuedConnection);
    const QString lineEnd = settings.deviceLineEnd();
    if (lineEnd == QLatin1String("LF"))
        deviceClient->setLineEnd(DeviceLineEnd::Lf);
    else if (lineEnd != QLatin1String("CRLF"))
        LOG_ERROR << "Unknown DeviceLineEnd" << lineEnd << "- device lines end in CR LF";

    deviceRetryTimer.setObjectName(QStringLiteral("deviceRetryTimer"));
    deviceRetryTimer.setSingleShot(true);
    deviceRetryTimer.setInterval(retryIntervalMs);
    connect(&deviceRetryTimer, &QTimer::timeout, this, &GatewayManager::retryDevice);
    serverRetryTimer.setObjectName(QStringLiteral("serverRetryTimer"));
    serverRetryTimer.setSingleShot(true);
    serverRetryTimer.setInterval(retryIntervalMs);
    connect(&serverRetryTimer, &QTimer::timeout, this, &GatewayManager::retryServer);

    if (autoconnect()) {
        // The server is always asked to start before the device connection is attempted.
        QTimer::singleShot(150, this, &GatewayManager::serverStartAttempt);
        QTimer::singleShot(300, this, &GatewayManager::deviceConnectionAttempt);
    }
}

GatewayManager::~GatewayManager()
{
    if (deviceClient) {
        deviceClient->disconnectFromHost();
        delete deviceClient;
        deviceClient = nullptr;
    }
    if (clientServer) {
        clientServer->stopServer();
        delete clientServer;
        clientServer = nullptr;
    }
}

namespace {

int replyTime(int value, int defaultValue, const char *key)
{
    if (value >= 1 && value <= 10000)
        return value;
    LOG_ERROR << key << value << "is not from 1 to 10000 ms - using" << defaultValue;
    return defaultValue;
}

}

void GatewayManager::routeReplies()
{
    // One after the other, so that their error lines come in this order whatever the compiler.
    const int quietMs = replyTime(settings.replyQuietMs(), 50, "ReplyQuietMs");
    const int timeoutMs = replyTime(settings.replyTimeoutMs(), 500, "ReplyTimeoutMs");
    router = new ReplyRouter(quietMs, timeoutMs, this);
    connect(
            clientServer, &TcpServerService::clientMessage, this,
            [this](quint64 client, const QString &message) {
                router->clientData(client, bytesFromText(message));
                logTraffic("[CLIENT] - ", message);
            },
            Qt::QueuedConnection);
    connect(clientServer, &TcpServerService::clientLeft, router, &ReplyRouter::clientLeft,
            Qt::QueuedConnection);
    // Without a device link a line is dropped, as in broadcast mode.
    connect(router, &ReplyRouter::toDevice, this, &GatewayManager::writeToDevice);
    connect(router, &ReplyRouter::toClient, this, [this](quint64 client, const QByteArray &lines) {
        holdDeviceWhen(clientServer->sendToClient(client, textFromBytes(lines)));
    });
    connect(router, &ReplyRouter::toAllClients, this, [this](const QByteArray &lines) {
        holdDeviceWhen(clientServer->sendToAllClients(textFromBytes(lines)));
    });
}

void GatewayManager::writeToDevice(const QByteArray &bytes)
{
    deviceClient->write(bytes);
    if (deviceClient->isOverHighMark())
        clientServer->setClientReadingPaused(true);
}

void GatewayManager::holdDeviceWhen(bool clientOverHighMark)
{
    if (clientOverHighMark)
        deviceClient->setReadingPaused(true);
}

void GatewayManager::resumeDeviceReading()
{
    if (!clientServer->anyClientOverHighMark())
        deviceClient->setReadingPaused(false);
}

void GatewayManager::connectDevice(QString ipAddress, uint port)
{
    if (!deviceClient)
        return;
    deviceClient->disconnectFromHost();
    deviceClient->connectToHost(ipAddress, port);
}

void GatewayManager::closeDeviceConnection()
{
    deviceRetryTimer.stop();
    if (deviceClient)
        deviceClient->disconnectFromHost();
}

bool GatewayManager::isConnectedToDevice()
{
    return deviceState == VQDEVICE_CONNECTED;
}

void GatewayManager::startServer(uint port)
{
    if (!clientServer)
        return;
    localPort = port;
    listeningPaused = false;
    clientServer->close();
    // Port 0 and ports beyond 65535 are refused by the server as "check your settings".
    clientServer->startListening(port > 65535 ? 0 : quint16(port), listenAddress());
}

void GatewayManager::closeServer()
{
    serverRetryTimer.stop();
    listeningPaused = false;
    if (clientServer)
        clientServer->stopServer();
}

bool GatewayManager::isServerStarted()
{
    return serverState == VQSERVER_STARTED;
}

void GatewayManager::deviceConnectionAttempt()
{
    connectDevice(settings.ipAddress(), settings.port());
}

void GatewayManager::serverStartAttempt()
{
    startServer(settings.portLocal());
}

QHostAddress GatewayManager::listenAddress() const
{
    // An address that is not one of this machine's fails to listen like a port in use.
    const QString address = settings.listenAddress();
    return address.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(address);
}

void GatewayManager::retryDevice()
{
    // A retry never drops a link that came up meanwhile.
    if (!autoconnect() || deviceState == VQDEVICE_CONNECTED || deviceState == VQDEVICE_CONNECTING)
        return;
    deviceConnectionAttempt();
}

void GatewayManager::retryServer()
{
    if (!autoconnect() || serverState == VQSERVER_STARTED)
        return;
    serverStartAttempt();
}

void GatewayManager::onTcpConnectStatus(TCPCLIENT_STATUS state, QString info)
{
    switch (state) {
    case TCPCLIENT_CONNECTING:
    case TCPCLIENT_CONNECTED:
    case TCPCLIENT_ERROR:
    case TCPCLIENT_DISCONNECTED:
        break;
    default:
        return;
    }
    deviceState = state;
    emit connectionStateChanged(VQDEVICE_STATUS(state), info);
    if (state == TCPCLIENT_ERROR && autoconnect())
        deviceRetryTimer.start();
}

void GatewayManager::onTcpServerStatus(TCPSERVER_STATUS state, QString info, quint8 count)
{
    switch (state) {
    case TCPSERVER_IDLE:
    case TCPSERVER_STARTED:
    case TCPSERVER_ERROR:
        break;
    default:
        return;
    }
    serverState = state;
    emit serverStateChanged(VQSERVER_STATUS(state), info);

    if (state == TCPSERVER_ERROR && autoconnect()) {
        serverRetryTimer.start();
    } else if (state == TCPSERVER_STARTED) {
        if (count >= MaxClientConnections) {
            if (clientServer->isListening())
                listeningPaused = true;
            clientServer->close();
            LOG_INFO << "Max connection number reached - Pause listening";
        } else if (listeningPaused && !clientServer->isListening()) {
            LOG_INFO << "Resume listening";
            // On failure the pause stays, and the next count below the limit tries again.
            listeningPaused = !clientServer->listen(listenAddress(), quint16(localPort));
        }
    }
}

void GatewayManager::logTraffic(const char *direction, const QString &message)
{
    if (!settings.logTraffic())
        return;
    QString visible = message;
    visible.replace(QChar(13), QLatin1String("[CR]")).replace(QChar(10), QLatin1String("[LF]"));
    LOG_INFO << direction << visible;
}

void GatewayManager::clientMessageReceived(QString message)
{
    if (router)
        router->deviceData(bytesFromText(message));
    else
        holdDeviceWhen(clientServer->sendToAllClients(message));
    logTraffic("[DEVICE] - ", message);
}

void GatewayManager::serverMessageReceived(QString message)
{
    // Without a device link the message is dropped; it is still logged.
    writeToDevice(bytesFromText(message));
    logTraffic("[CLIENT] - ", message);
}
