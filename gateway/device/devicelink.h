#pragma once

#include "gateway/device/deviceframing.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

// The state of a device link, of either kind: the name stays the one the window and the manager
// have always known it by.
enum TCPCLIENT_STATUS : int {
    TCPCLIENT_CONNECTING = 0,
    TCPCLIENT_CONNECTED = 1,
    TCPCLIENT_ERROR = 2,
    TCPCLIENT_DISCONNECTED = 3
};
Q_DECLARE_METATYPE(TCPCLIENT_STATUS)

// Where the device is: an address and port on the network, or a serial port with its line
// settings when serialPort is set.
struct DeviceTarget
{
    QString address;
    uint port = 0;
    QString serialPort;
    QString serialSettings;

    bool isSerial() const { return !serialPort.isEmpty(); }
};

// The gateway's one link to the device, whatever carries it. It cuts what the device sends at
// its line ends and reports every change of the link as a status with a text. Any thread may
// write to the device; everything else happens in the thread the link lives in.
class DeviceLink : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // A link to the target's kind of device: the network link or the serial one.
    static DeviceLink *create(const DeviceTarget &target, QObject *parent);
    virtual bool isSerial() const = 0;

    // Starts an attempt; false when the target is unusable, which the status says as well.
    virtual bool open(const DeviceTarget &target) = 0;
    virtual void close() = 0;
    // Any thread. False without a link; bytes written while the link comes up wait for it.
    virtual bool write(const QByteArray &data) = 0;
    // Gives the device what waits for it, for up to timeoutMs, before the link closes.
    virtual void flush(int timeoutMs) = 0;
    // Any thread: the bytes that wait for the device in the gateway.
    virtual qint64 backlog() const = 0;
    // While paused, what the device sends waits in the system and slows the device.
    virtual void setReadingPaused(bool paused) = 0;
    virtual bool isReadingPaused() const = 0;
    void setLineEnd(DeviceLineEnd end) { lineEnd = end; }
    // Any thread.
    quint64 bytesFromDevice() const { return fromDevice.load(std::memory_order_relaxed); }
    virtual quint64 bytesToDevice() const = 0;

signals:
    void connectState(TCPCLIENT_STATUS state, QString info);
    // Every complete line received, each still ending in its line end.
    void commandReceived(QByteArray command);
    // Bytes arrived that complete no line.
    void partialLineReceived();
    // Bytes that waited for the device left, or were dropped with the link.
    void writeProgressed();

protected:
    // For a new link: no part of a line the last one received is kept.
    void resetFraming() { inputBuffer = DeviceInputBuffer(); }
    // Counts what the device sent, cuts it at its line ends and passes the lines on.
    void deliver(const QByteArray &received);

private:
    DeviceInputBuffer inputBuffer;
    DeviceLineEnd lineEnd = DeviceLineEnd::CrLf;
    std::atomic<quint64> fromDevice{0};
};
