#include "app/instancechannel.h"

#include "VqLog/vqlog.h"
#include "platform/instanceguard.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {

// A request is one short line; a client sending more is no client of ours.
constexpr qint64 maxRequestBytes = 256;
// A later start asks at once and is answered at once: more at a time, or a longer wait, only
// ever serves someone who keeps descriptors from the gateway.
constexpr int maxConnections = 8;
constexpr int requestTimeoutMs = 2000;
// Qt gives the channel up, without a word, when a connection comes while no descriptor is left:
// it is looked at this often, and opened again.
constexpr int listeningCheckMs = 10000;

}

InstanceChannel::InstanceChannel(const QString &instance, QObject *parent)
    : QObject(parent)
    , instance(instance)
    , server(new QLocalServer(this))
{
    server->setSocketOptions(QLocalServer::UserAccessOption);
    listeningCheck.setInterval(listeningCheckMs);
    connect(&listeningCheck, &QTimer::timeout, this, [this] {
        if (!server->isListening() && listen())
            LOG_INFO << "Status channel open again after running out of descriptors";
    });
    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server->nextPendingConnection()) {
            const auto drop = [socket] {
                socket->abort();
                socket->deleteLater();
            };
            if (connections == maxConnections) {
                drop();
                continue;
            }
            ++connections;
            connect(socket, &QObject::destroyed, this, [this] { --connections; });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
            QTimer::singleShot(requestTimeoutMs, socket, drop);
        }
    });
}

InstanceChannel::~InstanceChannel() = default;

QString InstanceChannel::socketPath(const QString &instance)
{
    const QString name = instance.isEmpty() ? QStringLiteral("vqgateway.socket")
                                            : QStringLiteral("vqgateway-%1.socket").arg(instance);
    const QString dir = Platform::instanceDirectory();
    return dir.isEmpty() ? QString() : QDir(dir).filePath(name);
}

QStringList InstanceChannel::instanceNames()
{
    const QString dir = Platform::instanceDirectory();
    if (dir.isEmpty())
        return {};
    QStringList names;
    for (const QString &file :
         QDir(dir).entryList({QStringLiteral("vqgateway*.socket")}, QDir::System | QDir::Files)) {
        const QString name = file.chopped(int(qstrlen(".socket"))).mid(int(qstrlen("vqgateway-")));
        if (socketPath(name).endsWith(QLatin1Char('/') + file))
            names.append(name);
    }
    return names;
}

bool InstanceChannel::listen()
{
    const QString path = socketPath(instance);
    if (path.isEmpty())
        return false;
    QLocalServer::removeServer(path);
    listeningCheck.start();
    return server->listen(path);
}

void InstanceChannel::setHandler(const QByteArray &request, std::function<QByteArray()> answer)
{
    handlers.insert(request, std::move(answer));
}

void InstanceChannel::answer(QLocalSocket *socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > maxRequestBytes)
            socket->abort();
        return;
    }
    const QByteArray request = socket->readLine(maxRequestBytes).trimmed();
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    const auto handler = handlers.constFind(request);
    if (handler != handlers.constEnd())
        socket->write((*handler)());
    socket->disconnectFromServer();
}

QByteArray InstanceChannel::ask(const QString &instance, const QByteArray &request, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    const QString path = socketPath(instance);
    if (path.isEmpty())
        return QByteArray();
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs))
        return QByteArray();
    socket.write(request + '\n');
    QByteArray answer;
    // The answer is complete when the instance closes the connection.
    while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(int(deadline.remainingTime()));
        answer += socket.readAll();
    }
    return socket.state() == QLocalSocket::ConnectedState ? QByteArray()
                                                          : answer + socket.readAll();
}
