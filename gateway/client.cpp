#include "gateway/client.h"

Client::Client(qintptr descriptor, QObject *parent)
    : QTcpSocket(parent)
{
    if (descriptor != -1)
        setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite);
}
