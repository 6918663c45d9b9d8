#include "VqLog/stderrreport.h"

#include <QString>

#include <cstdio>

namespace VqLog {

void reportToStderr(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

}
