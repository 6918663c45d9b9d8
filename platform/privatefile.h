#pragma once

#include <QIODevice>

class QFile;

namespace Platform {

// Opens a file for writing, creating it readable and writable by the user only; an existing
// file is made so too. Elsewhere than on Unix, the file's folder decides who may read it.
bool openPrivateFile(QFile &file, QIODevice::OpenMode mode);

}
