#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

// A client's address as its user knows it: an IPv4 client that arrives on an IPv6 socket as
// ::ffff:a.b.c.d is a.b.c.d; every other address stays as it is.
QHostAddress unmappedAddress(const QHostAddress &address);
// "127.0.0.1:50000" or "[::1]:50000", the address unmapped: where a client connects from, as the
// log and the metrics name it.
QString clientEndpoint(const QHostAddress &address, quint16 port);

// Which client addresses may connect: addresses and networks such as "127.0.0.1,
// 192.168.10.0/24, ::1". An empty list allows everyone; IPv4 clients that arrive as IPv4-mapped
// IPv6 addresses are matched as IPv4.
class ClientAllowList
{
public:
    // Everyone.
    ClientAllowList() = default;
    // Parses a list separated by commas or blanks, each entry a full address (as
    // parseIpAddress reads it) or such an address and "/" and a prefix length; false, and a list
    // that allows nobody, when an entry is anything else, or the text has separators only.
    static bool parse(const QString &text, ClientAllowList *list, QString *badEntry = nullptr);
    static ClientAllowList nobody();

    bool allows(const QHostAddress &address) const;
    bool allowsEveryone() const { return everyone; }

private:
    bool everyone = true;
    QList<QPair<QHostAddress, int>> networks;
};

// Which refusals are logged: at most one a minute per address, so that a port scan cannot flood
// the log. Bounded whatever the number of addresses.
class RefusalLog
{
public:
    bool shouldLog(const QHostAddress &address, qint64 nowMs);

private:
    QList<QPair<QHostAddress, qint64>> lastLogged;
};
