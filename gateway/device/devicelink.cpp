#include "gateway/device/devicelink.h"

#include "VqLog/vqlog.h"
#include "gateway/device/serialportservice.h"
#include "gateway/device/tcpclientservice.h"

DeviceLink *DeviceLink::create(const DeviceTarget &target, QObject *parent)
{
    if (target.isSerial())
        return new SerialPortService(parent);
    return new TcpClientService(parent);
}

void DeviceLink::deliver(const QByteArray &received)
{
    fromDevice.fetch_add(quint64(received.size()), std::memory_order_relaxed);
    const FramedInput input = frameDeviceInput(inputBuffer, received, lineEnd);
    if (input.overflowed)
        LOG_ERROR << "Commands received do not contain any <CR><LF> sequence. Input buffer "
                     "cleared!";
    if (!input.lines.isEmpty())
        emit commandReceived(input.lines);
    else
        emit partialLineReceived();
}
