#pragma once

#include <QByteArray>

// Where the device's lines end: after CR LF (the default), or after LF alone for devices that
// end their replies that way; a CR before the LF then stays part of the line as received.
enum class DeviceLineEnd { CrLf, Lf };

// The bytes of a line whose end has not arrived yet are bounded by this, so that a device that
// never sends a line end cannot fill the memory; any real reply fits many times over.
constexpr int maxUnframedBytes = 64 * 1024;

// What the device sent after its last complete line, and whether the rest of an over-long line
// is being dropped up to its line end.
struct DeviceInputBuffer
{
    QByteArray pending;
    bool discarding = false;
};

struct FramedInput
{
    QByteArray lines; // every complete line received, each still ending in its line end
    bool overflowed = false; // more than maxUnframedBytes arrived without a line end
};

// Cuts the device's byte stream after its last line end. The bytes after it wait in the buffer
// for the rest of their line. A line that outgrows the limit is dropped whole, up to and
// including its line end, so no fragment of it is ever passed on as a line.
FramedInput frameDeviceInput(DeviceInputBuffer &buffer, const QByteArray &received,
                             DeviceLineEnd lineEnd = DeviceLineEnd::CrLf);
