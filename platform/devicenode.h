#pragma once

#include <QString>

namespace Platform {

// True when this user may not read and write the device node at path (a serial port, say),
// as opposed to it being missing or busy.
bool deviceNodeAccessDenied(const QString &path);
// The name of the group that owns the device node at path, such as "dialout"; empty when it
// cannot be read.
QString deviceNodeGroup(const QString &path);

}
