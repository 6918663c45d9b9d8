#include "gateway/relay/client.h"

#include "platform/socketdescriptor.h"

#include <QSocketNotifier>

Client::Client(qintptr descriptor, QObject *parent)
    : QObject(parent)
    , descriptor(descriptor)
    , readable(new QSocketNotifier(descriptor, QSocketNotifier::Read, this))
{
    Platform::prepareConnectedSocket(descriptor);
    connect(readable, &QSocketNotifier::activated, this, &Client::readyRead);
}

Client::~Client()
{
    delete readable;
    Platform::closeSocketDescriptor(descriptor);
}

Platform::ReceiveResult Client::read(QByteArray *bytes, qint64 size, QString *error)
{
    bytes->resize(int(size));
    qint64 received = 0;
    const Platform::ReceiveResult result
            = Platform::receiveSome(descriptor, bytes->data(), size, &received, error);
    bytes->resize(int(received));
    // A query ('?', as instruments have it) is answered soon, and the answer carries the
    // acknowledgement: one of its own would cost a client that turned Nagle off a packet more on
    // every round trip.
    if (result == Platform::ReceiveResult::Received && !bytes->contains('?'))
        Platform::acknowledgeAtOnce(descriptor);
    // A few bytes must not keep a whole read buffer alive while they wait somewhere.
    if (received < size / 2)
        bytes->squeeze();
    return result;
}

void Client::setReading(bool on)
{
    readable->setEnabled(on);
}

void Client::resetOnClose()
{
    Platform::resetOnClose(descriptor);
}
