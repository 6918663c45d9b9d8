#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

namespace Platform {

// Tells the service manager (systemd) how the service is doing: ready, a line of status, and
// stopping, and, when the unit asks for a watchdog, that the event loop still runs, at half the
// unit's interval so that one late turn is no death. Does nothing where no manager listens.
class ServiceNotifier : public QObject
{
public:
    explicit ServiceNotifier(QObject *parent = nullptr);

    // True when a service manager asks to be told.
    static bool isListened();

    void notifyReady();
    void notifyStatus(const QString &status);
    void notifyStopping();

private:
    void notify(const QByteArray &state);

    QTimer watchdog;
};

}
