#include "gateway/deviceframing.h"

FramedInput frameDeviceInput(QByteArray &pending, const QByteArray &received)
{
    FramedInput result;
    QByteArray data = pending + received;
    pending.clear();
    const int lastEnd = data.lastIndexOf("\r\n");
    if (lastEnd >= 0) {
        pending = data.mid(lastEnd + 2);
        data.truncate(lastEnd + 2);
        result.lines = data;
        return result;
    }
    pending = data;
    if (pending.size() > maxUnframedBytes) {
        pending.clear();
        result.overflowed = true;
    }
    return result;
}
