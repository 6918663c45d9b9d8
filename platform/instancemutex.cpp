#include "platform/instancemutex.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace Platform {

void publishInstanceMutex()
{
#ifdef Q_OS_WIN
    // Kept open until the process ends; the handle is never examined or closed.
    CreateMutexW(nullptr, FALSE, L"VQGatewayMutex");
#endif
}

}
