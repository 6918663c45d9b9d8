#pragma once

#include "platform/servicenotifier.h"

#include <QJsonObject>
#include <QString>
#include <QTimer>

class GatewayManager;

// One line for the service manager's status: the device link, the clients and the error that
// stands, if any ("device 127.0.0.1:10500 connected, clients 1/5").
QString serviceStatusLine(const QJsonObject &status, const QString &error);

// Keeps the service manager told of the gateway: ready once the client server first listens, a
// line of status at every change, and stopping when the event loop is about to end.
class ServiceReporter
{
public:
    explicit ServiceReporter(const GatewayManager &manager);

private:
    void report();

    const GatewayManager &manager;
    Platform::ServiceNotifier notifier;
    // What keeps a side from working now, gone once it works.
    QString deviceError;
    QString serverError;
    QString reported;
    QTimer clientsWatch;
    bool ready = false;
};
