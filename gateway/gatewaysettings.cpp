#include "gateway/gatewaysettings.h"

#include <QDir>
#include <QStandardPaths>
#include <QVariantMap>

#include <atomic>

namespace {

const QString keyIpAddress = QStringLiteral("IpAddress");
const QString keyPort = QStringLiteral("Port");
const QString keyPortLocal = QStringLiteral("PortLocal");
const QString keyListenAddress = QStringLiteral("ListenAddress");
const QString keyDeviceLineEnd = QStringLiteral("DeviceLineEnd");
const QString keyReplyRouting = QStringLiteral("ReplyRouting");
const QString keyReplyQuietMs = QStringLiteral("ReplyQuietMs");
const QString keyReplyTimeoutMs = QStringLiteral("ReplyTimeoutMs");
const QString keyLogTraffic = QStringLiteral("LogTraffic");
const QString keyAutoconnect = QStringLiteral("Autoconnect");
const QString keyStartMinimized = QStringLiteral("StartMinimized");
const QString keyNoTrayWarning = QStringLiteral("NoTrayWarning");
const QString keyStartAtLogin = QStringLiteral("StartAtLogin");
const QString keyLoggingLevel = QStringLiteral("LoggingLevel");
const QString keyLastVersionDisplayed = QStringLiteral("LastVersionDisplayed");
const QString keyReplyEnd = QStringLiteral("ReplyEnd");
const QString keyReplyEndPattern = QStringLiteral("ReplyEndPattern");
const QString keyObserverListen = QStringLiteral("ObserverListen");
const QString keyMetricsListen = QStringLiteral("MetricsListen");
const QString keyAllowedClients = QStringLiteral("AllowedClients");

// The last "LogTraffic" read or written in this process, for the relay's own threads, which
// must not touch a settings object of the GUI thread.
std::atomic<bool> logTrafficMirror{false};

// Set before the first store is opened and read in the GUI thread only.
QString &instance()
{
    static QString name;
    return name;
}

QVariantMap &overrides()
{
    static QVariantMap values;
    return values;
}

}

GatewaySettings::GatewaySettings()
    : QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velquor"),
                instance().isEmpty() ? QStringLiteral("Gateway")
                                     : QStringLiteral("Gateway-") + instance())
{
}

void GatewaySettings::setInstanceName(const QString &name)
{
    instance() = name;
}

QString GatewaySettings::instanceName()
{
    return instance();
}

QString GatewaySettings::logFilePath()
{
    const QString name = instance().isEmpty()
            ? QStringLiteral("VQGateway_Log.txt")
            : QStringLiteral("VQGateway-%1_Log.txt").arg(instance());
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
            .filePath(name);
}

void GatewaySettings::overrideForThisRun(const QString &key, const QVariant &value)
{
    overrides().insert(key, value);
}

QVariant GatewaySettings::read(const QString &key, const QVariant &defaultValue) const
{
    return overrides().contains(key) ? overrides().value(key) : value(key, defaultValue);
}

void GatewaySettings::write(const QString &key, const QVariant &value)
{
    overrides().remove(key);
    setValue(key, value);
}

// A stored value that does not convert reads as the conversion's zero value, not the default.
QString GatewaySettings::ipAddress() const
{
    return read(keyIpAddress, QStringLiteral("192.168.1.140")).toString();
}
void GatewaySettings::setIpAddress(const QString &v)
{
    write(keyIpAddress, v);
}
unsigned int GatewaySettings::port() const
{
    return read(keyPort, 10500u).toUInt();
}
void GatewaySettings::setPort(const unsigned int &v)
{
    write(keyPort, v);
}
unsigned int GatewaySettings::portLocal() const
{
    return read(keyPortLocal, 10500u).toUInt();
}
void GatewaySettings::setPortLocal(const unsigned int &v)
{
    write(keyPortLocal, v);
}
QString GatewaySettings::listenAddress() const
{
    return read(keyListenAddress, QString()).toString();
}
void GatewaySettings::setListenAddress(const QString &v)
{
    write(keyListenAddress, v);
}
QString GatewaySettings::deviceLineEnd() const
{
    return read(keyDeviceLineEnd, QStringLiteral("CRLF")).toString();
}
void GatewaySettings::setDeviceLineEnd(const QString &v)
{
    write(keyDeviceLineEnd, v);
}
bool GatewaySettings::replyRouting() const
{
    return read(keyReplyRouting, false).toBool();
}
void GatewaySettings::setReplyRouting(const bool &v)
{
    write(keyReplyRouting, v);
}
int GatewaySettings::replyQuietMs() const
{
    return read(keyReplyQuietMs, 50).toInt();
}
void GatewaySettings::setReplyQuietMs(const int &v)
{
    write(keyReplyQuietMs, v);
}
int GatewaySettings::replyTimeoutMs() const
{
    return read(keyReplyTimeoutMs, 500).toInt();
}
void GatewaySettings::setReplyTimeoutMs(const int &v)
{
    write(keyReplyTimeoutMs, v);
}
bool GatewaySettings::logTraffic() const
{
    const bool on = read(keyLogTraffic, false).toBool();
    logTrafficMirror = on;
    return on;
}
void GatewaySettings::setLogTraffic(const bool &v)
{
    write(keyLogTraffic, v);
    logTrafficMirror = v;
}
bool GatewaySettings::logTrafficInAnyThread()
{
    return logTrafficMirror;
}
bool GatewaySettings::autoconnect() const
{
    return read(keyAutoconnect, false).toBool();
}
void GatewaySettings::setAutoconnect(const bool &v)
{
    write(keyAutoconnect, v);
}
bool GatewaySettings::startMinimized() const
{
    return read(keyStartMinimized, false).toBool();
}
void GatewaySettings::setStartMinimized(const bool &v)
{
    write(keyStartMinimized, v);
}
bool GatewaySettings::noTrayWarning() const
{
    return read(keyNoTrayWarning, false).toBool();
}
void GatewaySettings::setNoTrayWarning(const bool &v)
{
    write(keyNoTrayWarning, v);
}
bool GatewaySettings::startAtLogin() const
{
    return read(keyStartAtLogin, false).toBool();
}
void GatewaySettings::setStartAtLogin(const bool &v)
{
    write(keyStartAtLogin, v);
}
int GatewaySettings::loggingLevel() const
{
    // Unlike the other keys: a level that reads as 0 would log everything.
    bool number = false;
    const int level = read(keyLoggingLevel, 1).toInt(&number);
    return number ? level : -1;
}
void GatewaySettings::setLoggingLevel(const int &v)
{
    write(keyLoggingLevel, v);
}
QString GatewaySettings::lastVersionDisplayed() const
{
    return read(keyLastVersionDisplayed, QString()).toString();
}
void GatewaySettings::setLastVersionDisplayed(const QString &v)
{
    write(keyLastVersionDisplayed, v);
}
QString GatewaySettings::replyEnd() const
{
    return read(keyReplyEnd, QStringLiteral("quiet")).toString();
}
QString GatewaySettings::replyEndPattern() const
{
    return read(keyReplyEndPattern, QString()).toString();
}
QString GatewaySettings::observerListen() const
{
    return read(keyObserverListen, QString()).toString();
}
QString GatewaySettings::metricsListen() const
{
    return read(keyMetricsListen, QString()).toString();
}
QString GatewaySettings::allowedClients() const
{
    return read(keyAllowedClients, QString()).toString();
}
