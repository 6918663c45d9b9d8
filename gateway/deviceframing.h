#pragma once

#include <QByteArray>

struct FramedInput
{
    QByteArray lines;        // every complete line received, each still ending in CR LF
    bool overflowed = false; // more than maxUnframedBytes arrived without any CR LF
};

constexpr int maxUnframedBytes = 128;

// Cuts the device's byte stream after its last CR LF. The bytes after it stay in pending until
// the rest of their line arrives.
FramedInput frameDeviceInput(QByteArray &pending, const QByteArray &received);
