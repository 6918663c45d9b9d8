#pragma once

#include <QString>

enum class DeviceAddressCheck { Valid, EmptyOrBadPort, Invalid };

// The ports a device may listen on.
constexpr uint lowestDevicePort = 10500;
constexpr uint highestPort = 65535;

// True when text is one or more of the digits 0 to 9 and nothing else: no sign, no blank.
bool isDecimalNumber(const QString &text);

// Checks the device address and port the user typed and writes the address without leading
// zeros (010.000.000.001 becomes 10.0.0.1) into normalised when they are valid.
DeviceAddressCheck checkDeviceAddress(const QString &ipAddress, uint port, QString *normalised);
