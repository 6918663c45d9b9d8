#include "app/gatewaysettings.h"

namespace {

const QString keyIpAddress = QStringLiteral("IpAddress");
const QString keyPort = QStringLiteral("Port");
const QString keyPortLocal = QStringLiteral("PortLocal");
const QString keyLogTraffic = QStringLiteral("LogTraffic");
const QString keyAutoconnect = QStringLiteral("Autoconnect");
const QString keyStartMinimized = QStringLiteral("StartMinimized");
const QString keyNoTrayWarning = QStringLiteral("NoTrayWarning");
const QString keyStartAtLogin = QStringLiteral("StartAtLogin");
const QString keyLoggingLevel = QStringLiteral("LoggingLevel");
const QString keyLastVersionDisplayed = QStringLiteral("LastVersionDisplayed");

}

GatewaySettings::GatewaySettings()
    : QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velquor"),
                QStringLiteral("Gateway"))
{
}

// A stored value that does not convert reads as the conversion's zero value, not the default.
QString GatewaySettings::ipAddress() const { return value(keyIpAddress, QStringLiteral("192.168.1.140")).toString(); }
void GatewaySettings::setIpAddress(const QString &v) { setValue(keyIpAddress, v); }
unsigned int GatewaySettings::port() const { return value(keyPort, 10500u).toUInt(); }
void GatewaySettings::setPort(const unsigned int &v) { setValue(keyPort, v); }
unsigned int GatewaySettings::portLocal() const { return value(keyPortLocal, 10500u).toUInt(); }
void GatewaySettings::setPortLocal(const unsigned int &v) { setValue(keyPortLocal, v); }
bool GatewaySettings::logTraffic() const { return value(keyLogTraffic, false).toBool(); }
void GatewaySettings::setLogTraffic(const bool &v) { setValue(keyLogTraffic, v); }
bool GatewaySettings::autoconnect() const { return value(keyAutoconnect, false).toBool(); }
void GatewaySettings::setAutoconnect(const bool &v) { setValue(keyAutoconnect, v); }
bool GatewaySettings::startMinimized() const { return value(keyStartMinimized, false).toBool(); }
void GatewaySettings::setStartMinimized(const bool &v) { setValue(keyStartMinimized, v); }
bool GatewaySettings::noTrayWarning() const { return value(keyNoTrayWarning, false).toBool(); }
void GatewaySettings::setNoTrayWarning(const bool &v) { setValue(keyNoTrayWarning, v); }
bool GatewaySettings::startAtLogin() const { return value(keyStartAtLogin, false).toBool(); }
void GatewaySettings::setStartAtLogin(const bool &v) { setValue(keyStartAtLogin, v); }
int GatewaySettings::loggingLevel() const { return value(keyLoggingLevel, 1).toInt(); }
void GatewaySettings::setLoggingLevel(const int &v) { setValue(keyLoggingLevel, v); }
QString GatewaySettings::lastVersionDisplayed() const { return value(keyLastVersionDisplayed, QString()).toString(); }
void GatewaySettings::setLastVersionDisplayed(const QString &v) { setValue(keyLastVersionDisplayed, v); }
