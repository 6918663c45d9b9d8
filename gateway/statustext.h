#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// The running gateway's status, as the status command shows it: small aligned tables of the
// device link, the client server, each client and the flow control so far.
QString statusText(const QJsonObject &status);
// "Up (or Down) since <time>, failed attempts since: <n>", as the device's tooltip shows it.
QString deviceUpOrDown(const QJsonObject &device);
// Who holds the device, in a turn or a lock, since when, and how many lines wait; empty when the
// device is not shared in turns or locks.
QString holderText(const QJsonObject &status);
// The clients alone, one row each, as the window's tooltip shows them.
QString clientTable(const QJsonArray &clients);
