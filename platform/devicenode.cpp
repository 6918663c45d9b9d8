#include "platform/devicenode.h"

#include <QFile>

#ifndef Q_OS_WIN
#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Platform {

bool deviceNodeAccessDenied(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return false;
#else
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0 && errno == EACCES;
#endif
}

QString deviceNodeGroup(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return QString();
#else
    struct stat node;
    if (::stat(QFile::encodeName(path).constData(), &node) != 0)
        return QString();
    const group *owner = ::getgrgid(node.st_gid);
    return owner ? QString::fromLocal8Bit(owner->gr_name) : QString::number(node.st_gid);
#endif
}

}
