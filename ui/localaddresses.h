#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

constexpr int maxShownLocalAddresses = 6;

// The addresses client applications can reach the gateway on, as the window shows them: IPv4
// only, no link-local ones, at most six, joined with ", ".
QString localAddressList(const QList<QHostAddress> &addresses);
