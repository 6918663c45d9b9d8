#include "gateway/deviceaddress.h"

#include <QHostAddress>
#include <QStringList>

#include <algorithm>

namespace {

constexpr uint lowestDevicePort = 10500;
constexpr uint highestPort = 65535;

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
        bool ok = false;
        const qulonglong value = part.toULongLong(&ok);
        if (ok && value > 255)
            return DeviceAddressCheck::Invalid;
        // An empty part, or one that is not a number, reads as 0.
        numbers.append(QString::number(ok ? value : 0));
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
