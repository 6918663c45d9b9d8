#pragma once

#include "gateway/clientallowlist.h"
#include "gateway/relay/clientthread.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QProcess>
#include <QSocketNotifier>
#include <QString>
#include <QTcpServer>
#include <QTimer>

#include <atomic>
#include <memory>
#include <mutex>

enum TCPSERVER_STATUS : int { TCPSERVER_IDLE = 0, TCPSERVER_STARTED = 1, TCPSERVER_ERROR = 2 };
Q_DECLARE_METATYPE(TCPSERVER_STATUS)

// The number of client applications served at once, and of observers beside them.
constexpr int MaxClientConnections = 5;
// What a client thread opens as it starts (its event loop's wake-up and the writer's copy of the
// socket), and as much again left over for the rest of the program.
constexpr int clientThreadDescriptors = 4;

// One connected client as the status shows it.
struct ClientInfo
{
    quint64 number = 0;
    QHostAddress address;
    quint16 port = 0;
    QDateTime since;
    quint64 bytesReceived = 0;
    quint64 bytesSent = 0;
    qint64 bytesWaiting = 0;
};

// Listens for client applications (or observers), gives each accepted connection its own
// ClientThread, passes what the clients send up and sends what the device sends to all of them.
// It never serves more than MaxClientConnections at once, and refuses addresses it may not serve.
class TcpServerService : public QTcpServer
{
    Q_OBJECT

public:
    explicit TcpServerService(QObject *parent = nullptr,
                              ClientThread::Role role = ClientThread::Application);
    ~TcpServerService() override;

    void startListening(quint16 port, const QHostAddress &address);
    void stopServer();
    // After stopServer(): returns once no client thread can pass anything on any more.
    void waitForClientThreads();
    void setAllowedClients(const ClientAllowList &list) { allowed = list; }

    // Any thread. True when a client's backlog is now above the high mark: clientBacklogDrained()
    // follows when it is below the low mark again, or the client leaves.
    bool sendToAllClients(const QByteArray &message);
    // The client that sent a message, while it is still connected.
    bool sendToClient(quint64 client, const QByteArray &message);
    bool anyClientOverHighMark() const;
    qint64 largestClientBacklog() const;
    // Holds back what every client sends, new clients included, while the device lags behind;
    // all but the client exempt.
    void setClientReadingPaused(bool paused, quint64 exempt = 0);
    int clientCount() const;
    // "client 3 127.0.0.1:50000": the number the log, the status and the metrics use, and where
    // it connects from; the number alone once it is gone.
    QString clientName(quint64 client);
    // Numbers are never given twice in a run, observers' and clients' alike.
    void shareNumbersWith(TcpServerService *server) { numbers = server; }
    QList<ClientInfo> clients() const;
    // A client's bytes wait on their way to the device, or reached it.
    void bytesPending(quint64 client, qint64 bytes);
    void bytesDelivered(quint64 client, qint64 bytes);
    // Nothing more is owed to the client: if it ended its sending side, it goes now.
    void repliesSettled(quint64 client);
    // At the limit, a client that ended its sending side and only waits for possible replies is
    // let go for a new one.
    void setWaitingClientsGiveWay(bool on) { waitingClientsGiveWay = on; }
    // While a reason is set, each new connection is closed at once, as at the limit.
    void setRefusalReason(const QString &reason) { refusalReason = reason; }
    // Closes every client, after what waits for it, and goes on listening.
    void closeClients(const QString &logLine);

    quint64 refusedAtLimit() const { return atLimit.load(std::memory_order_relaxed); }
    quint64 refusedNotAllowed() const { return notAllowed.load(std::memory_order_relaxed); }
    quint64 connectionsAccepted() const { return accepted.load(std::memory_order_relaxed); }
    quint64 droppedAsStalled() const { return stalled.load(std::memory_order_relaxed); }
    quint64 refusedDeviceDown() const { return deviceDown.load(std::memory_order_relaxed); }

signals:
    // Emitted with the client list locked, so that counts arrive in order: connect it queued.
    void connectState(TCPSERVER_STATUS state, QString info, quint8 count);
    // Emitted in the client's own thread, once for each read, without framing. Each client has a
    // number of its own that is never given again.
    void messageReceived(quint64 client, QByteArray msg);
    void clientJoined(quint64 client);
    void clientLeft(quint64 client);
    // The client ended its sending side: what it sent will not be completed.
    void clientInputEnded(quint64 client);
    void clientBacklogDrained();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void threadFinished(ClientThread *thread);
    void reportStarted(int count);
    // Serves the connection, or closes it; at the limit, it waits a moment from when it came.
    void take(qintptr socketDescriptor, qint64 cameAt);
    bool refuse(qintptr socketDescriptor, const QHostAddress &peer, qint64 cameAt);
    bool makeRoom();
    // With the client list locked: stops every client thread and forgets it.
    void letGoOfClients();
    void acceptWaiting();
    void logNoDescriptors(const QHostAddress &peer);
    template<typename Action>
    void withClient(quint64 client, Action action);

    const ClientThread::Role role;
    ClientAllowList allowed;
    RefusalLog refusals;
    // Held for the moment no other descriptor can be opened, to take and close a connection
    // that could not be taken otherwise.
    QFile reserve{QProcess::nullDevice()};
    std::unique_ptr<QSocketNotifier> acceptNotifier;
    // Appended to and walked in the server's thread, shortened by the client threads as
    // their clients leave.
    QList<ClientThread *> clientThreads;
    mutable std::mutex clientThreadsMutex;
    // Every thread started and not yet deleted, stopped ones included, so that the server can
    // wait for them at the end. Touched in the server's thread only.
    QList<QPointer<ClientThread>> liveThreads;
    quint64 lastClientNumber = 0;
    TcpServerService *numbers = this; // whose lastClientNumber gives the next number
    bool clientReadingPaused = false; // guarded by clientThreadsMutex
    bool waitingClientsGiveWay = false;
    std::atomic<quint64> atLimit{0};
    std::atomic<quint64> notAllowed{0};
    std::atomic<quint64> accepted{0};
    std::atomic<quint64> stalled{0};
    std::atomic<quint64> deviceDown{0};
    QString refusalReason;
    // Connections that came while every place was taken, with when they came.
    QList<QPair<qintptr, qint64>> waitingForPlace;
    QTimer placeCheck;
    static constexpr int placeCheckMs = 20;
    static constexpr int placeWaitMs = 250;
};
