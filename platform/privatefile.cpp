#include "platform/privatefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
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

bool makePrivateDirectory(const QString &path, QString *error)
{
    QDir().mkpath(QFileInfo(path).path());
#ifdef Q_OS_WIN
    if (QDir().mkpath(path))
        return true;
    *error = QStringLiteral("cannot be created");
    return false;
#else
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    // A link is refused too: whoever made it chose where it leads.
    if ((::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        || ::lstat(name.constData(), &info) != 0)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    else if (!S_ISDIR(info.st_mode))
        *error = QStringLiteral("not a directory");
    else if (info.st_uid != ::getuid())
        *error = QStringLiteral("owned by user %1").arg(info.st_uid);
    else if (info.st_mode & 077)
        *error = QString::asprintf("open to other users (mode %04o)", info.st_mode & 07777);
    else
        return true;
    return false;
#endif
}

}
