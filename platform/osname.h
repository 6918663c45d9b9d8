#pragma once

#include <QString>

namespace Platform {

// The name of a Windows version from Qt's Windows version value.
QString windowsVersionName(int windowsVersion);
// What the start banner reports as the operating system.
QString operatingSystemName();
// What the desktop's notification area is called where the user looks for the program's icon.
QString systemTrayName();

}
