#pragma once

#include <QString>

namespace Platform {

// Makes the desktop start the program at the user's login, or stops it: a value under the user's
// Run key on Windows, an XDG autostart entry elsewhere. Each named instance has an entry of its
// own that starts it with --instance NAME. False when the entry could not be written or removed.
bool setRunAtLogin(bool enable, const QString &programPath, const QString &instance);

// The autostart entry's file, $XDG_CONFIG_HOME/autostart/VQGateway.desktop, or
// VQGateway-NAME.desktop for a named instance.
QString autostartEntryPath(const QString &instance);
// The entry's text, with the program path quoted for its Exec key.
QString autostartEntry(const QString &programPath, const QString &instance);
// One argument of a desktop entry's Exec key, quoted and escaped so that any path survives.
QString desktopExecArgument(const QString &argument);

}
