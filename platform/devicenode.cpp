#include "platform/devicenode.h"

#include "platform/socketdescriptor.h"

#include <QFile>

#ifndef Q_OS_WIN
#include <cerrno>
#include <grp.h>
#include <sys/ioctl.h>
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
    // Only a group that may read and write the port is worth joining; root's never is.
    const mode_t groupReadWrite = S_IRGRP | S_IWGRP;
    if (::stat(QFile::encodeName(path).constData(), &node) != 0 || node.st_gid == 0
        || (node.st_mode & groupReadWrite) != groupReadWrite)
        return QString();
    const group *owner = ::getgrgid(node.st_gid);
    return owner ? QString::fromLocal8Bit(owner->gr_name) : QString::number(node.st_gid);
#endif
}

bool deviceNodeHungUp(qintptr descriptor)
{
#ifdef Q_OS_WIN
    Q_UNUSED(descriptor);
    return false;
#else
    int waiting = 0;
    return connectionGone(descriptor)
            && (::ioctl(int(descriptor), FIONREAD, &waiting) != 0 || waiting == 0);
#endif
}

}
