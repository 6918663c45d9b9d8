#pragma once

#include "gateway/gatewaysettings.h"
#include "gateway/device/devicelink.h"
#include "gateway/relay/tcpserverservice.h"
#include "gateway/relay/threadinbox.h"
#include "gateway/routing/turnkeeper.h"

#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <mutex>

class ReplyRouter;
struct ReplyRule;

enum VQDEVICE_STATUS : int {
    VQDEVICE_CONNECTING = 0,
    VQDEVICE_CONNECTED = 1,
    VQDEVICE_ERROR = 2,
    VQDEVICE_DISCONNECTED = 3
};
Q_DECLARE_METATYPE(VQDEVICE_STATUS)

enum VQSERVER_STATUS : int { VQSERVER_IDLE = 0, VQSERVER_STARTED = 1, VQSERVER_ERROR = 2 };
Q_DECLARE_METATYPE(VQSERVER_STATUS)

// The relay between the device link and the client server: passes bytes both ways, turns the
// two services' statuses into the window's, starts and retries both sides when "Autoconnect"
// is on, and pauses listening while the client limit is reached. A client's bytes go to the
// device from the client's own thread, and the device's lines to the clients from the thread
// that read them, so that a command and its reply wake one thread each way.
class GatewayManager : public QObject
{
    Q_OBJECT

public:
    static constexpr int retryIntervalMs = 5000;
    // At the end, a device that reads slowly gets this long to take what waits for it.
    static constexpr int stopFlushMs = 3000;

    // A manager that keeps connected starts both sides and retries them whatever "Autoconnect"
    // says, as a gateway running as a service does.
    explicit GatewayManager(QObject *parent = nullptr, bool keepConnected = false);
    ~GatewayManager() override;

    // What the gateway has done since it started, read from any thread.
    struct Counters
    {
        bool deviceConnected = false;
        int clients = 0;
        int observers = -1; // without an observers' port
        quint64 bytesFromDevice = 0;
        quint64 bytesToDevice = 0;
        quint64 deviceConnects = 0;
        quint64 deviceErrors = 0;
        quint64 clientConnections = 0;
        quint64 refusedAtLimit = 0;
        quint64 refusedNotAllowed = 0;
        quint64 droppedAsStalled = 0;
        quint64 deviceHolds = 0;
        quint64 clientHolds = 0;
        quint64 replyTimeouts = 0;
        // Since when the device link is up, or down, in ms since the epoch, and the attempts
        // to connect that failed since.
        qint64 deviceStateSinceMs = 0;
        quint64 failedAttemptsSince = 0;
        quint64 bytesDroppedDeviceDown = 0;
        quint64 refusedDeviceDown = 0;
        // Sharing the device.
        quint64 turns = 0;
        quint64 lockGrants = 0;
        quint64 lockExpiries = 0;
        quint64 eventLines = 0;
        // How long lines waited for their turn, per bound of WaitHistogram::boundsMs.
        std::array<quint64, WaitHistogram::boundsMs.size() + 1> waitCounts{};
        quint64 waitSumMs = 0;
    };
    Counters counters() const;
    // The client applications connected now, or the observers, each under the number the log
    // and the status give it; read from any thread.
    QList<ClientInfo> connectedClients(ClientThread::Role role = ClientThread::Application) const;
    // What the gateway is doing, with every client, for the status command.
    QJsonObject status() const;

signals:
    void connectionStateChanged(VQDEVICE_STATUS state, QString info);
    void serverStateChanged(VQSERVER_STATUS state, QString info);

public slots:
    void connectDevice(QString ipAddress, uint port);
    // A network or a serial device; the link is the one for the target's kind.
    void connectDevice(const DeviceTarget &target);
    void closeDeviceConnection();
    bool isConnectedToDevice();
    void startServer(uint port);
    void closeServer();
    bool isServerStarted();

private slots:
    void onDeviceLinkStatus(TCPCLIENT_STATUS state, QString info);
    void onTcpServerStatus(TCPSERVER_STATUS state, QString info, quint8 count);
    void onObserverServerStatus(TCPSERVER_STATUS state, QString info, quint8 count);
    // Device to clients, in the GUI thread.
    void clientMessageReceived(QByteArray message);
    // A client to the device, in that client's own thread.
    void serverMessageReceived(quint64 client, QByteArray message);
    void deviceConnectionAttempt();
    void serverStartAttempt();

private:
    // The link for the target's kind, made the first time it is needed and wired to the relay.
    DeviceLink *linkFor(const DeviceTarget &target);
    DeviceTarget storedTarget() const;
    void routeReplies(const ReplyRule &rule, const SharingRules &sharing,
                      const QByteArray &lockReply, const QByteArray &unlockReply);
    ReplyRule replyRule() const;
    SharingRules sharingRules() const;
    void startObservers();
    void allowClients();
    void writeToDevice(quint64 client, const QByteArray &line);
    // Any thread: holds the clients back while too much waits for the device, and lets them go
    // on once it has caught up.
    void updateClientHold();
    qint64 deviceBacklog() const;
    quint64 lockHolderToRead() const;
    // A client whose backlog passed the high mark holds the device back until it catches up.
    void holdDeviceWhen(bool clientOverHighMark);
    void resumeDeviceReading();
    bool autoconnect() const { return keepConnected || settings.autoconnect(); }
    QHostAddress listenAddress() const;
    void retryDevice();
    void retryServer();
    // With a client, the line names it after the bytes: "from" or "to" it.
    void logTraffic(const char *direction, const QByteArray &message, quint64 client = 0,
                    const char *toOrFrom = nullptr);
    // The device link came up, or went down: clients told, closed or let in as the settings say.
    void deviceUpChanged(bool up);
    // Any thread: a client's bytes went nowhere, for want of a device link.
    void noteDropped(quint64 client, qint64 bytes);
    // One line per client for what it lost while the device was down; every client for 0.
    void reportDropped(quint64 client);

    // The link in use, read by the client threads; the other kind's, once made, stays until the
    // end, so that a client thread that still holds it writes to a closed link, never to a
    // deleted one.
    std::atomic<DeviceLink *> deviceClient{nullptr};
    DeviceLink *networkLink = nullptr;
    DeviceLink *serialLink = nullptr;
    DeviceLineEnd lineEnd = DeviceLineEnd::CrLf;
    TcpServerService *clientServer = nullptr;
    TcpServerService *observerServer = nullptr; // only with an observers' port
    // Only when replies are routed to their clients, or the device is shared in turns or locks,
    // or device events are looked for.
    ReplyRouter *router = nullptr;
    GatewaySettings settings;
    std::atomic<int> deviceState{VQDEVICE_DISCONNECTED};
    int serverState = VQSERVER_IDLE;
    QDateTime deviceSince = QDateTime::currentDateTime();
    QDateTime serverSince = QDateTime::currentDateTime();
    DeviceTarget deviceTarget;
    QString lastDeviceError;
    std::atomic<quint64> deviceConnects{0};
    std::atomic<quint64> deviceErrors{0};
    std::atomic<quint64> deviceHolds{0};
    std::atomic<quint64> clientHolds{0};
    std::atomic<quint64> replyTimeouts{0};
    bool deviceUp = false;
    std::atomic<qint64> deviceStateSinceMs{QDateTime::currentMSecsSinceEpoch()};
    std::atomic<quint64> failedAttemptsSince{0};
    std::atomic<quint64> droppedDeviceDown{0};
    std::mutex droppedMutex;
    QHash<quint64, qint64> droppedThisOutage; // by client, guarded by droppedMutex
    const bool closeClientsWhileDown;
    // The lines that tell the clients, with the device's line end; empty when they are not told.
    QByteArray downNotice;
    QByteArray upNotice;
    uint localPort = 0;
    const bool keepConnected;
    // Set while the client limit is reached; Start and Stop clear it.
    bool listeningPaused = false;
    // With reply routing: what the client threads hand to the router, in order.
    ThreadInbox routerInbox;
    // Client bytes on their way from a client's thread to the router.
    std::atomic<qint64> postedToRouter{0};
    std::atomic<bool> clientsHeld{false};
    // The client read on while the others are held: the holder of the lock.
    std::atomic<quint64> readingExempt{0};
    std::mutex holdMutex;
    // One pending retry per side at most: a new error re-arms it.
    QTimer deviceRetryTimer;
    QTimer serverRetryTimer;
    QTimer observerRetryTimer;
};
