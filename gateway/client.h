#pragma once

#include <QTcpSocket>

// The socket of one client application's connection, adopted from the descriptor that the
// listening server accepted.
class Client : public QTcpSocket
{
    Q_OBJECT

public:
    explicit Client(qintptr descriptor, QObject *parent = nullptr);
};
