#include "gateway/gatewaymanager.h"

#include "VqLog/vqlog.h"
#include "gateway/clientallowlist.h"
#include "gateway/relay/flowcontrol.h"
#include "gateway/listenendpoint.h"
#include "gateway/routing/replyrouter.h"
#include "gateway/statustext.h"
#include "gateway/trafficlog.h"

#include <QHostAddress>
#include <QJsonArray>

GatewayManager::GatewayManager(QObject *parent, bool keepConnected)
    : QObject(parent)
    , closeClientsWhileDown(settings.whenDeviceDown() == QLatin1String("close"))
    , keepConnected(keepConnected)
    , routerInbox(this)
    , deviceRetryTimer(this)
    , serverRetryTimer(this)
    , observerRetryTimer(this)
{
    clientServer = new TcpServerService(this);
    qRegisterMetaType<TCPCLIENT_STATUS>("TCPCLIENT_STATUS");
    // Flow control: a client that caught up, or one that left, may let the device go on.
    connect(clientServer, &TcpServerService::clientBacklogDrained, this,
            &GatewayManager::resumeDeviceReading, Qt::QueuedConnection);
    connect(clientServer, &TcpServerService::clientLeft, this, &GatewayManager::resumeDeviceReading,
            Qt::QueuedConnection);
    qRegisterMetaType<TCPSERVER_STATUS>("TCPSERVER_STATUS");
    connect(clientServer, &TcpServerService::connectState, this, &GatewayManager::onTcpServerStatus,
            Qt::QueuedConnection);
    // Runs in the client's own thread, which writes the bytes to the device itself.
    connect(clientServer, &TcpServerService::messageReceived, this,
            &GatewayManager::serverMessageReceived, Qt::DirectConnection);

    // The relay's threads read the traffic switch as this reads it.
    settings.logTraffic();
    // The settings give usable values only; what they could not use was logged at start.
    const bool lf = settings.deviceLineEnd() == QLatin1String("LF");
    // Turns, locks and device events need the router too; without routing it waits for no reply.
    const SharingRules sharing = sharingRules();
    if (settings.replyRouting() || sharing.enabled() || !settings.eventPattern().isEmpty()) {
        const QByteArray lineEnd = lf ? "\n" : "\r\n";
        routeReplies(replyRule(), sharing, settings.lockReply().toUtf8() + lineEnd,
                     settings.unlockReply().toUtf8() + lineEnd);
    }
    if (lf)
        lineEnd = DeviceLineEnd::Lf;
    // The device as stored, until an attempt names another.
    deviceTarget = storedTarget();
    deviceClient = linkFor(deviceTarget);
    if (settings.deviceNotices()) {
        const QByteArray lineEnd = lf ? "\n" : "\r\n";
        downNotice = settings.deviceDownNotice().toUtf8() + lineEnd;
        upNotice = settings.deviceUpNotice().toUtf8() + lineEnd;
    }
    // Until the device link is up for the first time, it is down.
    if (closeClientsWhileDown)
        clientServer->setRefusalReason(QStringLiteral("the device is not connected"));
    connect(
            clientServer, &TcpServerService::clientLeft, this,
            [this](quint64 client) { reportDropped(client); }, Qt::QueuedConnection);
    // Without routing nobody knows which replies a client still waits for: one that ended its
    // sending side gives way to a new client that needs the place.
    clientServer->setWaitingClientsGiveWay(!router);
    startObservers();
    allowClients();

    for (QTimer *timer : {&deviceRetryTimer, &serverRetryTimer, &observerRetryTimer}) {
        timer->setSingleShot(true);
        timer->setInterval(retryIntervalMs);
    }
    deviceRetryTimer.setObjectName(QStringLiteral("deviceRetryTimer"));
    connect(&deviceRetryTimer, &QTimer::timeout, this, &GatewayManager::retryDevice);
    serverRetryTimer.setObjectName(QStringLiteral("serverRetryTimer"));
    connect(&serverRetryTimer, &QTimer::timeout, this, &GatewayManager::retryServer);

    if (autoconnect()) {
        // The server is always asked to start before the device connection is attempted.
        QTimer::singleShot(150, this, &GatewayManager::serverStartAttempt);
        QTimer::singleShot(300, this, &GatewayManager::deviceConnectionAttempt);
    }
}

GatewayManager::~GatewayManager()
{
    // Nothing more is taken from the clients; then what was taken goes to the device, lines
    // that waited for their turn included, while it reads, and only then does the link close.
    for (TcpServerService *server : {observerServer, clientServer}) {
        if (server) {
            server->stopServer();
            server->waitForClientThreads();
        }
    }
    routerInbox.runPosted();
    if (router)
        router->sendAllWaiting();
    deviceClient.load()->flush(stopFlushMs);
    // What the device did not take in time is lost with the link: say how much.
    if (const qint64 left = deviceClient.load()->backlog())
        LOG_ERROR << left << "bytes taken from clients were not taken by the device within"
                  << stopFlushMs << "ms of the stop: dropped";
    deviceClient.load()->close();
    reportDropped(0);
    for (TcpServerService **server : {&observerServer, &clientServer}) {
        delete *server;
        *server = nullptr;
    }
    deviceClient = nullptr;
    delete networkLink;
    delete serialLink;
}

DeviceLink *GatewayManager::linkFor(const DeviceTarget &target)
{
    DeviceLink *&link = target.isSerial() ? serialLink : networkLink;
    if (link)
        return link;
    link = DeviceLink::create(target, this);
    link->setLineEnd(lineEnd);
    // The links report from inside their own calls: queued, the manager sees every status in
    // its own thread and in emission order.
    connect(link, &DeviceLink::connectState, this, &GatewayManager::onDeviceLinkStatus,
            Qt::QueuedConnection);
    // The device's lines go on to the clients in the same wake-up that read them.
    connect(link, &DeviceLink::commandReceived, this, &GatewayManager::clientMessageReceived,
            Qt::DirectConnection);
    connect(link, &DeviceLink::writeProgressed, this, &GatewayManager::updateClientHold,
            Qt::DirectConnection);
    if (router)
        connect(link, &DeviceLink::partialLineReceived, router, &ReplyRouter::devicePartialLine);
    return link;
}

DeviceTarget GatewayManager::storedTarget() const
{
    DeviceTarget target;
    target.address = settings.ipAddress();
    target.port = settings.port();
    target.serialPort = settings.serialPort();
    target.serialSettings = settings.serialSettings();
    return target;
}

ReplyRule GatewayManager::replyRule() const
{
    ReplyRule rule;
    rule.events = QRegularExpression(settings.eventPattern());
    if (!settings.replyRouting()) {
        rule.kind = ReplyRule::None;
        return rule;
    }
    rule.quietMs = settings.replyQuietMs();
    rule.timeoutMs = settings.replyTimeoutMs();
    const QString end = settings.replyEnd();
    if (end == QLatin1String("query")) {
        rule.kind = ReplyRule::Query;
    } else if (end == QLatin1String("pattern")) {
        rule.kind = ReplyRule::Pattern;
        rule.pattern = QRegularExpression(settings.replyEndPattern());
    }
    return rule;
}

SharingRules GatewayManager::sharingRules() const
{
    SharingRules rules;
    rules.holdMs = settings.holdMs();
    rules.holdMaxMs = settings.holdMaxMs();
    rules.lockLine = settings.lockCommand().toUtf8();
    rules.unlockLine = settings.unlockCommand().toUtf8();
    rules.lockIdleMs = settings.lockIdleMs();
    return rules;
}

void GatewayManager::routeReplies(const ReplyRule &rule, const SharingRules &sharing,
                                  const QByteArray &lockReply, const QByteArray &unlockReply)
{
    router = new ReplyRouter(rule, sharing, lockReply, unlockReply, this);
    router->setCatchUp([this] { routerInbox.runPosted(); });
    router->deviceLinkChanged(deviceUp);
    // Through one inbox, so that the router sees a client join, send, end and leave in the
    // order it did.
    const auto forward = [this](void (TcpServerService::*event)(quint64),
                                void (ReplyRouter::*handle)(quint64)) {
        connect(
                clientServer, event, this,
                [this, handle](quint64 client) {
                    routerInbox.post([this, handle, client] { (router->*handle)(client); });
                },
                Qt::DirectConnection);
    };
    forward(&TcpServerService::clientJoined, &ReplyRouter::clientJoined);
    forward(&TcpServerService::clientLeft, &ReplyRouter::clientLeft);
    forward(&TcpServerService::clientInputEnded, &ReplyRouter::clientInputEnded);
    connect(router, &ReplyRouter::toDevice, this, &GatewayManager::writeToDevice);
    connect(router, &ReplyRouter::toClient, this, [this](quint64 client, const QByteArray &lines) {
        holdDeviceWhen(clientServer->sendToClient(client, lines));
        logTraffic("[DEVICE] - ", lines, client, "to");
    });
    connect(router, &ReplyRouter::toAllClients, this, [this](const QByteArray &lines) {
        holdDeviceWhen(clientServer->sendToAllClients(lines));
        logTraffic("[DEVICE] - ", lines);
    });
    connect(router, &ReplyRouter::answered, this, [this](quint64 client, const QByteArray &line) {
        clientServer->sendToClient(client, line);
        logTraffic("[GATEWAY] - ", line, client, "to");
        // A lock granted or given back changes who is read while the others are held.
        updateClientHold();
    });
    connect(router, &ReplyRouter::replyTimedOut, this, [this] { ++replyTimeouts; });
    connect(router, &ReplyRouter::clientSettled, clientServer, &TcpServerService::repliesSettled);
}

void GatewayManager::startObservers()
{
    const QString endpoint = settings.observerListen();
    if (endpoint.isEmpty())
        return;
    QString address;
    quint16 port = 0;
    if (!parseListenEndpoint(endpoint, &address, &port)) {
        LOG_ERROR << "ObserverListen" << endpoint << "is not [ADDRESS:]PORT - no observers";
        return;
    }
    observerServer = new TcpServerService(this, ClientThread::Observer);
    observerServer->shareNumbersWith(clientServer);
    connect(observerServer, &TcpServerService::connectState, this,
            &GatewayManager::onObserverServerStatus, Qt::QueuedConnection);
    const QHostAddress listenOn
            = address.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(address);
    connect(&observerRetryTimer, &QTimer::timeout, observerServer,
            [this, listenOn, port] { observerServer->startListening(port, listenOn); });
    observerServer->startListening(port, listenOn);
}

void GatewayManager::allowClients()
{
    // A list that is none serves nobody, never everyone by mistake; the start log says so.
    ClientAllowList allowed;
    ClientAllowList::parse(settings.allowedClients(), &allowed);
    clientServer->setAllowedClients(allowed);
    if (observerServer)
        observerServer->setAllowedClients(allowed);
}

void GatewayManager::writeToDevice(quint64 client, const QByteArray &line)
{
    // Without a device link the line is dropped, as in broadcast mode.
    if (!deviceClient.load()->write(line))
        noteDropped(client, line.size());
    clientServer->bytesDelivered(client, line.size());
    updateClientHold();
}

qint64 GatewayManager::deviceBacklog() const
{
    return deviceClient.load()->backlog() + postedToRouter + (router ? router->heldBytes() : 0);
}

void GatewayManager::updateClientHold()
{
    // The decision is taken again under the lock; the flag is written before the backlog is
    // read again, so a drain that happens meanwhile is seen either here or by its own thread.
    for (;;) {
        const bool held = clientsHeld;
        const qint64 backlog = deviceBacklog();
        if (held ? backlog >= backlogLowBytes : backlog <= backlogHighBytes)
            break;
        std::lock_guard<std::mutex> lock(holdMutex);
        if (clientsHeld != held)
            continue;
        clientsHeld = !held;
        readingExempt = held ? 0 : lockHolderToRead();
        clientServer->setClientReadingPaused(!held, readingExempt);
        if (!held)
            ++clientHolds;
    }
    // Behind a lock it is the others' lines that wait, not its holder's: it is read on, so that
    // it can finish and give the lock back, as long as what it sent itself keeps within the mark.
    if (clientsHeld && readingExempt != lockHolderToRead()) {
        std::lock_guard<std::mutex> lock(holdMutex);
        if (clientsHeld) {
            readingExempt = lockHolderToRead();
            clientServer->setClientReadingPaused(true, readingExempt);
        }
    }
}

quint64 GatewayManager::lockHolderToRead() const
{
    const quint64 holder = router ? router->lockHolder() : 0;
    const qint64 own = deviceClient.load()->backlog() + postedToRouter
            + (holder != 0 ? router->lockHolderWaitingBytes() : 0);
    return own <= backlogHighBytes ? holder : 0;
}

void GatewayManager::holdDeviceWhen(bool clientOverHighMark)
{
    if (clientOverHighMark && !deviceClient.load()->isReadingPaused()) {
        deviceClient.load()->setReadingPaused(true);
        ++deviceHolds;
    }
}

void GatewayManager::resumeDeviceReading()
{
    if (!clientServer->anyClientOverHighMark())
        deviceClient.load()->setReadingPaused(false);
}

void GatewayManager::connectDevice(QString ipAddress, uint port)
{
    DeviceTarget target;
    target.address = ipAddress;
    target.port = port;
    connectDevice(target);
}

void GatewayManager::connectDevice(const DeviceTarget &target)
{
    if (!deviceClient)
        return;
    deviceClient.load()->close();
    DeviceLink *link = linkFor(target);
    // Held as the one before it was.
    link->setReadingPaused(deviceClient.load()->isReadingPaused());
    deviceClient = link;
    deviceTarget = target;
    link->open(target);
}

void GatewayManager::closeDeviceConnection()
{
    deviceRetryTimer.stop();
    if (deviceClient)
        deviceClient.load()->close();
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
    connectDevice(storedTarget());
}

void GatewayManager::serverStartAttempt()
{
    startServer(settings.portLocal());
}

QHostAddress GatewayManager::listenAddress() const
{
    // An address that is not one of this machine's fails to listen like a port in use, and so
    // does one that is no address (null), which the start log names.
    const QString address = settings.listenAddress();
    QHostAddress parsed;
    return address.isEmpty()                   ? QHostAddress(QHostAddress::Any)
            : parseIpAddress(address, &parsed) ? parsed
                                               : QHostAddress();
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

void GatewayManager::onDeviceLinkStatus(TCPCLIENT_STATUS state, QString info)
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
    deviceSince = QDateTime::currentDateTime();
    if (state == TCPCLIENT_CONNECTED)
        ++deviceConnects;
    if (state == TCPCLIENT_ERROR) {
        ++deviceErrors;
        lastDeviceError = info;
    }
    // Up is connected; connecting, failing and disconnected are all down. The error that ends a
    // link is no failed attempt.
    if ((state == TCPCLIENT_CONNECTED) != deviceUp)
        deviceUpChanged(state == TCPCLIENT_CONNECTED);
    else if (state == TCPCLIENT_ERROR)
        ++failedAttemptsSince;
    emit connectionStateChanged(VQDEVICE_STATUS(state), info);
    if (state == TCPCLIENT_ERROR && autoconnect())
        deviceRetryTimer.start();
}

void GatewayManager::deviceUpChanged(bool up)
{
    deviceUp = up;
    deviceStateSinceMs = QDateTime::currentMSecsSinceEpoch();
    failedAttemptsSince = 0;
    if (router)
        router->deviceLinkChanged(up);
    if (up)
        reportDropped(0);
    if (closeClientsWhileDown)
        clientServer->setRefusalReason(up ? QString()
                                          : QStringLiteral("the device is not connected"));
    // Observers watch the device's bytes only: the notices are for the clients.
    clientServer->sendToAllClients(up ? upNotice : downNotice);
    if (!up && closeClientsWhileDown)
        clientServer->closeClients(QStringLiteral("Device link down: clients closed"));
}

void GatewayManager::noteDropped(quint64 client, qint64 bytes)
{
    droppedDeviceDown += quint64(bytes);
    std::lock_guard<std::mutex> lock(droppedMutex);
    droppedThisOutage[client] += bytes;
}

void GatewayManager::reportDropped(quint64 client)
{
    QHash<quint64, qint64> dropped;
    {
        std::lock_guard<std::mutex> lock(droppedMutex);
        if (client == 0)
            dropped.swap(droppedThisOutage);
        else if (droppedThisOutage.contains(client))
            dropped.insert(client, droppedThisOutage.take(client));
    }
    for (auto it = dropped.cbegin(); it != dropped.cend(); ++it)
        LOG_ERROR << "Device not connected:" << it.value() << "bytes from client" << it.key()
                  << "dropped";
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
    if (state != serverState)
        serverSince = QDateTime::currentDateTime();
    serverState = state;
    emit serverStateChanged(VQSERVER_STATUS(state), info);

    if (state == TCPSERVER_ERROR && autoconnect()) {
        serverRetryTimer.start();
    } else if (state == TCPSERVER_STARTED) {
        // The port stays the gateway's while it is full, so that no other program can take it
        // meanwhile: the server closes each connection beyond the limit at once.
        if (count >= MaxClientConnections && !listeningPaused) {
            listeningPaused = true;
            LOG_INFO << "Max connection number reached - Pause listening";
        } else if (count < MaxClientConnections && listeningPaused) {
            listeningPaused = false;
            LOG_INFO << "Resume listening";
        }
    }
}

void GatewayManager::onObserverServerStatus(TCPSERVER_STATUS state, QString, quint8 count)
{
    if (state == TCPSERVER_STARTED)
        LOG_INFO << qPrintable(
                QStringLiteral("Observers %1/%2").arg(count).arg(MaxClientConnections));
    else if (state == TCPSERVER_ERROR)
        observerRetryTimer.start();
}

void GatewayManager::logTraffic(const char *direction, const QByteArray &message, quint64 client,
                                const char *toOrFrom)
{
    if (!GatewaySettings::logTrafficInAnyThread()
        || VqLog::Logger::instance().loggingLevel() > VqLog::Info)
        return;
    // The line is made in place, the traffic escaped into it after the level and time.
    QString line = VqLog::linePrefix(VqLog::Info, message.size() + 16);
    appendTrafficLogMessage(line, direction, message);
    // After the quoted bytes, so that what reads the direction and the bytes reads them as ever.
    if (client != 0)
        line += QLatin1String(toOrFrom) + QLatin1Char(' ') + clientServer->clientName(client)
                + QLatin1Char(' ');
    VqLog::Logger::instance().write(line, VqLog::Info);
}

void GatewayManager::clientMessageReceived(QByteArray message)
{
    if (observerServer)
        observerServer->sendToAllClients(message);
    // Routed lines are logged as the router passes them on, with the client they go to.
    if (router) {
        router->deviceData(message);
    } else {
        holdDeviceWhen(clientServer->sendToAllClients(message));
        logTraffic("[DEVICE] - ", message);
    }
}

void GatewayManager::serverMessageReceived(quint64 client, QByteArray message)
{
    if (router) {
        // Lines wait their turn in the router, in the GUI thread; until they reached the device
        // they count as waiting for it.
        clientServer->bytesPending(client, message.size());
        postedToRouter += message.size() + queuedPieceOverheadBytes;
        routerInbox.post([this, client, message] {
            postedToRouter -= message.size() + queuedPieceOverheadBytes;
            logTraffic("[CLIENT] - ", message, client, "from");
            router->clientData(client, message);
            updateClientHold();
        });
        updateClientHold();
        return;
    }
    // Without a device link the message is dropped; it is still logged.
    if (!deviceClient.load()->write(message))
        noteDropped(client, message.size());
    logTraffic("[CLIENT] - ", message, client, "from");
    updateClientHold();
}

GatewayManager::Counters GatewayManager::counters() const
{
    Counters now;
    now.deviceConnected = deviceState == VQDEVICE_CONNECTED;
    now.clients = clientServer->clientCount();
    for (const DeviceLink *link : {networkLink, serialLink}) {
        if (link) {
            now.bytesFromDevice += link->bytesFromDevice();
            now.bytesToDevice += link->bytesToDevice();
        }
    }
    now.deviceConnects = deviceConnects;
    now.deviceErrors = deviceErrors;
    now.deviceHolds = deviceHolds;
    now.clientHolds = clientHolds;
    now.replyTimeouts = replyTimeouts;
    now.deviceStateSinceMs = deviceStateSinceMs;
    now.failedAttemptsSince = failedAttemptsSince;
    now.bytesDroppedDeviceDown = droppedDeviceDown;
    if (router) {
        const TurnKeeper &keeper = router->turnKeeper();
        now.turns = keeper.turns();
        now.lockGrants = keeper.lockGrants();
        now.lockExpiries = keeper.lockExpiries();
        now.eventLines = router->eventLines();
        now.waitCounts = keeper.waitTimes().counts();
        now.waitSumMs = keeper.waitTimes().sumMs();
    }
    for (const TcpServerService *server : {clientServer, observerServer}) {
        if (!server)
            continue;
        now.clientConnections += server->connectionsAccepted();
        now.refusedAtLimit += server->refusedAtLimit();
        now.refusedNotAllowed += server->refusedNotAllowed();
        now.droppedAsStalled += server->droppedAsStalled();
        now.refusedDeviceDown += server->refusedDeviceDown();
    }
    if (observerServer)
        now.observers = observerServer->clientCount();
    return now;
}

namespace {

QJsonArray clientList(const QList<ClientInfo> &clients)
{
    QJsonArray list;
    for (const ClientInfo &client : clients) {
        list.append(
                QJsonObject{{QStringLiteral("number"), double(client.number)},
                            {QStringLiteral("address"), unmappedAddress(client.address).toString()},
                            {QStringLiteral("port"), client.port},
                            {QStringLiteral("since"), isoDateTime(client.since)},
                            {QStringLiteral("bytesReceived"), double(client.bytesReceived)},
                            {QStringLiteral("bytesSent"), double(client.bytesSent)},
                            {QStringLiteral("bytesWaiting"), double(client.bytesWaiting)}});
    }
    return list;
}

}

QList<ClientInfo> GatewayManager::connectedClients(ClientThread::Role role) const
{
    const TcpServerService *server = role == ClientThread::Observer ? observerServer : clientServer;
    return server ? server->clients() : QList<ClientInfo>();
}

QJsonObject GatewayManager::status() const
{
    static const char *const deviceStates[] = {"connecting", "connected", "error", "disconnected"};
    static const char *const serverStates[] = {"idle", "listening", "error"};
    const Counters now = counters();
    const bool paused = serverState == VQSERVER_STARTED && listeningPaused;
    QJsonObject status{
            {QStringLiteral("device"),
             QJsonObject{
                     {QStringLiteral("address"), deviceTarget.address},
                     {QStringLiteral("port"), int(deviceTarget.port)},
                     {QStringLiteral("state"), QLatin1String(deviceStates[deviceState])},
                     {QStringLiteral("since"), isoDateTime(deviceSince)},
                     {QStringLiteral("bytesToDevice"), double(now.bytesToDevice)},
                     {QStringLiteral("bytesFromDevice"), double(now.bytesFromDevice)},
                     {QStringLiteral("reconnects"),
                      double(now.deviceConnects > 0 ? now.deviceConnects - 1 : 0)},
                     {QStringLiteral("errors"), double(now.deviceErrors)},
                     {QStringLiteral("up"), deviceUp},
                     {QStringLiteral("upOrDownSince"),
                      isoDateTime(QDateTime::fromMSecsSinceEpoch(now.deviceStateSinceMs))},
                     {QStringLiteral("failedAttemptsSince"), double(now.failedAttemptsSince)},
                     {QStringLiteral("bytesDroppedWhileDown"), double(now.bytesDroppedDeviceDown)},
                     {QStringLiteral("lastError"), lastDeviceError}}},
            {QStringLiteral("server"),
             QJsonObject{{QStringLiteral("listenAddress"), settings.listenAddress()},
                         {QStringLiteral("port"), int(localPort)},
                         {QStringLiteral("state"),
                          paused ? QStringLiteral("paused at the limit")
                                 : QLatin1String(serverStates[serverState])},
                         {QStringLiteral("since"), isoDateTime(serverSince)},
                         {QStringLiteral("clients"), now.clients},
                         {QStringLiteral("maxClients"), MaxClientConnections}}},
            {QStringLiteral("clients"), clientList(connectedClients())},
            {QStringLiteral("flowControl"),
             QJsonObject{{QStringLiteral("deviceHolds"), double(now.deviceHolds)},
                         {QStringLiteral("clientHolds"), double(now.clientHolds)},
                         {QStringLiteral("stalledClientsDropped"), double(now.droppedAsStalled)}}}};
    if (router && router->turnKeeper().rules().enabled()) {
        static const char *const holds[] = {"none", "turn", "lock"};
        const TurnKeeper &keeper = router->turnKeeper();
        const TurnKeeper::Hold hold = keeper.hold();
        QJsonObject sharing{{QStringLiteral("hold"), QLatin1String(holds[hold])},
                            {QStringLiteral("linesWaiting"), double(router->linesWaiting())},
                            {QStringLiteral("turns"), double(now.turns)},
                            {QStringLiteral("lockGrants"), double(now.lockGrants)},
                            {QStringLiteral("lockExpiries"), double(now.lockExpiries)}};
        if (hold != TurnKeeper::Free) {
            sharing.insert(QStringLiteral("holder"), double(keeper.holder()));
            sharing.insert(QStringLiteral("since"),
                           isoDateTime(QDateTime::fromMSecsSinceEpoch(keeper.holdingSinceMs())));
        }
        status.insert(QStringLiteral("sharing"), sharing);
    }
    if (deviceTarget.isSerial()) {
        QJsonObject device = status.value(QStringLiteral("device")).toObject();
        // The network address is not in use: shown, it would be read as the device's.
        device.remove(QStringLiteral("address"));
        device.remove(QStringLiteral("port"));
        device.insert(QStringLiteral("serialPort"), deviceTarget.serialPort);
        device.insert(QStringLiteral("serialSettings"), deviceTarget.serialSettings);
        status.insert(QStringLiteral("device"), device);
    }
    if (observerServer) {
        QJsonObject server = status.value(QStringLiteral("server")).toObject();
        server.insert(QStringLiteral("observers"), now.observers);
        server.insert(QStringLiteral("observerListen"), settings.observerListen());
        status.insert(QStringLiteral("server"), server);
        status.insert(QStringLiteral("observers"),
                      clientList(connectedClients(ClientThread::Observer)));
    }
    return status;
}
