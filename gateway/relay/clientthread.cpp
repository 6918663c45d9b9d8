#include "gateway/relay/clientthread.h"

#include "VqLog/vqlog.h"
#include "gateway/relay/client.h"
#include "gateway/clientallowlist.h"
#include "gateway/relay/flowcontrol.h"
#include "platform/keepalive.h"
#include "platform/socketdescriptor.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <memory>

qint64 monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

ClientThread::ClientThread(int socketDescriptor, QObject *parent, quint64 clientNumber, Role role,
                           const QHostAddress &peer, quint16 peerPort)
    : QThread(parent)
    , socketDescriptor(socketDescriptor)
    , clientNumber(clientNumber)
    , clientRole(role)
    , peer(peer)
    , port(peerPort)
    , since(QDateTime::currentDateTime())
    , writer(role == Observer ? observerBacklogLimitBytes : backlogHighBytes,
             SocketWriter::State::Waiting, [this] { wakeUp(); })
{
}

ClientThread::~ClientThread()
{
    LOG_INFO << "Client thread deleted";
    // The owner may get here on finished() before the thread's own last step has run: wait for
    // that step, which touches this object under the mutex, then take the mutex, so that the
    // ordering shows through a lock that the thread checker sees (Qt's own it does not).
    wait();
    std::lock_guard<std::mutex> lock(mutex);
}

QString ClientThread::peerText() const
{
    return unmappedAddress(peer).toString();
}

void ClientThread::wakeUp()
{
    // One wake-up on its way is enough: the worker looks at everything once it is awake.
    if (wakePending.exchange(true))
        return;
    std::lock_guard<std::mutex> lock(mutex);
    if (dispatcher)
        dispatcher->wakeUp();
}

bool ClientThread::send(const QByteArray &bytes)
{
    if (dropRequested || !writer.write(bytes))
        return false;
    if (clientRole == Observer) {
        if (backlog() > observerBacklogLimitBytes && !dropRequested.exchange(true)) {
            // Its backlog is freed at once; the worker then closes the connection.
            writer.abandon();
            wakeUp();
        }
        return false;
    }
    if (backlog() <= backlogHighBytes)
        return overHighMark;
    // The writer woke the worker before the mark was set, and the worker may have looked
    // already: it is woken again, now that the mark is there, so that its stall timer starts.
    if (!overHighMark.exchange(true))
        wakeUp();
    // The worker may have sent everything before it could see the mark: whichever side clears
    // the mark reports the drain, and only one of them can.
    if (backlog() < backlogLowBytes && overHighMark.exchange(false)) {
        emit backlogDrained();
        return false;
    }
    return true;
}

void ClientThread::setReadingPaused(bool paused)
{
    readingPaused = paused;
    if (!paused)
        wakeUp();
}

void ClientThread::stop()
{
    stopRequested = true;
    wakeUp();
}

void ClientThread::bytesPending(qint64 bytes)
{
    pendingToDevice += bytes;
}

void ClientThread::bytesDelivered(qint64 bytes)
{
    lastDeliveredMs = monotonicMs();
    pendingToDevice -= bytes;
    if (halfClosed)
        wakeUp();
}

void ClientThread::repliesSettled()
{
    settled = true;
    wakeUp();
}

void ClientThread::onAwake()
{
    wakePending = false;
    if (stopRequested) {
        exit();
        return;
    }
    if (dropRequested) {
        dropClient();
        return;
    }
    if (!socket)
        return;
    if (writer.hasFailed() && (halfClosed || peerClosed)) {
        connectionFailed(writer.failureText());
        return;
    }
    if (writer.backlog() > 0 && !writable->isEnabled()) {
        writable->setEnabled(true);
        sendWaiting();
    } else {
        backlogMoved(false);
    }
    // An observer is never held back; nothing is read after the end of the input.
    const bool read = !halfClosed && (!readingPaused || clientRole == Observer);
    if (read != reading) {
        reading = read;
        socket->setReading(read);
    }
    waitForReplies();
}

void ClientThread::run()
{
    // The owner deletes this object once the thread has finished. Taking the mutex as the last
    // step of the finish, after the owner's own reactions to finished(), lets the destructor,
    // which takes it too, see that ordering through a lock it can observe.
    connect(
            this, &QThread::finished, this, [this] { std::lock_guard<std::mutex> lock(mutex); },
            Qt::DirectConnection);
    if (!writer.open(socketDescriptor)) {
        // Nobody else will ever close this descriptor, and the server must learn that the
        // client is gone so that its count stays true.
        LOG_ERROR << "Client thread" << socketDescriptor << "could not take over its connection";
        Platform::closeSocketDescriptor(socketDescriptor);
        emit clientClosed(socketDescriptor);
        LOG_INFO << "Client thread" << socketDescriptor << "stopped";
        return;
    }
    // Read by this thread, written by the writer on a descriptor of its own.
    const auto client = std::make_unique<Client>(socketDescriptor);
    socket = client.get();
    Platform::enableKeepAlive(socketDescriptor, keepAliveIdleSeconds, keepAliveIntervalSeconds,
                              keepAliveProbes);
    QTimer stalled;
    stalled.setSingleShot(true);
    stalled.setInterval(stalledClientTimeoutMs);
    connect(&stalled, &QTimer::timeout, this, &ClientThread::dropClient, Qt::DirectConnection);
    stallTimer = &stalled;
    QTimer waitEnded;
    waitEnded.setSingleShot(true);
    connect(&waitEnded, &QTimer::timeout, this, &ClientThread::finishPeerClose,
            Qt::DirectConnection);
    replyWait = &waitEnded;
    QTimer gone;
    connect(
            &gone, &QTimer::timeout, this,
            [this] {
                if (Platform::connectionGone(socketDescriptor))
                    finishPeerClose();
            },
            Qt::DirectConnection);
    goneCheck = &gone;
    QSocketNotifier notifier(writer.descriptor(), QSocketNotifier::Write);
    notifier.setEnabled(false);
    connect(&notifier, &QSocketNotifier::activated, this, &ClientThread::sendWaiting,
            Qt::DirectConnection);
    writable = &notifier;
    connect(socket, &Client::readyRead, this, &ClientThread::readyRead, Qt::DirectConnection);
    LOG_INFO << "New client thread" << socketDescriptor << "from" << peerText() << "port" << port
             << "as" << (clientRole == Observer ? "observer" : "client") << clientNumber;

    // Any wake-up of this thread's event loop, posted by another thread or caused by the
    // socket, ends in onAwake, which sends what waits, resumes reading or ends the loop.
    QAbstractEventDispatcher *threadDispatcher = eventDispatcher();
    connect(threadDispatcher, &QAbstractEventDispatcher::awake, this, &ClientThread::onAwake,
            Qt::DirectConnection);
    {
        std::lock_guard<std::mutex> lock(mutex);
        dispatcher = threadDispatcher;
    }
    // What was sent before the socket existed leaves first.
    onAwake();
    if (!stopRequested)
        exec();
    {
        std::lock_guard<std::mutex> lock(mutex);
        dispatcher = nullptr;
    }
    threadDispatcher->disconnect(this);

    if (!peerClosed) {
        // Stopped by the server: send what waits, then close, so that the client application
        // sees the end of the stream. The server already let go of this thread, so the close
        // is not reported back to it.
        writable->setEnabled(false);
        writer.flush(1000);
        writer.close();
    }
    writable = nullptr;
    LOG_INFO << "Client thread" << socketDescriptor << "stopped";
    std::lock_guard<std::mutex> lock(mutex);
    stallTimer = nullptr;
    replyWait = nullptr;
    goneCheck = nullptr;
    socket = nullptr;
}

void ClientThread::sendWaiting()
{
    const qint64 sent = writer.sendWaiting();
    if (writer.backlog() == 0 || writer.hasFailed())
        writable->setEnabled(false);
    backlogMoved(sent > 0);
    if (writer.hasFailed() && halfClosed)
        connectionFailed(writer.failureText());
}

void ClientThread::backlogMoved(bool progressed)
{
    const qint64 waiting = writer.backlog();
    if (waiting < backlogLowBytes && overHighMark.exchange(false))
        emit backlogDrained();
    // While the client holds the device back, each byte it takes restarts the wait; one that
    // takes nothing for the whole time is dropped, so that it cannot hold the others back.
    if (overHighMark && (progressed || !stallTimer->isActive()))
        stallTimer->start();
    else if (!overHighMark)
        stallTimer->stop();
}

void ClientThread::dropClient()
{
    if (peerClosed)
        return;
    if (clientRole == Observer) {
        LOG_ERROR << "Observer" << peerText() << "fell more than"
                  << observerBacklogLimitBytes / (1024 * 1024) << "MiB behind: disconnected";
    } else {
        LOG_ERROR << "Client" << peerText() << "took nothing of its" << backlog() << "bytes for"
                  << stalledClientTimeoutMs / 1000 << "s: disconnected";
        emit droppedAsStalled();
    }
    socket->resetOnClose();
    dropRequested = true;
    finishPeerClose();
}

void ClientThread::readyRead()
{
    QByteArray bytes;
    QString failure;
    switch (socket->read(&bytes, socketReadBufferBytes, &failure)) {
    case Platform::ReceiveResult::Nothing:
        return;
    case Platform::ReceiveResult::Failed:
        connectionFailed(failure);
        return;
    case Platform::ReceiveResult::End:
        inputEndedByPeer();
        return;
    case Platform::ReceiveResult::Received:
        break;
    }
    received.fetch_add(quint64(bytes.size()), std::memory_order_relaxed);
    if (clientRole == Observer) {
        if (!discardNoted)
            LOG_INFO << "Observer" << peerText() << "sent data: discarded, observers only watch";
        discardNoted = true;
        return;
    }
    emit receivedMessage(bytes);
    // Unless the bytes wait on their way (reply routing), they reached the device just now.
    if (pendingToDevice == 0)
        lastDeliveredMs = monotonicMs();
}

void ClientThread::inputEndedByPeer()
{
    // The peer may only have ended its sending side, as a command piped into a one-shot tool
    // does: it is kept as a receiver while its replies may still come, and an observer, which
    // has nothing to send, for as long as it takes what it is sent.
    if (writer.hasFailed()) {
        connectionFailed(writer.failureText());
        return;
    }
    if (clientRole == Application)
        LOG_INFO << "Client" << peerText() << "ended its sending side: kept for its replies";
    halfClosed = true;
    reading = false;
    socket->setReading(false);
    // A peer that closed altogether answers the next bytes it is sent with a reset: it is
    // looked for often while a client waits for its replies, seldom for an observer.
    goneCheck->start(clientRole == Observer ? halfClosedObserverCheckMs : halfClosedClientCheckMs);
    waitForReplies();
}

void ClientThread::waitForReplies()
{
    if (!halfClosed || peerClosed || clientRole == Observer)
        return;
    if (!inputEndReported) {
        inputEndReported = true;
        emit inputEnded();
    }
    if (settled) {
        finishPeerClose();
        return;
    }
    if (pendingToDevice > 0) {
        replyWait->stop();
        return;
    }
    const qint64 remaining = lastDeliveredMs + halfClosedReplyWaitMs - monotonicMs();
    if (remaining <= 0)
        finishPeerClose();
    else if (!replyWait->isActive())
        replyWait->start(int(remaining));
}

void ClientThread::connectionFailed(const QString &reason)
{
    // A reset is how many applications close; anything else is worth a line with the reason.
    const QString why = reason == Platform::timedOutText()
            ? QStringLiteral("it took nothing, or answered no keep-alive probe, for %1 s")
                      .arg(peerSilenceLimitSeconds)
            : reason;
    if (!peerClosed && reason != Platform::peerResetText())
        LOG_ERROR << (clientRole == Observer ? "Observer" : "Client") << peerText()
                  << "lost:" << qPrintable(why);
    finishPeerClose();
}

void ClientThread::finishPeerClose()
{
    if (peerClosed)
        return;
    peerClosed = true;
    LOG_INFO << "Client thread has been disconnected.";
    writable->setEnabled(false);
    socket->setReading(false);
    goneCheck->stop();
    writer.close();
    emit clientClosed(socketDescriptor);
    stopRequested = true;
    exit();
}
