#include "gateway/client.h"

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

Client::ReadResult Client::read(QByteArray *bytes, qint64 size)
{
    bytes->resize(int(size));
    qint64 received = 0;
    const Platform::ReceiveResult result
            = Platform::receiveSome(descriptor, bytes->data(), size, &received);
    bytes->resize(int(received));
    switch (result) {
    case Platform::ReceiveResult::Received:
        return Read;
    case Platform::ReceiveResult::Nothing:
        return NothingYet;
    case Platform::ReceiveResult::End:
        return EndOfInput;
    case Platform::ReceiveResult::Failed:
        break;
    }
    return Gone;
}

void Client::setReading(bool on)
{
    readable->setEnabled(on);
}

void Client::resetOnClose()
{
    Platform::resetOnClose(descriptor);
}
