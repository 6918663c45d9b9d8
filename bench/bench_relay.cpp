// Prints the round trip of a command through the gateway (client -> device -> every client) and
// the context switches of the whole process while five connected clients are idle.
#include "VqLog/vqlog.h"
#include "gateway/gatewaymanager.h"

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
    const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
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
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->write(socket->readAll()); });
    });

    GatewayManager manager;
    const quint16 localPort = freePort();
    manager.startServer(localPort);
    manager.connectDevice(QStringLiteral("127.0.0.1"), device.serverPort());
    if (!waitUntil([&] { return manager.isConnectedToDevice() && manager.isServerStarted(); })) {
        std::fprintf(stderr, "gateway did not come up\n");
        return 1;
    }

    const int clientCount = 5;
    QList<QTcpSocket *> clients;
    QList<QByteArray> received;
    for (int i = 0; i < clientCount; ++i) {
        auto *client = new QTcpSocket(&app);
        received.append(QByteArray());
        QObject::connect(client, &QTcpSocket::readyRead, client, [client, &received, i] { received[i] += client->readAll(); });
        client->connectToHost(QHostAddress::LocalHost, localPort);
        clients.append(client);
    }
    waitUntil([&] { return std::all_of(clients.begin(), clients.end(), [](QTcpSocket *c) { return c->state() == QAbstractSocket::ConnectedState; }); });
    // Let every client thread come up before measuring.
    waitUntil([] { return false; }, 200);

    const int rounds = 2000;
    QElapsedTimer timer;
    timer.start();
    for (int r = 0; r < rounds; ++r) {
        const QByteArray command = "PING " + QByteArray::number(r) + "\r\n";
        clients.first()->write(command);
        if (!waitUntil([&] { return std::all_of(received.begin(), received.end(), [&](const QByteArray &b) { return b.endsWith(command); }); })) {
            std::fprintf(stderr, "round %d lost\n", r);
            return 1;
        }
    }
    const double roundTripUs = double(timer.nsecsElapsed()) / rounds / 1000.0;

    const long before = contextSwitches();
    waitUntil([] { return false; }, 1000);
    const long idleSwitches = contextSwitches() - before;

    std::printf("round trip client -> device -> %d clients: %.1f us\n", clientCount, roundTripUs);
    std::printf("context switches of the whole process in 1 s idle with %d clients: %ld\n", clientCount, idleSwitches);
    return 0;
}
