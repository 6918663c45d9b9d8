#pragma once

#include "gateway/relay/socketwriter.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QThread>

#include <atomic>
#include <mutex>

class Client;
class QAbstractEventDispatcher;
class QSocketNotifier;
class QTimer;

// Serves one client application, or one observer, on a thread of its own: passes up what the
// client sends, writes what other threads send it in order, and reports the end of the
// connection. The thread runs its own event loop and sleeps while nothing moves; bytes for the
// client go straight to its socket from the sending thread whenever nothing waits before them.
class ClientThread : public QThread
{
    Q_OBJECT

public:
    // An observer only watches: what it sends is discarded, and it is disconnected as soon as it
    // falls too far behind instead of holding the device back.
    enum Role { Application, Observer };

    ClientThread(int socketDescriptor, QObject *parent = nullptr, quint64 clientNumber = 0,
                 Role role = Application, const QHostAddress &peer = QHostAddress(),
                 quint16 peerPort = 0);
    ~ClientThread() override;

    int id() const { return socketDescriptor; }
    quint64 number() const { return clientNumber; }
    Role role() const { return clientRole; }
    QHostAddress peerAddress() const { return peer; }
    quint16 peerPort() const { return port; }
    QDateTime connectedSince() const { return since; }
    quint64 bytesReceived() const { return received.load(std::memory_order_relaxed); }
    quint64 bytesSent() const { return writer.bytesSent(); }

    // Any thread: the bytes go to the client. True when its backlog is now above the high mark;
    // backlogDrained() follows once it is below the low mark again, or the client leaves.
    bool send(const QByteArray &bytes);
    // What waits for the client in the gateway.
    qint64 backlog() const { return writer.backlog(); }
    bool isOverHighMark() const { return overHighMark; }
    // While paused, what the client sends waits in the socket layer and TCP slows the client.
    void setReadingPaused(bool paused);
    void stop();
    // What the client sent is on its way to the device, or reached it: a client that ended its
    // sending side stays for its replies until a while after its last bytes reached the device.
    void bytesPending(qint64 bytes);
    void bytesDelivered(qint64 bytes);
    // Any thread: nothing more is owed to the client, so once its input ended it may go at once.
    void repliesSettled();
    // It ended its sending side and stays only for replies that may still come.
    bool isWaitingForReplies() const { return halfClosed && clientRole == Application; }

signals:
    void receivedMessage(QByteArray bytes);
    void clientClosed(int id);
    void backlogDrained();
    // The client ended its sending side; it still receives until it closes or its wait ends.
    void inputEnded();
    // The client held the device back and took nothing for too long, and is disconnected.
    void droppedAsStalled();

protected:
    void run() override;

private slots:
    void readyRead();
    void onAwake();

private:
    void wakeUp();
    void sendWaiting();
    void backlogMoved(bool progressed);
    void dropClient();
    void inputEndedByPeer();
    void waitForReplies();
    void connectionFailed(const QString &reason);
    void finishPeerClose();
    QString peerText() const;

    const int socketDescriptor;
    const quint64 clientNumber;
    const Role clientRole;
    const QHostAddress peer;
    const quint16 port;
    const QDateTime since;
    SocketWriter writer;
    std::mutex mutex;
    // Guarded by mutex: the worker's event dispatcher while its loop can take wake-ups.
    QAbstractEventDispatcher *dispatcher = nullptr;
    std::atomic<bool> wakePending{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> readingPaused{false};
    std::atomic<bool> overHighMark{false};
    std::atomic<bool> dropRequested{false};
    std::atomic<bool> halfClosed{false};
    std::atomic<bool> settled{false};
    std::atomic<quint64> received{0};
    std::atomic<qint64> pendingToDevice{0};
    std::atomic<qint64> lastDeliveredMs{0};
    // The worker's own.
    Client *socket = nullptr;
    QTimer *stallTimer = nullptr;
    QTimer *replyWait = nullptr;
    QTimer *goneCheck = nullptr;
    QSocketNotifier *writable = nullptr;
    bool peerClosed = false;
    bool reading = true;
    bool inputEndReported = false;
    bool discardNoted = false;
};
