#include "gateway/relay/tcpserverservice.h"

#include "VqLog/vqlog.h"
#include "gateway/relay/flowcontrol.h"
#include "platform/socketdescriptor.h"

#include <QHostAddress>
#include <QTimer>

#include <algorithm>
#include <utility>

TcpServerService::TcpServerService(QObject *parent, ClientThread::Role role)
    : QTcpServer(parent)
    , role(role)
{
    reserve.open(QIODevice::ReadOnly);
    placeCheck.setInterval(placeCheckMs);
    connect(&placeCheck, &QTimer::timeout, this, [this] {
        for (const QPair<qintptr, qint64> &waiting : std::exchange(waitingForPlace, {}))
            take(waiting.first, waiting.second);
        if (waitingForPlace.isEmpty())
            placeCheck.stop();
    });
}

TcpServerService::~TcpServerService()
{
    for (const QPair<qintptr, qint64> &waiting : std::as_const(waitingForPlace))
        Platform::closeSocketDescriptor(waiting.first);
    LOG_INFO << "Server deleted";
    // A client leaving right now finds the list empty and reports nothing to a server that is
    // going away; the server stays whole until every thread that could still call it has ended.
    {
        std::lock_guard<std::mutex> lock(clientThreadsMutex);
        clientThreads.clear();
    }
    // Client threads delete themselves through the event loop, which may be gone already at
    // program exit: end and delete the ones still alive here.
    for (const QPointer<ClientThread> &thread : std::as_const(liveThreads)) {
        if (!thread)
            continue;
        thread->stop();
        thread->wait();
        delete thread.data();
    }
}

int TcpServerService::clientCount() const
{
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    return clientThreads.size();
}

void TcpServerService::reportStarted(int count)
{
    const QString text = role == ClientThread::Observer
            ? QStringLiteral("Started - Observers %1/%2")
            : QStringLiteral("Started - Connections %1/%2");
    emit connectState(TCPSERVER_STARTED, text.arg(count).arg(MaxClientConnections), quint8(count));
}

void TcpServerService::startListening(quint16 port, const QHostAddress &address)
{
    // Port 0 would listen on a port chosen by the system, which no client application knows.
    if (port != 0 && !address.isNull() && listen(address, port)) {
        // Connections are taken here rather than by Qt, which, out of descriptors, would try again
        // and again at full speed without a word.
        pauseAccepting();
        acceptNotifier
                = std::make_unique<QSocketNotifier>(socketDescriptor(), QSocketNotifier::Read);
        connect(acceptNotifier.get(), &QSocketNotifier::activated, this,
                &TcpServerService::acceptWaiting);
        reportStarted(clientCount());
        if (role == ClientThread::Observer)
            LOG_INFO << "Listening for observers on" << port << "...";
        else
            LOG_INFO << "Listening to" << port << "...";
        return;
    }
    emit connectState(TCPSERVER_ERROR, QStringLiteral("Error: check your settings"),
                      quint8(clientCount()));
    const char *const what = role == ClientThread::Observer ? "the observer server" : "server";
    if (port == 0 || address.isNull()) {
        LOG_ERROR << "Could not start" << what;
        return;
    }
    // Why the system refused the port, in the words a user acts on.
    QString why = errorString();
    if (serverError() == QAbstractSocket::AddressInUseError)
        why = QStringLiteral("address in use");
    else if (serverError() == QAbstractSocket::SocketAddressNotAvailableError)
        why = QStringLiteral("address not available on this machine");
    else if (serverError() == QAbstractSocket::SocketAccessError)
        why = QStringLiteral("permission denied");
    LOG_ERROR << "Could not start" << what << "on"
              << qPrintable(address == QHostAddress::Any ? QStringLiteral("every interface")
                                                         : unmappedAddress(address).toString())
              << "port" << port << "-" << qPrintable(why);
}

bool TcpServerService::refuse(qintptr socketDescriptor, const QHostAddress &peer, qint64 cameAt)
{
    const char *const what = role == ClientThread::Observer ? "observers" : "clients";
    if (!allowed.allows(peer)) {
        ++notAllowed;
        if (refusals.shouldLog(peer, monotonicMs()))
            LOG_ERROR << "Connection from" << unmappedAddress(peer).toString()
                      << "refused: not among the allowed clients";
    } else if (!refusalReason.isEmpty()) {
        ++deviceDown;
        if (refusals.shouldLog(peer, monotonicMs()))
            LOG_INFO << "Connection from" << unmappedAddress(peer).toString()
                     << "refused:" << qPrintable(refusalReason);
    } else if (clientCount() >= MaxClientConnections && !makeRoom()) {
        // A script that closes and connects again at once finds its old place not yet free: the
        // new connection waits a moment for it.
        if (monotonicMs() - cameAt < placeWaitMs) {
            waitingForPlace.append({socketDescriptor, cameAt});
            placeCheck.start();
            return true;
        }
        ++atLimit;
        if (refusals.shouldLog(peer, monotonicMs()))
            LOG_INFO << "Connection from" << unmappedAddress(peer).toString()
                     << "refused:" << MaxClientConnections << what << "already connected";
    } else if (!Platform::descriptorsLeft(clientThreadDescriptors)) {
        logNoDescriptors(peer);
    } else {
        return false;
    }
    Platform::closeSocketDescriptor(socketDescriptor);
    return true;
}

bool TcpServerService::makeRoom()
{
    if (!waitingClientsGiveWay)
        return false;
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    for (ClientThread *thread : std::as_const(clientThreads)) {
        if (!thread->isWaitingForReplies())
            continue;
        LOG_INFO << "Client" << unmappedAddress(thread->peerAddress()).toString()
                 << "only waited for replies: it gives way to a new client";
        clientThreads.removeOne(thread);
        thread->stop();
        emit clientLeft(thread->number());
        return true;
    }
    return false;
}

void TcpServerService::acceptWaiting()
{
    bool outOfDescriptors = false;
    qintptr taken;
    while ((taken = Platform::acceptConnection(socketDescriptor(), &outOfDescriptors)) >= 0)
        incomingConnection(taken);
    if (!outOfDescriptors)
        return;
    // The connection that cannot be taken is taken with the reserve's descriptor and closed, so
    // that it is told at once; the server goes on after a pause that keeps a shortage that lasts
    // from busying this thread.
    reserve.close();
    logNoDescriptors(Platform::refuseWaitingConnection(socketDescriptor()));
    reserve.open(QIODevice::ReadOnly);
    acceptNotifier->setEnabled(false);
    QTimer::singleShot(100, acceptNotifier.get(), [this] { acceptNotifier->setEnabled(true); });
}

void TcpServerService::logNoDescriptors(const QHostAddress &peer)
{
    if (refusals.shouldLog(peer, monotonicMs()))
        LOG_ERROR << "Connection from" << unmappedAddress(peer).toString()
                  << "refused: no file descriptors left";
}

void TcpServerService::incomingConnection(qintptr socketDescriptor)
{
    take(socketDescriptor, monotonicMs());
}

void TcpServerService::take(qintptr socketDescriptor, qint64 cameAt)
{
    // Only this thread adds clients, so the count checked here cannot grow before the thread
    // below is listed.
    quint16 peerPort = 0;
    const QHostAddress peer = Platform::peerAddress(socketDescriptor, &peerPort);
    // A connection reset while it waited to be taken has no peer left: nobody to serve or name.
    if (peer.isNull()) {
        Platform::closeSocketDescriptor(socketDescriptor);
        return;
    }
    if (refuse(socketDescriptor, peer, cameAt))
        return;
    LOG_INFO << "Incoming connection detected...";
    ++accepted;
    const quint64 client = ++numbers->lastClientNumber;
    auto *thread = new ClientThread(int(socketDescriptor), nullptr, client, role, peer, peerPort);
    connect(
            thread, &ClientThread::receivedMessage, this,
            [this, client](const QByteArray &msg) { emit messageReceived(client, msg); },
            Qt::DirectConnection);
    connect(
            thread, &ClientThread::clientClosed, this, [this, thread] { threadFinished(thread); },
            Qt::DirectConnection);
    connect(
            thread, &ClientThread::inputEnded, this,
            [this, client] { emit clientInputEnded(client); }, Qt::DirectConnection);
    connect(thread, &ClientThread::backlogDrained, this, &TcpServerService::clientBacklogDrained,
            Qt::DirectConnection);
    connect(
            thread, &ClientThread::droppedAsStalled, this, [this] { ++stalled; },
            Qt::DirectConnection);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater, Qt::AutoConnection);

    liveThreads.removeAll(QPointer<ClientThread>());
    liveThreads.append(thread);
    {
        // Reported under the lock, before the thread can leave, so that the counts reach the
        // manager in the order they were taken.
        std::lock_guard<std::mutex> lock(clientThreadsMutex);
        thread->setReadingPaused(clientReadingPaused);
        clientThreads.append(thread);
        emit clientJoined(client);
        reportStarted(clientThreads.size());
    }
    thread->start(QThread::InheritPriority);
}

void TcpServerService::waitForClientThreads()
{
    // The threads delete themselves through this thread's event loop, so none is gone meanwhile.
    for (const QPointer<ClientThread> &thread : std::as_const(liveThreads))
        if (thread)
            thread->wait();
}

void TcpServerService::threadFinished(ClientThread *thread)
{
    LOG_INFO << "Thread" << thread->id() << "finished";
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    // A thread the server already let go of (stopped, or the server is going away) has
    // nothing to report: the server is idle and says so itself.
    if (!clientThreads.removeOne(thread))
        return;
    emit clientLeft(thread->number());
    reportStarted(clientThreads.size());
}

bool TcpServerService::sendToAllClients(const QByteArray &message)
{
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    bool over = false;
    for (ClientThread *thread : std::as_const(clientThreads))
        over = thread->send(message) || over;
    return over;
}

template<typename Action>
void TcpServerService::withClient(quint64 client, Action action)
{
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    for (ClientThread *thread : std::as_const(clientThreads)) {
        if (thread->number() == client) {
            action(thread);
            return;
        }
    }
}

QString TcpServerService::clientName(quint64 client)
{
    QString name = QStringLiteral("client %1").arg(client);
    withClient(client, [&name](ClientThread *thread) {
        name += QLatin1Char(' ') + clientEndpoint(thread->peerAddress(), thread->peerPort());
    });
    return name;
}

bool TcpServerService::sendToClient(quint64 client, const QByteArray &message)
{
    bool over = false;
    withClient(client, [&](ClientThread *thread) { over = thread->send(message); });
    return over;
}

void TcpServerService::bytesPending(quint64 client, qint64 bytes)
{
    withClient(client, [bytes](ClientThread *thread) { thread->bytesPending(bytes); });
}

void TcpServerService::bytesDelivered(quint64 client, qint64 bytes)
{
    withClient(client, [bytes](ClientThread *thread) { thread->bytesDelivered(bytes); });
}

void TcpServerService::repliesSettled(quint64 client)
{
    withClient(client, [](ClientThread *thread) { thread->repliesSettled(); });
}

bool TcpServerService::anyClientOverHighMark() const
{
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    return std::any_of(clientThreads.begin(), clientThreads.end(),
                       [](ClientThread *thread) { return thread->isOverHighMark(); });
}

qint64 TcpServerService::largestClientBacklog() const
{
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    qint64 largest = 0;
    for (ClientThread *thread : std::as_const(clientThreads))
        largest = qMax(largest, thread->backlog());
    return largest;
}

QList<ClientInfo> TcpServerService::clients() const
{
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    QList<ClientInfo> list;
    for (ClientThread *thread : std::as_const(clientThreads))
        list.append({thread->number(), thread->peerAddress(), thread->peerPort(),
                     thread->connectedSince(), thread->bytesReceived(), thread->bytesSent(),
                     thread->backlog()});
    return list;
}

void TcpServerService::setClientReadingPaused(bool paused, quint64 exempt)
{
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    clientReadingPaused = paused;
    for (ClientThread *thread : std::as_const(clientThreads))
        thread->setReadingPaused(paused && thread->number() != exempt);
}

void TcpServerService::closeClients(const QString &logLine)
{
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    if (clientThreads.isEmpty())
        return;
    LOG_INFO << qPrintable(logLine);
    letGoOfClients();
    reportStarted(0);
}

void TcpServerService::letGoOfClients()
{
    for (ClientThread *thread : std::as_const(clientThreads)) {
        thread->stop();
        emit clientLeft(thread->number());
    }
    clientThreads.clear();
}

void TcpServerService::stopServer()
{
    LOG_INFO << "Stopping server client threads...";
    {
        std::lock_guard<std::mutex> lock(clientThreadsMutex);
        letGoOfClients();
    }
    LOG_INFO << "Stopping server...";
    for (const QPair<qintptr, qint64> &waiting : std::exchange(waitingForPlace, {}))
        Platform::closeSocketDescriptor(waiting.first);
    placeCheck.stop();
    acceptNotifier.reset();
    close();
    emit connectState(TCPSERVER_IDLE, QStringLiteral("Idle"), 0);
}
