#include "platform/socketdescriptor.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
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

}
