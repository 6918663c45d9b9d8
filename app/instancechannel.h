#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;
class QLocalSocket;

// A local channel to the running instance of a name, for the user who runs it alone: a later
// start sends one request line ("show") and gets one answer, then the connection closes. The
// socket lies in the instance directory, which only the user can enter. A few connections at a
// time are served, each for a moment only: one that asks nothing holds a descriptor for nothing.
class InstanceChannel : public QObject
{
    Q_OBJECT

public:
    explicit InstanceChannel(const QString &instance, QObject *parent = nullptr);
    ~InstanceChannel() override;

    // Starts answering. Call it only while holding the instance's guard: a socket already there is
    // then a crashed run's leftover, and is removed.
    bool listen();
    // What a request is answered with; a request without a handler is answered with nothing.
    void setHandler(const QByteArray &request, std::function<QByteArray()> answer);

    // Asks the running instance; empty when none answers within timeoutMs.
    static QByteArray ask(const QString &instance, const QByteArray &request, int timeoutMs);
    static QString socketPath(const QString &instance);
    // The instances whose sockets lie in the instance directory, "" for the unnamed one: those
    // running, and those a crash left behind, which answer nothing.
    static QStringList instanceNames();

private:
    void answer(QLocalSocket *socket);

    QString instance;
    QLocalServer *server;
    QHash<QByteArray, std::function<QByteArray()>> handlers;
    int connections = 0;
    QTimer listeningCheck;
};
