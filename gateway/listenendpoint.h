#pragma once

#include <QHostAddress>
#include <QString>

// Reads one IP address in full, the one reading every setting and option shares: IPv4 as four
// decimal numbers from 0 to 255 (leading zeros are decimal, as in the device address), IPv6 as
// QHostAddress reads it. Shorthand such as "127.1", "10" or "192.168.1." and octal or hexadecimal
// parts, which other readers take in other ways, are no address. False when text is none.
bool parseIpAddress(const QString &text, QHostAddress *address);
// Reads "[ADDRESS:]PORT" (an IPv6 address in brackets): the address, empty when only a port is
// given, and a port from 1 to 65535. False when the text is not such an endpoint.
bool parseListenEndpoint(const QString &text, QString *address, quint16 *port);
// Reads "ADDRESS:PORT" with any port; false when there is no port after the last colon.
bool splitEndpoint(const QString &text, QString *address, uint *port);
// True when two servers cannot both listen on these endpoints: the same port, and the same
// address or one that covers the other (an empty address is every interface, IPv4 and IPv6;
// 0.0.0.0 every IPv4 one, :: every IPv6 one).
bool endpointsClash(const QString &address, quint16 port, const QString &otherAddress,
                    quint16 otherPort);
