#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// The running gateway's status, as the status command shows it: small aligned tables of the
// device link, the client server, each client and the flow control so far.
QString statusText(const QJsonObject &status);
// The device as people name it: "127.0.0.1:10500", or a serial port's path and line settings,
// "/dev/ttyUSB0 115200,8N1".
QString deviceText(const QJsonObject &device);
// "Up (or Down) since <time>, failed attempts since: <n>", as the device's tooltip shows it.
QString deviceUpOrDown(const QJsonObject &device);
// The clients alone, one row each, as the window's tooltip shows them.
QString clientTable(const QJsonArray &clients);
