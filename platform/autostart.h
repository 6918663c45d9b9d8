#pragma once

#include <QString>

namespace Platform {

// Makes the desktop start the program at the user's login, or stops it: the "VQGateway" value
// under the user's Run key on Windows, an XDG autostart entry elsewhere.
void setRunAtLogin(bool enable, const QString &programPath);

// The autostart entry's file, $XDG_CONFIG_HOME/autostart/VQGateway.desktop.
QString autostartEntryPath();
// The entry's text, with the program path quoted for its Exec key.
QString autostartEntry(const QString &programPath);
// One argument of a desktop entry's Exec key, quoted and escaped so that any path survives.
QString desktopExecArgument(const QString &argument);

}
