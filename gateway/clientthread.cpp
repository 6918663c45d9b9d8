#include "gateway/clientthread.h"

#include "VqLog/vqlog.h"
#include "gateway/client.h"
#include "gateway/flowcontrol.h"
#include "gateway/relaytext.h"
#include "platform/keepalive.h"
#include "platform/socketdescriptor.h"

#include <QAbstractEventDispatcher>
#include <QHostAddress>
#include <QTimer>

#include <memory>

namespace {

// The server listens on both IPv4 and IPv6, so IPv4 clients arrive as ::ffff:a.b.c.d.
QString peerText(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

}

ClientThread::ClientThread(int socketDescriptor, QObject *parent, quint64 clientNumber)
    : QThread(parent)
    , socketDescriptor(socketDescriptor)
    , clientNumber(clientNumber)
{
}

ClientThread::~ClientThread()
{
    LOG_INFO << "Client thread deleted";
    // The worker's last touch of this object happened under the mutex.
    std::lock_guard<std::mutex> lock(mutex);
}

bool ClientThread::queueMessage(const QString &message)
{
    return queueBytes(bytesFromText(message));
}

bool ClientThread::queueBytes(const QByteArray &bytes)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        messageQueue.append(bytes);
        queuedBytes += bytes.size();
        if (dispatcher && !wakePending) {
            wakePending = true;
            dispatcher->wakeUp();
        }
    }
    if (backlog() <= backlogHighBytes)
        return overHighMark;
    overHighMark = true;
    // The worker may have drained everything before it could see the mark: whichever side
    // clears the mark reports the drain, and only one of them can.
    if (backlog() < backlogLowBytes && overHighMark.exchange(false)) {
        emit backlogDrained();
        return false;
    }
    return true;
}

void ClientThread::setReadingPaused(bool paused)
{
    readingPaused = paused;
    std::lock_guard<std::mutex> lock(mutex);
    if (dispatcher)
        dispatcher->wakeUp();
}

void ClientThread::stop()
{
    stopRequested = true;
    std::lock_guard<std::mutex> lock(mutex);
    if (dispatcher)
        dispatcher->wakeUp();
}

void ClientThread::onAwake()
{
    if (stopRequested) {
        exit();
        return;
    }
    drainQueue();
    if (!readingPaused && socket && socket->bytesAvailable() > 0)
        readyRead();
}

void ClientThread::run()
{
    // The owner deletes this object once the thread has finished. Taking the mutex as the last
    // step of the finish, after the owner's own reactions to finished(), lets the destructor,
    // which takes it too, see that ordering through a lock it can observe.
    connect(
            this, &QThread::finished, this, [this] { std::lock_guard<std::mutex> lock(mutex); },
            Qt::DirectConnection);
    const auto client = std::make_unique<Client>(socketDescriptor);
    if (client->state() != QAbstractSocket::ConnectedState) {
        // Nobody else will ever close this descriptor, and the server must learn that the
        // client is gone so that its count stays true.
        LOG_ERROR << "Client thread" << socketDescriptor << "could not take over its connection";
        Platform::closeSocketDescriptor(socketDescriptor);
        emit clientClosed(socketDescriptor);
        LOG_INFO << "Client thread" << socketDescriptor << "stopped";
        return;
    }
    socket = client.get();
    socket->setReadBufferSize(socketReadBufferBytes);
    Platform::enableKeepAlive(socketDescriptor, keepAliveIdleSeconds, keepAliveIntervalSeconds,
                              keepAliveProbes);
    QTimer stalled;
    stalled.setSingleShot(true);
    stalled.setInterval(stalledClientTimeoutMs);
    connect(&stalled, &QTimer::timeout, this, &ClientThread::dropStalledClient,
            Qt::DirectConnection);
    stallTimer = &stalled;
    connect(
            socket, &Client::bytesWritten, this, [this] { backlogMoved(true); },
            Qt::DirectConnection);
    // Replies are short and a client waits for each: a small write must not wait for the
    // client's delayed acknowledgement of the one before.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &Client::readyRead, this, &ClientThread::readyRead, Qt::DirectConnection);
    connect(socket, &Client::disconnected, this, &ClientThread::disconnected, Qt::DirectConnection);
    LOG_INFO << "New client thread" << socketDescriptor << "from"
             << peerText(socket->peerAddress());

    // Any wake-up of this thread's event loop, posted by queueMessage or stop or caused by the
    // socket, ends in onAwake, which drains the queue or ends the loop. No payload crosses
    // threads except through the queue and its mutex.
    QAbstractEventDispatcher *threadDispatcher = eventDispatcher();
    connect(threadDispatcher, &QAbstractEventDispatcher::awake, this, &ClientThread::onAwake,
            Qt::DirectConnection);
    {
        std::lock_guard<std::mutex> lock(mutex);
        dispatcher = threadDispatcher;
    }
    // Messages queued before the socket existed leave first.
    drainQueue();
    if (!stopRequested)
        exec();
    {
        std::lock_guard<std::mutex> lock(mutex);
        dispatcher = nullptr;
    }
    threadDispatcher->disconnect(this);

    if (!peerClosed) {
        // Stopped by the server: send what was queued, then close, so that the client
        // application sees the end of the stream. The server already let go of this thread,
        // so the close is not reported back to it.
        socket->disconnect(this);
        drainQueue();
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->waitForDisconnected(1000);
    }
    LOG_INFO << "Client thread" << socketDescriptor << "stopped";
    std::lock_guard<std::mutex> lock(mutex);
    stallTimer = nullptr;
    socket = nullptr;
}

void ClientThread::drainQueue()
{
    QList<QByteArray> pending;
    {
        std::lock_guard<std::mutex> lock(mutex);
        pending.swap(messageQueue);
        wakePending = false;
    }
    if (pending.isEmpty())
        return;
    for (const QByteArray &bytes : qAsConst(pending)) {
        if (!peerClosed)
            socket->write(bytes);
        queuedBytes -= bytes.size();
    }
    if (!peerClosed)
        socket->flush();
    backlogMoved(false);
}

void ClientThread::backlogMoved(bool progressed)
{
    unsentBytes = socket->bytesToWrite();
    const qint64 waiting = backlog();
    // Each byte the client takes restarts the wait; one that takes nothing for the whole time
    // is dropped.
    if (stallTimer && waiting > backlogHighBytes && (progressed || !stallTimer->isActive()))
        stallTimer->start();
    else if (stallTimer && waiting <= backlogHighBytes)
        stallTimer->stop();
    if (waiting < backlogLowBytes && overHighMark.exchange(false))
        emit backlogDrained();
}

void ClientThread::dropStalledClient()
{
    LOG_ERROR << "Client" << peerText(socket->peerAddress()) << "took nothing of its" << backlog()
              << "bytes for" << stalledClientTimeoutMs / 1000 << "s: disconnected";
    Platform::resetOnClose(socket->socketDescriptor());
    socket->abort();
}

void ClientThread::readyRead()
{
    if (readingPaused)
        return;
    emit receivedMessage(textFromBytes(socket->readAll()));
}

void ClientThread::disconnected()
{
    LOG_INFO << "Client thread has been disconnected.";
    peerClosed = true;
    emit clientClosed(socketDescriptor);
    stopRequested = true;
    exit();
}
