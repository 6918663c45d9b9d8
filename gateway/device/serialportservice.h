#pragma once

#include "gateway/device/devicelink.h"
#include "gateway/relay/socketwriter.h"
#include "gateway/relay/threadinbox.h"

#include <QSerialPort>
#include <QString>

class QSocketNotifier;

// The serial link: a serial port, opened exclusively, with its line settings. The port object
// reads; the device's bytes are written straight to the port's descriptor, from whichever
// thread writes, as on the network link.
class SerialPortService : public DeviceLink
{
    Q_OBJECT

public:
    explicit SerialPortService(QObject *parent = nullptr);
    ~SerialPortService() override;

    bool isSerial() const override { return true; }
    bool open(const DeviceTarget &target) override;
    void close() override;
    bool write(const QByteArray &data) override { return writer.write(data); }
    void flush(int timeoutMs) override { writer.flush(timeoutMs); }
    qint64 backlog() const override { return writer.backlog(); }
    // While paused, the port object's buffer fills and then the system's; with rtscts or
    // xonxoff the device is then held.
    void setReadingPaused(bool paused) override;
    bool isReadingPaused() const override { return readingPaused; }
    quint64 bytesToDevice() const override { return writer.bytesSent(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void readyRead();
    void portError(QSerialPort::SerialPortError error);
    // The port is gone: the link goes down once the port object's reading returned.
    void lost(const QString &reason);
    void sendWaiting();
    void armWriter();
    void release();
    // The link went down after it was up, or the attempt failed.
    void failed(const QString &text);
    QString openFailureText() const;

    QSerialPort *port = nullptr;
    QString path;
    ThreadInbox inbox;
    SocketWriter writer;
    QSocketNotifier *writable = nullptr;
    bool readingPaused = false;
};
