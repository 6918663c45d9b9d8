#include "platform/privatefile.h"

#include <QFile>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Platform {

bool openPrivateFile(QFile &file, QIODevice::OpenMode mode)
{
#ifdef Q_OS_WIN
    return file.open(mode);
#else
    // Created with the user's rights only, so that nobody else can open it even for a moment
    // before its rights are set; then opened as usual, keeping the file's name.
    const int fd = ::open(QFile::encodeName(file.fileName()).constData(),
                          O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::fchmod(fd, 0600);
    ::close(fd);
    return file.open(mode);
#endif
}

}
