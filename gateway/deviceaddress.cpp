#include "gateway/deviceaddress.h"

#include <QHostAddress>
#include <QStringList>

#include <algorithm>

bool isDecimalNumber(const QString &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
}

DeviceAddressCheck checkDeviceAddress(const QString &ipAddress, uint port, QString *normalised)
{
    const QStringList parts = ipAddress.split(QLatin1Char('.'));
    // "..." is what the empty masked address field yields.
    const bool allPartsEmpty = std::all_of(parts.begin(), parts.end(),
                                           [](const QString &part) { return part.isEmpty(); });
    if (port < lowestDevicePort || port > highestPort || ipAddress.isEmpty() || allPartsEmpty)
        return DeviceAddressCheck::EmptyOrBadPort;
    if (parts.size() != 4)
        return DeviceAddressCheck::Invalid;

    QStringList numbers;
    for (const QString &part : parts) {
        // Only an empty part, what the masked field gives for a blank, reads as 0; anything
        // else must be a decimal number from 0 to 255.
        bool ok = true;
        const qulonglong value = part.isEmpty() ? 0 : part.toULongLong(&ok);
        if ((!part.isEmpty() && !isDecimalNumber(part)) || !ok || value > 255)
            return DeviceAddressCheck::Invalid;
        numbers.append(QString::number(value));
    }
    const QString text = numbers.join(QLatin1Char('.'));
    QHostAddress address;
    // 0.0.0.0 would reach this machine itself instead of a device.
    if (!address.setAddress(text) || address == QHostAddress(QHostAddress::AnyIPv4))
        return DeviceAddressCheck::Invalid;
    if (normalised)
        *normalised = text;
    return DeviceAddressCheck::Valid;
}
