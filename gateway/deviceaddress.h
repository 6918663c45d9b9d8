#pragma once

#include <QString>

enum class DeviceAddressCheck { Valid, EmptyOrBadPort, Invalid };

// Checks the device address and port the user typed and writes the address without leading
// zeros (010.000.000.001 becomes 10.0.0.1) into normalised when they are valid.
DeviceAddressCheck checkDeviceAddress(const QString &ipAddress, uint port, QString *normalised);
