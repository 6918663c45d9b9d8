#include "platform/licencedirectory.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace Platform {

QString licenceCopyDirectory()
{
#ifdef Q_OS_WIN
    return QDir::tempPath();
#else
    // The shared /tmp would let another user plant or read the copies. The runtime directory
    // belongs to this user alone; the cache location is the fallback without one.
    QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    const QString dir = QDir(base).filePath(QStringLiteral("vqgateway-licences"));
    QDir().mkpath(dir);
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return dir;
#endif
}

}
