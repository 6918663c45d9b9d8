#include "gateway/devicelink.h"

#include "gateway/deviceaddress.h"
#include "gateway/serialportservice.h"
#include "gateway/tcpclientservice.h"

QString DeviceTarget::text() const
{
    if (isSerial())
        return serialPort + QLatin1Char(' ') + serialSettings;
    QString normalised;
    if (checkDeviceAddress(address, port, &normalised) != DeviceAddressCheck::Valid)
        normalised = address;
    return QStringLiteral("%1:%2").arg(deviceHostText(normalised)).arg(port);
}

DeviceLink *DeviceLink::create(const DeviceTarget &target, QObject *parent)
{
    if (target.isSerial())
        return new SerialPortService(parent);
    return new TcpClientService(parent);
}
