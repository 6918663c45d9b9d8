#include "gateway/listenendpoint.h"

#include "gateway/deviceaddress.h"

#include <QStringList>

bool parseIpAddress(const QString &text, QHostAddress *address)
{
    if (text.contains(QLatin1Char(':'))) {
        const QHostAddress v6(text);
        if (v6.protocol() != QAbstractSocket::IPv6Protocol || text.trimmed() != text)
            return false;
        *address = v6;
        return true;
    }
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    quint32 value = 0;
    for (const QString &part : parts) {
        if (!isDecimalNumber(part) || part.size() > 3 || part.toUInt() > 255)
            return false;
        value = value << 8 | part.toUInt();
    }
    *address = QHostAddress(value);
    return true;
}

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
    QHostAddress parsed;
    if (address->isEmpty())
        return true;
    if (!parseIpAddress(*address, &parsed))
        return false;
    *address = parsed.toString();
    return true;
}

bool endpointsClash(const QString &address, quint16 port, const QString &otherAddress,
                    quint16 otherPort)
{
    if (port != otherPort)
        return false;
    if (address.isEmpty() || otherAddress.isEmpty())
        return true;
    QHostAddress one, other;
    if (!parseIpAddress(address, &one) || !parseIpAddress(otherAddress, &other))
        return false;
    const auto covers = [](const QHostAddress &any, const QHostAddress &some) {
        return (any == QHostAddress(QHostAddress::AnyIPv4)
                && some.protocol() == QAbstractSocket::IPv4Protocol)
                || (any == QHostAddress(QHostAddress::AnyIPv6)
                    && some.protocol() == QAbstractSocket::IPv6Protocol);
    };
    return one == other || covers(one, other) || covers(other, one);
}
