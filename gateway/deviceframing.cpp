#include "gateway/deviceframing.h"

FramedInput frameDeviceInput(DeviceInputBuffer &buffer, const QByteArray &received,
                             DeviceLineEnd lineEnd)
{
    const QByteArray end
            = lineEnd == DeviceLineEnd::CrLf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    FramedInput result;
    // Most reads end on a line end, with nothing pending: no copy then.
    QByteArray data = buffer.pending.isEmpty() ? received : buffer.pending + received;
    buffer.pending.clear();
    if (buffer.discarding) {
        const int firstEnd = data.indexOf(end);
        if (firstEnd < 0)
            return result;
        data.remove(0, firstEnd + end.size());
        buffer.discarding = false;
    }
    const int lastEnd = data.lastIndexOf(end);
    if (lastEnd >= 0) {
        buffer.pending = data.mid(lastEnd + end.size());
        data.truncate(lastEnd + end.size());
        result.lines = data;
        return result;
    }
    buffer.pending = data;
    if (buffer.pending.size() > maxUnframedBytes) {
        buffer.pending.clear();
        buffer.discarding = true;
        result.overflowed = true;
    }
    return result;
}
