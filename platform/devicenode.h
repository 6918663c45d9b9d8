#pragma once

#include <QString>
#include <QtGlobal>

namespace Platform {

// True when this user may not read and write the device node at path (a serial port, say),
// as opposed to it being missing or busy.
bool deviceNodeAccessDenied(const QString &path);
// The name of the group that owns the device node at path, such as "dialout"; empty when it
// cannot be read.
QString deviceNodeGroup(const QString &path);
// True once the line behind an open device node has hung up (its adapter unplugged, the other
// side of a pseudo-terminal closed) and nothing is left to read from it.
bool deviceNodeHungUp(qintptr descriptor);

}
