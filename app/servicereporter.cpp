#include "app/servicereporter.h"

#include "gateway/gatewaymanager.h"

#include <QCoreApplication>

QString serviceStatusLine(const QJsonObject &status, const QString &error)
{
    const QJsonObject device = status.value(QStringLiteral("device")).toObject();
    const QJsonObject server = status.value(QStringLiteral("server")).toObject();
    const QString address = device.value(QStringLiteral("address")).toString();
    QString line
            = QStringLiteral("device %1%2, clients %3/%4")
                      .arg(address.isEmpty() ? QString()
                                             : QStringLiteral("%1:%2 ").arg(address).arg(
                                                     device.value(QStringLiteral("port")).toInt()))
                      .arg(device.value(QStringLiteral("state")).toString())
                      .arg(server.value(QStringLiteral("clients")).toInt())
                      .arg(server.value(QStringLiteral("maxClients")).toInt());
    if (!error.isEmpty())
        line += QStringLiteral(", ") + error;
    return line;
}

ServiceReporter::ServiceReporter(const GatewayManager &manager)
    : manager(manager)
{
    QObject::connect(&manager, &GatewayManager::connectionStateChanged, &notifier,
                     [this](VQDEVICE_STATUS state, const QString &info) {
                         if (state == VQDEVICE_ERROR)
                             deviceError = QStringLiteral("device: %1, retrying").arg(info);
                         else if (state == VQDEVICE_CONNECTED)
                             deviceError.clear();
                         report();
                     });
    QObject::connect(&manager, &GatewayManager::serverStateChanged, &notifier,
                     [this](VQSERVER_STATUS state, const QString &info) {
                         const int port = this->manager.status()
                                                  .value(QStringLiteral("server"))
                                                  .toObject()
                                                  .value(QStringLiteral("port"))
                                                  .toInt();
                         if (state == VQSERVER_ERROR)
                             serverError = QStringLiteral("listening on port %1 failed: %2, "
                                                          "retrying")
                                                   .arg(port)
                                                   .arg(info);
                         else if (state == VQSERVER_STARTED)
                             serverError.clear();
                         report();
                         // Ready only now: a service whose port is taken stays "activating" with
                         // the reason as its status, and its start times out.
                         if (state == VQSERVER_STARTED && !ready) {
                             ready = true;
                             notifier.notifyReady();
                         }
                     });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &notifier,
                     [this] { notifier.notifyStopping(); });
    // Clients come and go without a change of state: their number is looked at every second.
    if (Platform::ServiceNotifier::isListened()) {
        QObject::connect(&clientsWatch, &QTimer::timeout, &notifier, [this] { report(); });
        clientsWatch.start(1000);
    }
}

void ServiceReporter::report()
{
    if (!Platform::ServiceNotifier::isListened())
        return;
    const QString status = serviceStatusLine(manager.status(),
                                             serverError.isEmpty() ? deviceError : serverError);
    if (status != reported)
        notifier.notifyStatus(reported = status);
}
