#pragma once

#include "platform/qtcompat.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

// Tells when the desktop's system tray appears or goes. On X11 a tray that starts announces
// itself to every client, and one that ends destroys its window; only then is the tray looked up
// again, so that nothing is done while the display is quiet.
class SystemTrayWatcher : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit SystemTrayWatcher(QObject *parent = nullptr);

    bool nativeEventFilter(const QByteArray &eventType, void *message,
                           Compat::NativeEventResult *result) override;

signals:
    void availabilityChanged(bool available);

private:
    void lookAgain();

    bool available;
    bool lookPending = false;
};
