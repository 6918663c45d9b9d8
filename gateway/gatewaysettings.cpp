#include "gateway/gatewaysettings.h"

#include "gateway/clientallowlist.h"
#include "gateway/deviceaddress.h"
#include "gateway/listenendpoint.h"
#include "gateway/seriallinesettings.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QVariantMap>

#include <atomic>

namespace {

const QString keyIpAddress = QStringLiteral("IpAddress");
const QString keyPort = QStringLiteral("Port");
const QString keySerialPort = QStringLiteral("SerialPort");
const QString keySerialSettings = QStringLiteral("SerialSettings");
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
const QString keyWhenDeviceDown = QStringLiteral("WhenDeviceDown");
const QString keyDeviceNotices = QStringLiteral("DeviceNotices");
const QString keyDeviceDownNotice = QStringLiteral("DeviceDownNotice");
const QString keyDeviceUpNotice = QStringLiteral("DeviceUpNotice");
const QString keyHoldMs = QStringLiteral("HoldMs");
const QString keyHoldMaxMs = QStringLiteral("HoldMaxMs");
const QString keyLockCommand = QStringLiteral("LockCommand");
const QString keyUnlockCommand = QStringLiteral("UnlockCommand");
const QString keyLockReply = QStringLiteral("LockReply");
const QString keyUnlockReply = QStringLiteral("UnlockReply");
const QString keyLockIdleMs = QStringLiteral("LockIdleMs");
const QString keyEventPattern = QStringLiteral("EventPattern");

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

// The keys in the order of their problems, with their defaults.
const QList<QPair<QString, QVariant>> &keys()
{
    static const QList<QPair<QString, QVariant>> all{
            {keyIpAddress, QStringLiteral("192.168.1.140")},
            {keyPort, 10500u},
            {keySerialPort, QString()},
            {keySerialSettings, QStringLiteral("115200,8N1")},
            {keyPortLocal, 10500u},
            {keyListenAddress, QString()},
            {keyDeviceLineEnd, QStringLiteral("CRLF")},
            {keyReplyRouting, false},
            {keyReplyQuietMs, 50},
            {keyReplyTimeoutMs, 500},
            {keyLogTraffic, false},
            {keyAutoconnect, false},
            {keyStartMinimized, false},
            {keyNoTrayWarning, false},
            {keyStartAtLogin, false},
            {keyLoggingLevel, 1},
            {keyLastVersionDisplayed, QString()},
            {keyReplyEnd, QStringLiteral("quiet")},
            {keyReplyEndPattern, QString()},
            {keyObserverListen, QString()},
            {keyMetricsListen, QString()},
            {keyAllowedClients, QString()},
            {keyWhenDeviceDown, QStringLiteral("keep")},
            {keyDeviceNotices, false},
            // No instrument, radio or modem answers with a line that starts so.
            {keyDeviceDownNotice, QStringLiteral("!VQGATEWAY DEVICE DOWN")},
            {keyDeviceUpNotice, QStringLiteral("!VQGATEWAY DEVICE UP")},
            {keyHoldMs, 0},
            {keyHoldMaxMs, 5000},
            {keyLockCommand, QString()},
            {keyUnlockCommand, QString()},
            {keyLockReply, QStringLiteral("LOCKED")},
            {keyUnlockReply, QStringLiteral("UNLOCKED")},
            {keyLockIdleMs, 10000},
            {keyEventPattern, QString()}};
    return all;
}

// Every key a user may write: its line in the file is read as the user wrote it. The program
// writes these keys with plain values only (addresses, numbers, true and false), which QSettings
// writes as they are; it writes the last one, the version an update server named, with
// QSettings' own quotes and escapes, and reads it through QSettings.
bool readAsWritten(const QString &key)
{
    return key != keyLastVersionDisplayed;
}

// The file's lines, and for each key read as written, the index of its last line in the
// [General] section (or before any section), where QSettings reads it.
QStringList fileLines(const QString &path, QMap<QString, int> *userKeyLines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    bool general = true;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        const QString key = line.left(line.indexOf(QLatin1Char('='))).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            general = line.compare(QLatin1String("[General]"), Qt::CaseInsensitive) == 0;
        else if (general && line.contains(QLatin1Char('=')) && readAsWritten(key))
            userKeyLines->insert(key, i);
    }
    return lines;
}

// The text after "Key=" on the key's line, without the blanks around it and the double quotes
// around the whole, if any; the rest is taken as it is: QSettings' reader would make a list of a
// text with commas, end it at a semicolon and take backslashes for escapes.
bool valueAsWritten(const QString &path, const QString &key, QString *value)
{
    QMap<QString, int> userKeyLines;
    const QStringList lines = fileLines(path, &userKeyLines);
    if (!userKeyLines.contains(key))
        return false;
    const QString line = lines.at(userKeyLines.value(key));
    *value = line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed();
    if (value->size() >= 2 && value->startsWith(QLatin1Char('"'))
        && value->endsWith(QLatin1Char('"')))
        *value = value->mid(1, value->size() - 2);
    return true;
}

// QSettings writes the whole file anew, each value as it read it: the lines of the keys read as
// written, but the one just written, go back as they were before, so that nothing it misread is
// lost.
void restoreUserLines(const QString &path, const QStringList &before,
                      const QMap<QString, int> &userKeyLines, const QString &written)
{
    QMap<QString, int> nowAt;
    QStringList lines = fileLines(path, &nowAt);
    bool changed = false;
    for (auto it = userKeyLines.cbegin(); it != userKeyLines.cend(); ++it) {
        const QString &line = before.at(it.value());
        if (it.key() == written)
            continue;
        if (!nowAt.contains(it.key()))
            lines.insert(qMax(0, lines.indexOf(QLatin1String("[General]")) + 1), line);
        else if (lines.at(nowAt.value(it.key())) != line)
            lines[nowAt.value(it.key())] = line;
        else
            continue;
        changed = true;
    }
    QSaveFile file(path);
    if (changed && file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        file.write(lines.join(QLatin1Char('\n')).toUtf8());
        file.commit();
    }
}

QString textOf(const QVariant &value)
{
    return value.userType() == QMetaType::QStringList
            ? value.toStringList().join(QLatin1String(", "))
            : value.toString();
}

// A number as stored: of a number type, or as decimal digits with an optional minus sign.
bool numberOf(const QVariant &value, qint64 *number)
{
    switch (value.userType()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        *number = value.toLongLong();
        return true;
    default:
        break;
    }
    QString text = textOf(value).trimmed();
    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative)
        text.remove(0, 1);
    if (!isDecimalNumber(text) || text.size() > 9)
        return false;
    *number = negative ? -text.toLongLong() : text.toLongLong();
    return true;
}

const char *const noDevice = "none: the device is not connected";
const char *const noServer = "none: the server does not start";

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
    if (overrides().contains(key))
        return overrides().value(key);
    if (readAsWritten(key)) {
        // What other objects of this process wrote goes to the file first, and what another
        // program wrote there is read anew.
        const_cast<GatewaySettings *>(this)->sync();
        QString text;
        if (contains(key) && valueAsWritten(fileName(), key, &text))
            return text;
    }
    const QVariant stored = value(key, defaultValue);
    return stored.userType() == QMetaType::QStringList ? QVariant(textOf(stored)) : stored;
}

void GatewaySettings::write(const QString &key, const QVariant &value)
{
    overrides().remove(key);
    sync();
    QMap<QString, int> userKeyLines;
    const QStringList before = fileLines(fileName(), &userKeyLines);
    setValue(key, value);
    sync();
    if (!userKeyLines.isEmpty()) {
        restoreUserLines(fileName(), before, userKeyLines, key);
        sync();
    }
}

QVariant GatewaySettings::checked(const QString &key, QString *problem) const
{
    QVariant defaultValue;
    for (const auto &known : keys())
        if (known.first == key)
            defaultValue = known.second;
    const QVariant stored = read(key, defaultValue);
    const QString text = textOf(stored);
    // The fallback, with the line that names it.
    const auto refuse
            = [&](const QString &what, const QVariant &fallback, const QString &fallbackText) {
                  if (problem)
                      *problem = QStringLiteral("%1 \"%2\" is not %3 - using %4")
                                         .arg(key, text, what, fallbackText);
                  return fallback;
              };
    if (defaultValue.userType() == QMetaType::Bool) {
        const QString flag = text.trimmed().toLower();
        if (stored.userType() == QMetaType::Bool || flag == QLatin1String("true")
            || flag == QLatin1String("false") || flag == QLatin1String("1")
            || flag == QLatin1String("0"))
            return flag == QLatin1String("true") || flag == QLatin1String("1");
        return refuse(QStringLiteral("true or false"), defaultValue, defaultValue.toString());
    }
    qint64 number = 0;
    const bool isNumber = numberOf(stored, &number);
    const auto inRange = [&](qint64 low, qint64 high, const QString &what, const QVariant &fallback,
                             const QString &fallbackText) {
        return isNumber && number >= low && number <= high
                ? QVariant(number)
                : refuse(what.arg(low).arg(high), fallback, fallbackText);
    };
    QHostAddress address;
    QString endpointAddress, bad;
    quint16 port = 0;
    if (key == keyPort)
        return inRange(1, highestPort, QStringLiteral("a port from %1 to %2"), 0u,
                       QLatin1String(noDevice));
    if (key == keyPortLocal)
        return inRange(1, highestPort, QStringLiteral("a port from %1 to %2"), 0u,
                       QLatin1String(noServer));
    if (key == keyReplyQuietMs || key == keyReplyTimeoutMs)
        return inRange(1, 10000, QStringLiteral("from %1 to %2 ms"), defaultValue,
                       defaultValue.toString());
    if (key == keyHoldMs)
        return inRange(0, 600000, QStringLiteral("from %1 to %2 ms"), defaultValue,
                       QStringLiteral("0: no turns"));
    if (key == keyHoldMaxMs || key == keyLockIdleMs)
        return inRange(1, 3600000, QStringLiteral("from %1 to %2 ms"), defaultValue,
                       defaultValue.toString());
    if (key == keyUnlockCommand && !text.isEmpty() && text == checked(keyLockCommand).toString())
        return refuse(QStringLiteral("apart from LockCommand"), QString(),
                      QStringLiteral("none: a lock ends when its client leaves or is idle"));
    if (key == keyLockReply || key == keyUnlockReply)
        return !text.isEmpty()
                ? text
                : refuse(QStringLiteral("a line"), defaultValue, defaultValue.toString());
    if (key == keyEventPattern)
        return text.isEmpty() || QRegularExpression(text).isValid()
                ? text
                : refuse(QStringLiteral("a regular expression"), QString(),
                         QStringLiteral("none: no device events"));
    if (key == keyLoggingLevel)
        return inRange(0, 6, QStringLiteral("a level from %1 to %2"), defaultValue,
                       defaultValue.toString());
    if (key == keyIpAddress)
        return checkDeviceAddress(text, defaultDevicePort, nullptr) == DeviceAddressCheck::Valid
                ? stored
                // Kept, so that every attempt to connect is refused and says so.
                : refuse(QStringLiteral("an IPv4 address, an IPv6 address or a host name"), text,
                         QLatin1String(noDevice));
    if (key == keySerialPort)
        return text;
    if (key == keySerialSettings) {
        SerialLineSettings line;
        if (line.parse(text, &bad))
            return line.text();
        // Kept for a serial device, whose every attempt then says why it does not open.
        const bool serial = !read(keySerialPort).toString().isEmpty();
        return refuse(QStringLiteral("line settings like 115200,8N1 (%1)").arg(bad),
                      serial ? text : defaultValue,
                      serial ? QLatin1String(noDevice) : defaultValue.toString());
    }
    if (key == keyListenAddress) {
        if (text.isEmpty() || parseIpAddress(text, &address))
            return text.isEmpty() ? QString() : address.toString();
        return refuse(QStringLiteral("an IP address"), text, QLatin1String(noServer));
    }
    if (key == keyDeviceLineEnd)
        return text.toUpper() == QLatin1String("CRLF") || text.toUpper() == QLatin1String("LF")
                ? text.toUpper()
                : refuse(QStringLiteral("CRLF or LF"), defaultValue, defaultValue.toString());
    if (key == keyLastVersionDisplayed)
        return text;
    if (key == keyWhenDeviceDown)
        return text.toLower() == QLatin1String("keep") || text.toLower() == QLatin1String("close")
                ? text.toLower()
                : refuse(QStringLiteral("keep or close"), defaultValue, defaultValue.toString());
    if (key == keyDeviceDownNotice || key == keyDeviceUpNotice)
        return !text.isEmpty()
                ? text
                : refuse(QStringLiteral("a line"), defaultValue, defaultValue.toString());
    if (key == keyAllowedClients) {
        ClientAllowList list;
        // Kept, so that the server's own reading of it serves nobody.
        if (!ClientAllowList::parse(text, &list, &bad))
            return refuse(QStringLiteral("a list of full addresses and networks (\"%1\" is none)")
                                  .arg(bad),
                          text, QStringLiteral("none: no client is served"));
        return text;
    }
    const bool patternEnd = (key == keyReplyEnd || key == keyReplyEndPattern)
            && read(keyReplyEnd).toString().toLower() == QLatin1String("pattern");
    if (key == keyReplyEnd) {
        if (!QStringList{"quiet", "query", "pattern"}.contains(text.toLower()))
            return refuse(QStringLiteral("quiet, query or pattern"), defaultValue,
                          defaultValue.toString());
        // A pattern that is none is the pattern's problem.
        return patternEnd && checked(keyReplyEndPattern).toString().isEmpty() ? defaultValue
                                                                              : text.toLower();
    }
    if (key == keyReplyEndPattern) {
        if ((text.isEmpty() && !patternEnd)
            || (!text.isEmpty() && QRegularExpression(text).isValid()))
            return text;
        return refuse(QStringLiteral("a regular expression"), QString(),
                      patternEnd ? QStringLiteral("ReplyEnd=quiet") : QStringLiteral("none"));
    }
    // The observers and the metrics need ports of their own.
    const QString endpointExpected = QStringLiteral("[ADDRESS:]PORT with a port from 1 to 65535");
    const quint16 serverPort = quint16(checked(keyPortLocal).toUInt());
    const QString serverAddress = checked(keyListenAddress).toString();
    const bool serverUsable = serverPort != 0
            && (serverAddress.isEmpty() || parseIpAddress(serverAddress, &address));
    if (key == keyObserverListen) {
        if (text.isEmpty())
            return text;
        if (!parseListenEndpoint(text, &endpointAddress, &port))
            return refuse(endpointExpected, QString(), QStringLiteral("none: no observers"));
        if (serverUsable && endpointsClash(endpointAddress, port, serverAddress, serverPort))
            return refuse(QStringLiteral("apart from the client server's port"), QString(),
                          QStringLiteral("none: no observers"));
        return text;
    }
    if (key == keyMetricsListen) {
        if (text.isEmpty())
            return text;
        if (!parseListenEndpoint(text, &endpointAddress, &port))
            return refuse(endpointExpected, QString(), QStringLiteral("none: no metrics"));
        // A port alone is served on loopback.
        if (endpointAddress.isEmpty())
            endpointAddress = QStringLiteral("127.0.0.1");
        QString observerAddress;
        quint16 observerPort = 0;
        if ((serverUsable && endpointsClash(endpointAddress, port, serverAddress, serverPort))
            || (parseListenEndpoint(checked(keyObserverListen).toString(), &observerAddress,
                                    &observerPort)
                && endpointsClash(endpointAddress, port, observerAddress, observerPort)))
            return refuse(QStringLiteral("apart from the ports of the client server and the "
                                         "observers"),
                          QString(), QStringLiteral("none: no metrics"));
        return text;
    }
    return text;
}

QStringList GatewaySettings::problems() const
{
    QStringList found;
    for (const auto &key : keys()) {
        QString problem;
        checked(key.first, &problem);
        if (!problem.isEmpty())
            found.append(problem);
    }
    return found;
}

QString GatewaySettings::ipAddress() const
{
    return checked(keyIpAddress).toString();
}
void GatewaySettings::setIpAddress(const QString &v)
{
    write(keyIpAddress, v);
}
unsigned int GatewaySettings::port() const
{
    return checked(keyPort).toUInt();
}
void GatewaySettings::setPort(const unsigned int &v)
{
    write(keyPort, v);
}
QString GatewaySettings::serialPort() const
{
    return checked(keySerialPort).toString();
}
void GatewaySettings::setSerialPort(const QString &v)
{
    write(keySerialPort, v);
}
QString GatewaySettings::serialSettings() const
{
    return checked(keySerialSettings).toString();
}
void GatewaySettings::setSerialSettings(const QString &v)
{
    write(keySerialSettings, v);
}
unsigned int GatewaySettings::portLocal() const
{
    return checked(keyPortLocal).toUInt();
}
void GatewaySettings::setPortLocal(const unsigned int &v)
{
    write(keyPortLocal, v);
}
QString GatewaySettings::listenAddress() const
{
    return checked(keyListenAddress).toString();
}
void GatewaySettings::setListenAddress(const QString &v)
{
    write(keyListenAddress, v);
}
QString GatewaySettings::deviceLineEnd() const
{
    return checked(keyDeviceLineEnd).toString();
}
void GatewaySettings::setDeviceLineEnd(const QString &v)
{
    write(keyDeviceLineEnd, v);
}
bool GatewaySettings::replyRouting() const
{
    return checked(keyReplyRouting).toBool();
}
void GatewaySettings::setReplyRouting(const bool &v)
{
    write(keyReplyRouting, v);
}
int GatewaySettings::replyQuietMs() const
{
    return checked(keyReplyQuietMs).toInt();
}
void GatewaySettings::setReplyQuietMs(const int &v)
{
    write(keyReplyQuietMs, v);
}
int GatewaySettings::replyTimeoutMs() const
{
    return checked(keyReplyTimeoutMs).toInt();
}
void GatewaySettings::setReplyTimeoutMs(const int &v)
{
    write(keyReplyTimeoutMs, v);
}
bool GatewaySettings::logTraffic() const
{
    const bool on = checked(keyLogTraffic).toBool();
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
    return checked(keyAutoconnect).toBool();
}
void GatewaySettings::setAutoconnect(const bool &v)
{
    write(keyAutoconnect, v);
}
bool GatewaySettings::startMinimized() const
{
    return checked(keyStartMinimized).toBool();
}
void GatewaySettings::setStartMinimized(const bool &v)
{
    write(keyStartMinimized, v);
}
bool GatewaySettings::noTrayWarning() const
{
    return checked(keyNoTrayWarning).toBool();
}
void GatewaySettings::setNoTrayWarning(const bool &v)
{
    write(keyNoTrayWarning, v);
}
bool GatewaySettings::startAtLogin() const
{
    return checked(keyStartAtLogin).toBool();
}
void GatewaySettings::setStartAtLogin(const bool &v)
{
    write(keyStartAtLogin, v);
}
int GatewaySettings::loggingLevel() const
{
    return checked(keyLoggingLevel).toInt();
}
void GatewaySettings::setLoggingLevel(const int &v)
{
    write(keyLoggingLevel, v);
}
QString GatewaySettings::lastVersionDisplayed() const
{
    return checked(keyLastVersionDisplayed).toString();
}
void GatewaySettings::setLastVersionDisplayed(const QString &v)
{
    write(keyLastVersionDisplayed, v);
}
QString GatewaySettings::replyEnd() const
{
    return checked(keyReplyEnd).toString();
}
QString GatewaySettings::replyEndPattern() const
{
    return checked(keyReplyEndPattern).toString();
}
QString GatewaySettings::observerListen() const
{
    return checked(keyObserverListen).toString();
}
QString GatewaySettings::metricsListen() const
{
    return checked(keyMetricsListen).toString();
}
QString GatewaySettings::allowedClients() const
{
    return checked(keyAllowedClients).toString();
}
QString GatewaySettings::whenDeviceDown() const
{
    return checked(keyWhenDeviceDown).toString();
}
bool GatewaySettings::deviceNotices() const
{
    return checked(keyDeviceNotices).toBool();
}
QString GatewaySettings::deviceDownNotice() const
{
    return checked(keyDeviceDownNotice).toString();
}
QString GatewaySettings::deviceUpNotice() const
{
    return checked(keyDeviceUpNotice).toString();
}
int GatewaySettings::holdMs() const
{
    return checked(keyHoldMs).toInt();
}
int GatewaySettings::holdMaxMs() const
{
    return checked(keyHoldMaxMs).toInt();
}
QString GatewaySettings::lockCommand() const
{
    return checked(keyLockCommand).toString();
}
QString GatewaySettings::unlockCommand() const
{
    return checked(keyUnlockCommand).toString();
}
QString GatewaySettings::lockReply() const
{
    return checked(keyLockReply).toString();
}
QString GatewaySettings::unlockReply() const
{
    return checked(keyUnlockReply).toString();
}
int GatewaySettings::lockIdleMs() const
{
    return checked(keyLockIdleMs).toInt();
}
QString GatewaySettings::eventPattern() const
{
    return checked(keyEventPattern).toString();
}

ConfigurationReport configurationReport(const GatewaySettings &settings)
{
    ConfigurationReport report;
    report.problems = settings.problems();
    // A key is usable when no problem names it.
    const auto usable = [&report](const char *key) {
        return report.problems.filter(QRegularExpression(QStringLiteral("^%1 ").arg(key)))
                .isEmpty();
    };
    const auto onOff = [](bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); };
    const QString instance = GatewaySettings::instanceName();
    report.lines.append(QStringLiteral("Instance: %1, settings %2")
                                .arg(instance.isEmpty() ? QStringLiteral("default") : instance,
                                     settings.fileName()));
    QString normalised;
    checkDeviceAddress(settings.ipAddress(), defaultDevicePort, &normalised);
    const QString serialPort = settings.serialPort();
    const QString networkDevice = usable("IpAddress") && usable("Port")
            ? QStringLiteral("%1:%2").arg(deviceHostText(normalised)).arg(settings.port())
            : QStringLiteral("none");
    const QString serialDevice = usable("SerialSettings")
            ? QStringLiteral("serial port %1 %2").arg(serialPort, settings.serialSettings())
            : QStringLiteral("none");
    report.lines.append(QStringLiteral("Device: %1, lines end in %2")
                                .arg(serialPort.isEmpty() ? networkDevice : serialDevice,
                                     settings.deviceLineEnd() == QLatin1String("LF")
                                             ? QStringLiteral("LF")
                                             : QStringLiteral("CR LF")));
    const QString listenAddress = settings.listenAddress();
    report.lines.append(
            QStringLiteral("Listen: %1")
                    .arg(!usable("PortLocal") || !usable("ListenAddress")
                                 ? QStringLiteral("none")
                                 : QStringLiteral("%1, port %2")
                                           .arg(listenAddress.isEmpty()
                                                        ? QStringLiteral("every interface")
                                                        : listenAddress)
                                           .arg(settings.portLocal())));
    const QString observe = settings.observerListen();
    report.lines.append(QStringLiteral("Observe: %1")
                                .arg(observe.isEmpty() ? QStringLiteral("none") : observe));
    const QString allowed = settings.allowedClients();
    report.lines.append(QStringLiteral("Allowed clients: %1")
                                .arg(!usable("AllowedClients")   ? QStringLiteral("nobody")
                                             : allowed.isEmpty() ? QStringLiteral("everyone")
                                                                 : allowed));
    QString rule = QStringLiteral("replies end when the device is quiet for %1 ms")
                           .arg(settings.replyQuietMs());
    if (settings.replyEnd() == QLatin1String("query"))
        rule = QStringLiteral("a query (a line with '?') gets one reply line, another line none");
    else if (settings.replyEnd() == QLatin1String("pattern"))
        rule = QStringLiteral("replies end at a line that matches \"%1\"")
                       .arg(settings.replyEndPattern());
    report.lines.append(
            QStringLiteral("Reply routing: %1")
                    .arg(settings.replyRouting()
                                 ? QStringLiteral("on, %1, time-out %2 ms")
                                           .arg(rule, QString::number(settings.replyTimeoutMs()))
                                 : onOff(false)));
    QString metrics = settings.metricsListen();
    if (!metrics.isEmpty() && !metrics.contains(QLatin1Char(':')))
        metrics.prepend(QLatin1String("127.0.0.1:"));
    report.lines.append(QStringLiteral("Metrics: %1")
                                .arg(metrics.isEmpty() ? QStringLiteral("none") : metrics));
    report.lines.append(QStringLiteral("Traffic logging: %1").arg(onOff(settings.logTraffic())));
    report.lines.append(
            QStringLiteral("Turns: %1")
                    .arg(settings.holdMs() > 0
                                 ? QStringLiteral("hold %1 ms, at most %2 ms while others wait")
                                           .arg(settings.holdMs())
                                           .arg(settings.holdMaxMs())
                                 : onOff(false)));
    const QString unlock = settings.unlockCommand();
    report.lines.append(
            QStringLiteral("Locks: %1")
                    .arg(settings.lockCommand().isEmpty()
                                 ? onOff(false)
                                 : QStringLiteral("\"%1\" answered \"%2\", %3, idle limit %4 ms")
                                           .arg(settings.lockCommand(), settings.lockReply(),
                                                unlock.isEmpty()
                                                        ? QStringLiteral("no unlock line")
                                                        : QStringLiteral("\"%1\" answered \"%2\"")
                                                                  .arg(unlock,
                                                                       settings.unlockReply()))
                                           .arg(settings.lockIdleMs())));
    report.lines.append(QStringLiteral("Device events: %1")
                                .arg(settings.eventPattern().isEmpty()
                                             ? QStringLiteral("none")
                                             : QStringLiteral("lines that match \"%1\"")
                                                       .arg(settings.eventPattern())));
    report.lines.append(QStringLiteral("When the device is down: %1, notices %2")
                                .arg(settings.whenDeviceDown() == QLatin1String("close")
                                             ? QStringLiteral("clients closed and refused")
                                             : QStringLiteral("clients kept"),
                                     settings.deviceNotices()
                                             ? QStringLiteral("\"%1\" and \"%2\"")
                                                       .arg(settings.deviceDownNotice(),
                                                            settings.deviceUpNotice())
                                             : onOff(false)));
    return report;
}
