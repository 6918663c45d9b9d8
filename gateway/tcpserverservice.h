#pragma once

#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTcpServer>

#include <mutex>

class ClientThread;

enum TCPSERVER_STATUS : int { TCPSERVER_IDLE = 0, TCPSERVER_STARTED = 1, TCPSERVER_ERROR = 2 };
Q_DECLARE_METATYPE(TCPSERVER_STATUS)

// The number of client applications served at once.
constexpr int MaxClientConnections = 5;

// Listens for client applications, gives each accepted connection its own ClientThread, passes
// what the clients send up and fans device messages out to all of them.
class TcpServerService : public QTcpServer
{
    Q_OBJECT

public:
    explicit TcpServerService(QObject *parent = nullptr);
    ~TcpServerService() override;

    void startListening(quint16 port, const QHostAddress &address);
    void stopServer();
    // True when a client's backlog is now above the high mark: clientBacklogDrained() follows
    // when it is below the low mark again, or the client leaves.
    bool sendToAllClients(const QString &message);
    bool anyClientOverHighMark() const;
    qint64 largestClientBacklog() const;
    // Holds back what every client sends, new clients included, while the device lags behind.
    void setClientReadingPaused(bool paused);
    // The client that sent a clientMessage, while it is still connected.
    bool sendToClient(quint64 client, const QString &message);
    int clientCount() const;

signals:
    // Emitted with the client list locked, so that counts arrive in order: connect it queued.
    void connectState(TCPSERVER_STATUS state, QString info, quint8 count);
    void messageReceived(QString msg);
    // The same messages with the client they came from, and the end of each client: each client
    // has a number of its own that is never given again.
    void clientMessage(quint64 client, QString msg);
    void clientLeft(quint64 client);
    void clientBacklogDrained();

public slots:
    void processMsg(QString msg);
    void threadFinished(int threadId);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void reportStarted(int count);

    // Appended to and walked in the server's thread, shortened by the client threads as
    // their clients leave.
    QList<ClientThread *> clientThreads;
    mutable std::mutex clientThreadsMutex;
    // Every thread started and not yet deleted, stopped ones included, so that the server can
    // wait for them at the end. Touched in the server's thread only.
    QList<QPointer<ClientThread>> liveThreads;
    quint64 lastClientNumber = 0;
    bool clientReadingPaused = false; // guarded by clientThreadsMutex
};
