#pragma once

#include <QIODevice>
#include <QString>

class QFile;

namespace Platform {

// Opens a file for writing, creating it readable and writable by the user only; an existing
// file is made so too. Elsewhere than on Unix, the file's folder decides who may read it.
bool openPrivateFile(QFile &file, QIODevice::OpenMode mode);
// Creates a directory that only the user may enter, its parents as usual. One that is there
// already must be the user's own and closed to everyone else: it is never taken over or widened,
// since another user who made it first could have planted what it holds. False, with the reason
// in error, when it cannot be used.
bool makePrivateDirectory(const QString &path, QString *error);

}
