#include "gateway/tcpserverservice.h"

#include "VqLog/vqlog.h"
#include "gateway/clientthread.h"
#include "gateway/relaytext.h"

#include <QHostAddress>

#include <algorithm>

namespace {

QString startedText(int count)
{
    return QStringLiteral("Started - Connections %1/%2").arg(count).arg(MaxClientConnections);
}

}

TcpServerService::TcpServerService(QObject *parent)
    : QTcpServer(parent)
{
}

TcpServerService::~TcpServerService()
{
    LOG_INFO << "Server deleted";
    // A client leaving right now finds the list empty and reports nothing to a server that is
    // going away; the server stays whole until every thread that could still call it has ended.
    {
        std::lock_guard<std::mutex> lock(clientThreadsMutex);
        clientThreads.clear();
    }
    // Client threads delete themselves through the event loop, which may be gone already at
    // program exit: end and delete the ones still alive here.
    for (const QPointer<ClientThread> &thread : qAsConst(liveThreads)) {
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
    emit connectState(TCPSERVER_STARTED, startedText(count), quint8(count));
}

void TcpServerService::startListening(quint16 port, const QHostAddress &address)
{
    // Port 0 would listen on a port chosen by the system, which no client application knows.
    if (port != 0 && !address.isNull() && listen(address, port)) {
        reportStarted(clientCount());
        LOG_INFO << "Listening to" << port << "...";
    } else {
        emit connectState(TCPSERVER_ERROR, QStringLiteral("Error: check your settings"),
                          quint8(clientCount()));
        LOG_ERROR << "Could not start server";
    }
}

void TcpServerService::incomingConnection(qintptr socketDescriptor)
{
    LOG_INFO << "Incoming connection detected...";
    const quint64 client = ++lastClientNumber;
    auto *thread = new ClientThread(int(socketDescriptor), nullptr, client);
    connect(
            thread, &ClientThread::receivedMessage, this,
            [this, client](const QString &msg) {
                processMsg(msg);
                emit clientMessage(client, msg);
            },
            Qt::DirectConnection);
    connect(thread, &ClientThread::clientClosed, this, &TcpServerService::threadFinished,
            Qt::DirectConnection);
    connect(thread, &ClientThread::backlogDrained, this, &TcpServerService::clientBacklogDrained,
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
        reportStarted(clientThreads.size());
    }
    thread->start(QThread::InheritPriority);
}

void TcpServerService::processMsg(QString msg)
{
    emit messageReceived(msg);
}

void TcpServerService::threadFinished(int threadId)
{
    LOG_INFO << "Thread" << threadId << "finished";
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    // The descriptor is closed before the thread reports, so a new client may already have it:
    // the departing thread is the earlier of the two in the list.
    const auto gone
            = std::find_if(clientThreads.begin(), clientThreads.end(),
                           [threadId](ClientThread *thread) { return thread->id() == threadId; });
    // A thread the server already let go of (stopped, or the server is going away) has
    // nothing to report: the server is idle and says so itself.
    if (gone == clientThreads.end())
        return;
    emit clientLeft((*gone)->number());
    clientThreads.erase(gone);
    reportStarted(clientThreads.size());
}

bool TcpServerService::sendToAllClients(const QString &message)
{
    // Converted once; every client's queue shares the same bytes.
    const QByteArray bytes = bytesFromText(message);
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    bool over = false;
    for (ClientThread *thread : qAsConst(clientThreads))
        over = thread->queueBytes(bytes) || over;
    return over;
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
    for (ClientThread *thread : qAsConst(clientThreads))
        largest = qMax(largest, thread->backlog());
    return largest;
}

void TcpServerService::setClientReadingPaused(bool paused)
{
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    clientReadingPaused = paused;
    for (ClientThread *thread : qAsConst(clientThreads))
        thread->setReadingPaused(paused);
}

bool TcpServerService::sendToClient(quint64 client, const QString &message)
{
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    for (ClientThread *thread : qAsConst(clientThreads)) {
        if (thread->number() == client)
            return thread->queueMessage(message);
    }
    return false;
}

void TcpServerService::stopServer()
{
    LOG_INFO << "Stopping server client threads...";
    {
        std::lock_guard<std::mutex> lock(clientThreadsMutex);
        for (ClientThread *thread : qAsConst(clientThreads)) {
            thread->stop();
            emit clientLeft(thread->number());
        }
        clientThreads.clear();
    }
    LOG_INFO << "Stopping server...";
    close();
    emit connectState(TCPSERVER_IDLE, QStringLiteral("Idle"), 0);
}
