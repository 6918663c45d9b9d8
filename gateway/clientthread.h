#pragma once

#include <QList>
#include <QString>
#include <QThread>

#include <atomic>
#include <mutex>

class Client;
class QTimer;
class QAbstractEventDispatcher;

// Serves one client application on a thread of its own: passes up what the client sends,
// writes the messages queued for it in order, and reports the end of the connection. The
// thread runs its own event loop, so it sleeps until the client sends or a message is queued.
class ClientThread : public QThread
{
    Q_OBJECT

public:
    explicit ClientThread(int socketDescriptor, QObject *parent = nullptr,
                          quint64 clientNumber = 0);
    ~ClientThread() override;

    int id() const { return socketDescriptor; }
    quint64 number() const { return clientNumber; }
    // Queues a message for the client; true when its backlog is now above the high mark, and
    // backlogDrained() will follow once it is below the low mark again.
    bool queueMessage(const QString &message);
    // The same for bytes already converted, shared by every client they go to.
    bool queueBytes(const QByteArray &bytes);
    // What is queued for the client plus what its socket has not sent yet.
    qint64 backlog() const { return queuedBytes + unsentBytes; }
    bool isOverHighMark() const { return overHighMark; }
    // While paused, what the client sends waits in the socket layer and TCP slows the client.
    void setReadingPaused(bool paused);
    void stop();

signals:
    void receivedMessage(QString msg);
    void clientClosed(int id);
    void backlogDrained();

protected:
    void run() override;

private slots:
    void readyRead();
    void disconnected();
    void onAwake();

private:
    void drainQueue();
    void backlogMoved(bool progressed);
    void dropStalledClient();

    Client *socket = nullptr;
    std::atomic<bool> stopRequested{false};
    QList<QByteArray> messageQueue;
    const int socketDescriptor;
    const quint64 clientNumber;
    std::mutex mutex;
    // Guarded by mutex: the worker's event dispatcher while its loop can take wake-ups, and
    // whether one is already on its way.
    QAbstractEventDispatcher *dispatcher = nullptr;
    bool wakePending = false;
    bool peerClosed = false;
    std::atomic<qint64> queuedBytes{0};
    std::atomic<qint64> unsentBytes{0};
    std::atomic<bool> overHighMark{false};
    std::atomic<bool> readingPaused{false};
    // The worker's own; runs only while the backlog is above the high mark.
    QTimer *stallTimer = nullptr;
};
