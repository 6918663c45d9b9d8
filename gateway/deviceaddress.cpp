#include "gateway/deviceaddress.h"

#include "gateway/listenendpoint.h"

#include <QHostAddress>
#include <QStringList>

#include <algorithm>

namespace {

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// RFC 1123: dot-separated labels of 1 to 63 letters, digits and hyphens, no hyphen at either
// end of a label, 253 characters at most. The last label must begin with a letter, as every top
// level domain does: so that a mistyped IPv4 address such as 127.0.0.1x is refused rather than
// looked up.
bool isHostName(const QString &text)
{
    if (text.size() > 253)
        return false;
    const QStringList labels = text.split(QLatin1Char('.'));
    for (const QString &label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(QLatin1Char('-'))
            || label.endsWith(QLatin1Char('-')))
            return false;
        for (QChar c : label)
            if (!isAsciiLetter(c) && !(c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                && c != QLatin1Char('-'))
                return false;
    }
    return isAsciiLetter(labels.last().at(0));
}

// Four decimal numbers from 0 to 255, written without leading zeros into text.
bool readIpv4(const QString &address, QString *text)
{
    const QStringList parts = address.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    QStringList numbers;
    for (const QString &part : parts) {
        // Only an empty part, what the masked field gives for a blank, reads as 0.
        bool ok = true;
        const qulonglong value = part.isEmpty() ? 0 : part.toULongLong(&ok);
        if (!ok || value > 255)
            return false;
        numbers.append(QString::number(value));
    }
    *text = numbers.join(QLatin1Char('.'));
    // 0.0.0.0 would reach this machine itself instead of a device.
    return QHostAddress(*text) != QHostAddress(QHostAddress::AnyIPv4);
}

}

bool isDecimalNumber(const QString &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
}

bool isDottedDecimal(const QString &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return c == QLatin1Char('.') || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
    });
}

DeviceAddressCheck checkDeviceAddress(const QString &address, uint port, QString *normalised)
{
    // "..." is what the empty masked address field yields.
    const bool empty = std::all_of(address.begin(), address.end(),
                                   [](QChar c) { return c == QLatin1Char('.'); });
    if (port < 1 || port > highestPort || empty)
        return DeviceAddressCheck::EmptyOrBadPort;
    QString text;
    if (isDottedDecimal(address)) {
        if (!readIpv4(address, &text))
            return DeviceAddressCheck::Invalid;
    } else if (address.contains(QLatin1Char(':'))) {
        const bool bracketed
                = address.startsWith(QLatin1Char('[')) && address.endsWith(QLatin1Char(']'));
        QHostAddress ip;
        // :: would reach this machine itself instead of a device.
        if (!parseIpAddress(bracketed ? address.mid(1, address.size() - 2) : address, &ip)
            || ip == QHostAddress(QHostAddress::AnyIPv6))
            return DeviceAddressCheck::Invalid;
        text = ip.toString();
    } else if (isHostName(address)) {
        text = address;
    } else {
        return DeviceAddressCheck::Invalid;
    }
    if (normalised)
        *normalised = text;
    return DeviceAddressCheck::Valid;
}

QString deviceHostText(const QString &normalised)
{
    return normalised.contains(QLatin1Char(':')) ? QLatin1Char('[') + normalised + QLatin1Char(']')
                                                 : normalised;
}
