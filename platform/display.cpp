#include "platform/display.h"

#include <QtGlobal>

namespace Platform {

bool displayReachable(bool platformNamed)
{
#ifdef Q_OS_WIN
    Q_UNUSED(platformNamed)
    return true;
#else
    return platformNamed || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
            || !qEnvironmentVariableIsEmpty("DISPLAY")
            || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#endif
}

}
