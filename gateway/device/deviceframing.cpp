#include "gateway/device/deviceframing.h"

namespace {

// The dropped line's CR may be the first half of its CR LF: it is kept, so that the line end
// is still found when the LF arrives, and the next line comes whole.
void keepSplitLineEnd(DeviceInputBuffer &buffer, const QByteArray &dropped, const QByteArray &end)
{
    const bool split = end.size() > 1 && dropped.endsWith(end.front());
    buffer.pending = split ? end.left(1) : QByteArray();
}

}

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
        if (firstEnd < 0) {
            keepSplitLineEnd(buffer, data, end);
            return result;
        }
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
        keepSplitLineEnd(buffer, buffer.pending, end);
        buffer.discarding = true;
        result.overflowed = true;
    }
    return result;
}
