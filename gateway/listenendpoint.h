#pragma once

#include <QString>

// Reads "[ADDRESS:]PORT" (an IPv6 address in brackets): the address, empty when only a port is
// given, and a port from 1 to 65535. False when the text is not such an endpoint.
bool parseListenEndpoint(const QString &text, QString *address, quint16 *port);
// Reads "ADDRESS:PORT" with any port; false when there is no port after the last colon.
bool splitEndpoint(const QString &text, QString *address, uint *port);
