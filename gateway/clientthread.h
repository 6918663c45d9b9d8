#pragma once

#include <QList>
#include <QString>
#include <QThread>

#include <atomic>
#include <mutex>

class Client;
class QAbstractEventDispatcher;

// Serves one client application on a thread of its own: passes up what the client sends,
// writes the messages queued for it in order, and reports the end of the connection. The
// thread runs its own event loop, so it sleeps until the client sends or a message is queued.
class ClientThread : public QThread
{
    Q_OBJECT

public:
    explicit ClientThread(int socketDescriptor, QObject *parent = nullptr, quint64 clientNumber = 0);
    ~ClientThread() override;

    int id() const { return socketDescriptor; }
    quint64 number() const { return clientNumber; }
    void queueMessage(const QString &message);
    void stop();

signals:
    void receivedMessage(QString msg);
    void clientClosed(int id);

protected:
    void run() override;

private slots:
    void readyRead();
    void disconnected();
    void onAwake();

private:
    void drainQueue();

    Client *socket = nullptr;
    std::atomic<bool> stopRequested{false};
    QList<QString> messageQueue;
    const int socketDescriptor;
    const quint64 clientNumber;
    std::mutex mutex;
    // Guarded by mutex: the worker's event dispatcher while its loop can take wake-ups, and
    // whether one is already on its way.
    QAbstractEventDispatcher *dispatcher = nullptr;
    bool wakePending = false;
    bool peerClosed = false;
};
