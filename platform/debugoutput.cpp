#include "platform/debugoutput.h"

#include <QString>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Platform {

bool writeDebugOutputLine(const QString &line)
{
#ifdef Q_OS_WIN
    OutputDebugStringW(reinterpret_cast<const wchar_t *>(line.utf16()));
    OutputDebugStringW(L"\n");
    return true;
#else
    // A pipe or socket that nobody reads fills up, and a blocking write would then stall every
    // thread that logs. Terminals and files are left as they are. Checked on every line, since
    // the stream may be redirected while the program runs.
    struct stat status;
    if (::fstat(STDERR_FILENO, &status) == 0
        && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode))) {
        const int flags = ::fcntl(STDERR_FILENO, F_GETFL);
        if (flags != -1 && !(flags & O_NONBLOCK))
            ::fcntl(STDERR_FILENO, F_SETFL, flags | O_NONBLOCK);
    }
    // One write per line: a pipe takes up to 4096 bytes whole or not at all.
    const QByteArray bytes = line.toUtf8() + '\n';
    ssize_t written;
    do {
        written = ::write(STDERR_FILENO, bytes.constData(), size_t(bytes.size()));
    } while (written < 0 && errno == EINTR);
    return written == bytes.size();
#endif
}

}
