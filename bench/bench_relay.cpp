// Prints the round trip of a command through the gateway, broadcast to every client or routed to
// the client that sent it, and the context switches of the whole process while five connected
// clients are idle.
#include "VqLog/vqlog.h"
#include "gateway/gatewaymanager.h"
#include "gateway/gatewaysettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

long contextSwitches()
{
    long total = 0;
    const QStringList tasks
            = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(task));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.contains("ctxt_switches:"))
                total += line.split(':').last().trimmed().toLong();
        }
    }
    return total;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

// The mean round trip of a command through the gateway: the clients take turns sending, and each
// round ends when every client that should see the reply has it.
double roundTripUs(bool routing, int quietMs, int clientCount, int rounds, quint16 devicePort)
{
    GatewaySettings settings;
    settings.setReplyRouting(routing);
    settings.setReplyQuietMs(quietMs);
    GatewayManager manager;
    const quint16 localPort = freePort();
    manager.startServer(localPort);
    manager.connectDevice(QStringLiteral("127.0.0.1"), devicePort);
    if (!waitUntil([&] { return manager.isConnectedToDevice() && manager.isServerStarted(); }))
        return -1;
    QObject owner;
    QList<QTcpSocket *> clients;
    QList<QByteArray> received;
    for (int i = 0; i < clientCount; ++i) {
        auto *client = new QTcpSocket(&owner);
        received.append(QByteArray());
        QObject::connect(client, &QTcpSocket::readyRead, client,
                         [client, &received, i] { received[i] += client->readAll(); });
        client->connectToHost(QHostAddress::LocalHost, localPort);
        clients.append(client);
    }
    waitUntil([&] {
        return std::all_of(clients.begin(), clients.end(), [](QTcpSocket *c) {
            return c->state() == QAbstractSocket::ConnectedState;
        });
    });
    // Let every client thread come up before measuring.
    waitUntil([] { return false; }, 200);
    QElapsedTimer timer;
    timer.start();
    for (int r = 0; r < rounds; ++r) {
        const int sender = r % clientCount;
        const QByteArray command = "PING " + QByteArray::number(r) + "\r\n";
        clients.at(sender)->write(command);
        const bool answered = waitUntil([&] {
            for (int i = 0; i < clientCount; ++i)
                if ((!routing || i == sender) && !received.at(i).endsWith(command))
                    return false;
            return true;
        });
        if (!answered)
            return -1;
    }
    return double(timer.nsecsElapsed()) / rounds / 1000.0;
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    VqLog::Logger::instance().setLoggingLevel(VqLog::Off);

    // The device echoes every byte back.
    QTcpServer device;
    device.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&device, &QTcpServer::newConnection, &device, [&device] {
        QTcpSocket *socket = device.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket,
                         [socket] { socket->write(socket->readAll()); });
    });

    std::printf("%-44s %12s\n", "round trip (client -> device -> client)", "mean us");
    const struct
    {
        const char *name;
        bool routing;
        int quietMs;
        int clients;
        int rounds;
    } cases[] = {{"broadcast, 5 clients, all receive", false, 50, 5, 2000},
                 {"routing, 1 client, ReplyQuietMs 50", true, 50, 1, 100},
                 {"routing, 1 client, ReplyQuietMs 5", true, 5, 1, 500},
                 {"routing, 5 clients taking turns, quiet 5", true, 5, 5, 500}};
    for (const auto &c : cases) {
        const double us
                = roundTripUs(c.routing, c.quietMs, c.clients, c.rounds, device.serverPort());
        if (us < 0) {
            std::fprintf(stderr, "%s: the gateway did not answer\n", c.name);
            return 1;
        }
        std::printf("%-44s %12.1f\n", c.name, us);
    }

    // Five idle clients connected to an idle gateway.
    GatewaySettings().setReplyRouting(false);
    GatewayManager manager;
    const quint16 localPort = freePort();
    manager.startServer(localPort);
    manager.connectDevice(QStringLiteral("127.0.0.1"), device.serverPort());
    QObject owner;
    for (int i = 0; i < 5; ++i)
        (new QTcpSocket(&owner))->connectToHost(QHostAddress::LocalHost, localPort);
    waitUntil([] { return false; }, 500);
    const long before = contextSwitches();
    waitUntil([] { return false; }, 1000);
    std::printf("context switches of the whole process in 1 s idle with 5 clients: %ld\n",
                contextSwitches() - before);
    return 0;
}
