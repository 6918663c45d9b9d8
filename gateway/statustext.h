#pragma once

#include <QDateTime>
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
// Who holds the device, in a turn or a lock, since when, and how many lines wait; empty when the
// device is not shared in turns or locks.
QString holderText(const QJsonObject &status);
// The clients alone, one row each, as the window's tooltip shows them.
QString clientTable(const QJsonArray &clients);
// ISO 8601 with the time's offset from UTC, as every time in the status is written:
// "2026-12-08T04:10:00+01:00", "+00:00" for UTC.
QString isoDateTime(const QDateTime &time);
// Every running instance's status in one row each: its name, device, clients and since when it
// runs.
QString instanceTable(const QJsonArray &statuses);
