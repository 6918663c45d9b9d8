#include "platform/socketdescriptor.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace Platform {

void closeSocketDescriptor(qintptr descriptor)
{
    if (descriptor < 0)
        return;
#ifdef Q_OS_WIN
    ::closesocket(SOCKET(descriptor));
#else
    ::close(int(descriptor));
#endif
}

void resetOnClose(qintptr descriptor)
{
    const linger reset{1, 0};
#ifdef Q_OS_WIN
    setsockopt(SOCKET(descriptor), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&reset),
               sizeof reset);
#else
    setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
#endif
}

}
