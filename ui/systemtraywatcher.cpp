#include "ui/systemtraywatcher.h"

#include <QCoreApplication>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

// The X11 event codes (the low seven bits of an event's first byte) after which the tray may
// have changed: DestroyNotify, and ClientMessage, which carries the new tray's MANAGER notice.
constexpr quint8 x11DestroyNotify = 17;
constexpr quint8 x11ClientMessage = 33;

}

SystemTrayWatcher::SystemTrayWatcher(QObject *parent)
    : QObject(parent)
    , available(QSystemTrayIcon::isSystemTrayAvailable())
{
    QCoreApplication::instance()->installNativeEventFilter(this);
}

bool SystemTrayWatcher::nativeEventFilter(const QByteArray &eventType, void *message,
                                          Compat::NativeEventResult *)
{
    if (lookPending || eventType != "xcb_generic_event_t")
        return false;
    const quint8 code = *static_cast<const quint8 *>(message) & 0x7f;
    if (code == x11DestroyNotify || code == x11ClientMessage) {
        // Qt's own tray code handles the event after this filter: look once it has.
        lookPending = true;
        QTimer::singleShot(0, this, &SystemTrayWatcher::lookAgain);
    }
    return false;
}

void SystemTrayWatcher::lookAgain()
{
    lookPending = false;
    const bool now = QSystemTrayIcon::isSystemTrayAvailable();
    if (now == available)
        return;
    available = now;
    emit availabilityChanged(available);
}
