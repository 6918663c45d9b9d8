#include "gateway/listenendpoint.h"

#include "gateway/deviceaddress.h"

#include <QHostAddress>

bool splitEndpoint(const QString &text, QString *address, uint *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    const QString digits = text.mid(colon + 1);
    bool ok = isDecimalNumber(digits);
    *port = ok ? digits.toUInt(&ok) : 0;
    *address = colon < 0 ? QString() : text.left(colon);
    if (address->startsWith(QLatin1Char('[')) && address->endsWith(QLatin1Char(']')))
        *address = address->mid(1, address->size() - 2);
    return ok;
}

bool parseListenEndpoint(const QString &text, QString *address, quint16 *port)
{
    uint value = 0;
    if (!splitEndpoint(text, address, &value) || value < 1 || value > 65535)
        return false;
    if (text.lastIndexOf(QLatin1Char(':')) >= 0 && address->isEmpty())
        return false;
    *port = quint16(value);
    return address->isEmpty() || !QHostAddress(*address).isNull();
}
