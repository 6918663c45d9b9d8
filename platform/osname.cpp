#include "platform/osname.h"

#include "platform/qtcompat.h"

#include <QSysInfo>

namespace Platform {

QString windowsVersionName(int windowsVersion)
{
    switch (windowsVersion) {
    case 0x0030:
        return QStringLiteral("Windows XP");
    case 0x0040:
        return QStringLiteral("Windows Server 2003, Windows Server 2003 R2, Windows Home Server, "
                              "Windows XP Professional x64 Edition");
    case 0x0080:
        return QStringLiteral("Windows Vista, Windows Server 2008");
    case 0x0090:
        return QStringLiteral("Windows 7");
    case 0x00a0:
        return QStringLiteral("Windows 8");
    case 0x00b0:
        return QStringLiteral("Windows 8.1");
    case 0x00c0:
        return QStringLiteral("Windows 10");
    default:
        return QStringLiteral("Unknown Windows operating system.");
    }
}

QString operatingSystemName()
{
    const int windowsVersion = Compat::windowsVersionNumber();
    return windowsVersion >= 0 ? windowsVersionName(windowsVersion) : QSysInfo::prettyProductName();
}

QString systemTrayName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("Windows task tray");
#else
    return QStringLiteral("system tray");
#endif
}

}
