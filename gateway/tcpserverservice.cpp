#include "gateway/tcpserverservice.h"

#include "VqLog/vqlog.h"
#include "gateway/clientthread.h"

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

void TcpServerService::startListening(quint16 port)
{
    // Port 0 would listen on a port chosen by the system, which no client application knows.
    if (port != 0 && listen(QHostAddress::Any, port)) {
        reportStarted(clientCount());
        LOG_INFO << "Listening to" << port << "...";
    } else {
        emit connectState(TCPSERVER_ERROR, QStringLiteral("Error: check your settings"), quint8(clientCount()));
        LOG_ERROR << "Could not start server";
    }
}

void TcpServerService::incomingConnection(qintptr socketDescriptor)
{
    LOG_INFO << "Incoming connection detected...";
    auto *thread = new ClientThread(int(socketDescriptor));
    connect(thread, &ClientThread::receivedMessage, this, &TcpServerService::processMsg, Qt::DirectConnection);
    connect(thread, &ClientThread::clientClosed, this, &TcpServerService::threadFinished, Qt::DirectConnection);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater, Qt::AutoConnection);

    liveThreads.removeAll(QPointer<ClientThread>());
    liveThreads.append(thread);
    int count;
    {
        std::lock_guard<std::mutex> lock(clientThreadsMutex);
        clientThreads.append(thread);
        count = clientThreads.size();
    }
    thread->start(QThread::InheritPriority);
    reportStarted(count);
}

void TcpServerService::processMsg(QString msg)
{
    emit messageReceived(msg);
}

void TcpServerService::threadFinished(int threadId)
{
    LOG_INFO << "Thread" << threadId << "finished";
    int count;
    {
        std::lock_guard<std::mutex> lock(clientThreadsMutex);
        clientThreads.erase(std::remove_if(clientThreads.begin(), clientThreads.end(),
                                           [threadId](ClientThread *thread) { return thread->id() == threadId; }),
                            clientThreads.end());
        count = clientThreads.size();
    }
    reportStarted(count);
}

void TcpServerService::sendToAllClients(const QString &message)
{
    std::lock_guard<std::mutex> lock(clientThreadsMutex);
    for (ClientThread *thread : qAsConst(clientThreads))
        thread->queueMessage(message);
}

void TcpServerService::stopServer()
{
    LOG_INFO << "Stopping server client threads...";
    {
        std::lock_guard<std::mutex> lock(clientThreadsMutex);
        for (ClientThread *thread : qAsConst(clientThreads))
            thread->stop();
        clientThreads.clear();
    }
    LOG_INFO << "Stopping server...";
    close();
    emit connectState(TCPSERVER_IDLE, QStringLiteral("Idle"), 0);
}
