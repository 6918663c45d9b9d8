#include "gateway/devicelink.h"

#include "gateway/serialportservice.h"
#include "gateway/tcpclientservice.h"

DeviceLink *DeviceLink::create(const DeviceTarget &target, QObject *parent)
{
    if (target.isSerial())
        return new SerialPortService(parent);
    return new TcpClientService(parent);
}
