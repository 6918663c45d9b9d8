#pragma once

#include <QString>

enum class DeviceAddressCheck { Valid, EmptyOrBadPort, Invalid };

// The port the maker's devices listen on; any other port works as well.
constexpr uint defaultDevicePort = 10500;
constexpr uint highestPort = 65535;

// True when text is one or more of the digits 0 to 9 and nothing else: no sign, no blank.
bool isDecimalNumber(const QString &text);

// True when text holds digits and dots only (or nothing): the form the window's masked address
// field edits, read as IPv4.
bool isDottedDecimal(const QString &text);

// Checks the device address and port the user typed and writes the address as the device link
// uses it into normalised when they are valid: IPv4 without leading zeros (010.000.000.001 becomes
// 10.0.0.1), IPv6 without brackets, a host name as typed. A host name is resolved by each attempt
// to connect, not here.
DeviceAddressCheck checkDeviceAddress(const QString &address, uint port, QString *normalised);

// The address for people to read next to a port: IPv6 in brackets ([::1]).
QString deviceHostText(const QString &normalised);
