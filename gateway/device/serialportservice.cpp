#include "gateway/device/serialportservice.h"

#include "VqLog/vqlog.h"
#include "gateway/relay/flowcontrol.h"
#include "gateway/seriallinesettings.h"
#include "platform/devicenode.h"
#include "platform/socketdescriptor.h"

#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>

namespace {

bool applyLineSettings(QSerialPort *port, const SerialLineSettings &line)
{
    static const QSerialPort::Parity parities[]
            = {QSerialPort::NoParity, QSerialPort::EvenParity, QSerialPort::OddParity};
    static const QSerialPort::FlowControl flows[] = {
            QSerialPort::NoFlowControl, QSerialPort::HardwareControl, QSerialPort::SoftwareControl};
    return port->setBaudRate(line.speed) && port->setDataBits(QSerialPort::DataBits(line.dataBits))
            && port->setParity(parities[int(line.parity)])
            && port->setStopBits(line.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop)
            && port->setFlowControl(flows[int(line.flowControl)]);
}

}

SerialPortService::SerialPortService(QObject *parent)
    : DeviceLink(parent)
    , inbox(this)
    , writer(
              backlogHighBytes, SocketWriter::State::Closed,
              [this] { inbox.post([this] { armWriter(); }); }, SocketWriter::Kind::Terminal)
{
}

SerialPortService::~SerialPortService()
{
    close();
}

bool SerialPortService::open(const DeviceTarget &target)
{
    release();
    resetFraming();
    path = target.serialPort;
    SerialLineSettings line;
    QString problem;
    if (!line.parse(target.serialSettings, &problem)) {
        failed(QStringLiteral("Serial line settings \"%1\" are not usable: %2")
                       .arg(target.serialSettings, problem));
        return false;
    }
    LOG_INFO << "Opening serial port" << path << line.text();
    emit connectState(TCPCLIENT_CONNECTING, QStringLiteral("Opening serial port..."));
    port = new QSerialPort(path, this);
    // Bounded, so that a paused link leaves the device's bytes to the system.
    port->setReadBufferSize(socketReadBufferBytes);
    // The port is locked and opened exclusively: two programs can never read one port.
    if (!port->open(QIODevice::ReadWrite)) {
        failed(openFailureText());
        return true;
    }
    if (!applyLineSettings(port, line)) {
        failed(QStringLiteral("Serial port %1 does not take the line settings %2: %3")
                       .arg(path, line.text(), port->errorString()));
        return true;
    }
    connect(port, &QSerialPort::readyRead, this, &SerialPortService::readyRead);
    connect(port, &QSerialPort::errorOccurred, this, &SerialPortService::portError);
    // Some versions of the port object take a hung-up line's end of file for "no data" and
    // poll it again at once, for ever, without a word: its read notifications are looked at
    // here first.
    for (QSocketNotifier *notifier : port->findChildren<QSocketNotifier *>())
        if (notifier->type() == QSocketNotifier::Read)
            notifier->installEventFilter(this);
    writer.reopen(SocketWriter::State::Connecting);
    if (!writer.open(port->handle())) {
        failed(QStringLiteral("Serial port %1 cannot be written").arg(path));
        return true;
    }
    writable = new QSocketNotifier(writer.descriptor(), QSocketNotifier::Write, this);
    writable->setEnabled(false);
    connect(writable, &QSocketNotifier::activated, this, &SerialPortService::sendWaiting);
    LOG_INFO << "Opened serial port" << path << line.text();
    emit connectState(TCPCLIENT_CONNECTED, QStringLiteral("Connected"));
    return true;
}

QString SerialPortService::openFailureText() const
{
    switch (port->error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("Serial port %1 not found: plug the adapter in, or check the path "
                              "(ls /dev/serial/by-id/)")
                .arg(path);
    case QSerialPort::PermissionError:
        if (Platform::deviceNodeAccessDenied(path)) {
            const QString group = Platform::deviceNodeGroup(path);
            if (group.isEmpty())
                return QStringLiteral("No permission to open serial port %1: ask whoever runs "
                                      "this machine for read and write access to it")
                        .arg(path);
            return QStringLiteral("No permission to open serial port %1: it belongs to the group "
                                  "%2; add yourself with \"sudo usermod -aG %2 $USER\", then log "
                                  "out and in again")
                    .arg(path, group);
        }
        // The port is locked by another program, or opened exclusively.
        return QStringLiteral("Serial port %1 is in use by another program (another gateway, a "
                              "terminal program, ModemManager): close it there")
                .arg(path);
    default:
        return QStringLiteral("Serial port %1: %2").arg(path, port->errorString());
    }
}

void SerialPortService::close()
{
    if (!port)
        return;
    LOG_INFO << "Closing serial port" << path;
    emit connectState(TCPCLIENT_DISCONNECTED, QStringLiteral("Disconnected"));
    release();
}

void SerialPortService::release()
{
    if (!port)
        return;
    delete writable;
    writable = nullptr;
    writer.close();
    port->disconnect(this);
    port->close();
    port->deleteLater();
    port = nullptr;
    // Nothing waits for the device any more: whoever held back for it may go on.
    emit writeProgressed();
}

void SerialPortService::failed(const QString &text)
{
    const bool wasUp = writable != nullptr;
    LOG_ERROR << "Serial port error:" << text;
    if (wasUp && writer.backlog() > 0)
        LOG_ERROR << writer.backlog()
                  << "bytes that waited for the device are dropped with the link";
    emit connectState(TCPCLIENT_ERROR, text);
    if (wasUp)
        emit connectState(TCPCLIENT_DISCONNECTED, QStringLiteral("Disconnected"));
    release();
}

void SerialPortService::armWriter()
{
    if (writable && writer.backlog() > 0 && !writable->isEnabled()) {
        writable->setEnabled(true);
        sendWaiting();
    }
}

void SerialPortService::sendWaiting()
{
    writer.sendWaiting();
    if (writer.hasFailed()) {
        failed(QStringLiteral("Serial port %1 failed: %2").arg(path, writer.failureText()));
        return;
    }
    if (writer.backlog() == 0)
        writable->setEnabled(false);
    emit writeProgressed();
}

void SerialPortService::setReadingPaused(bool paused)
{
    readingPaused = paused;
    // What the port object kept meanwhile goes on, from the event loop: read here, it could
    // hold the clients back and let them go again inside this call, deeper at each turn while
    // the device floods.
    if (!paused && port && port->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &SerialPortService::readyRead, Qt::QueuedConnection);
}

void SerialPortService::readyRead()
{
    if (readingPaused || !port)
        return;
    const QByteArray received = port->readAll();
    if (received.isEmpty())
        return;
    deliver(received);
}

void SerialPortService::portError(QSerialPort::SerialPortError error)
{
    // A read that found nothing, or had to wait, is no failure while the port is still there.
    const bool readFailed = error == QSerialPort::ReadError || error == QSerialPort::ResourceError;
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError
        || (readFailed && !Platform::connectionGone(port->handle()))) {
        port->clearError();
        return;
    }
    lost(port->errorString());
}

bool SerialPortService::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::SockAct || !port || !Platform::deviceNodeHungUp(port->handle()))
        return DeviceLink::eventFilter(watched, event);
    watched->removeEventFilter(this);
    lost(QStringLiteral("the line hung up (adapter unplugged?)"));
    return true;
}

void SerialPortService::lost(const QString &reason)
{
    // The port object reports from inside its own reading, which goes on after the report: it
    // is let go once that returned.
    port->disconnect(this);
    const QString text = QStringLiteral("Serial port %1 lost: %2").arg(path, reason);
    QTimer::singleShot(0, this, [this, gone = port, text] {
        if (port == gone)
            failed(text);
    });
}
