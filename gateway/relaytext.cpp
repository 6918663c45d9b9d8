#include "gateway/relaytext.h"

QString textFromBytes(const QByteArray &bytes)
{
    // The QByteArray overload of fromLatin1 stops at the first NUL; the pointer one does not.
    return QString::fromLatin1(bytes.constData(), bytes.size());
}

QByteArray bytesFromText(const QString &text)
{
    return text.toLatin1();
}
