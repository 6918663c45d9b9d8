#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

// The user's choices between runs: one typed getter and setter per key, each going straight to
// the store, so every object of this class sees every other object's writes at once.
//
// Each getter returns a usable value: a stored value that is not one (a port that is no number,
// a flag that is neither true nor false) gives way to the key's fallback, which problems()
// names. The fallback is the key's default, except for the keys that say where to connect or
// listen and who may connect, where it is nothing: no device link, no server, no observers, no
// metrics, no client served.
//
// The settings file is an INI file. Every key a user may write there (all but
// LastVersionDisplayed) reads as written on its line, whole: commas, semicolons and
// backslashes included, without the blanks around the value and the double quotes around the
// whole, if any; QSettings' own reader would make a list of a text with commas, end it at a
// semicolon and take backslashes for escapes. When the program stores a key, QSettings writes
// the whole file anew, and the other keys' lines are put back as the user wrote them.
class GatewaySettings : public QSettings
{
    Q_OBJECT

public:
    GatewaySettings();

    // A named instance keeps its own store ("Gateway-NAME" beside "Gateway"). Set once at start.
    static void setInstanceName(const QString &name);
    static QString instanceName();
    // The instance's own log file, in the user's application data folder.
    static QString logFilePath();
    // Values given on the command line: every getter returns them for this run, and they are
    // never written to the store. A setter, the user's own edit, ends the override of its key.
    static void overrideForThisRun(const QString &key, const QVariant &value);

    QString ipAddress() const;
    void setIpAddress(const QString &value);
    unsigned int port() const;
    void setPort(const unsigned int &value);
    // The device's serial port, such as /dev/serial/by-id/...; empty for a network device.
    QString serialPort() const;
    void setSerialPort(const QString &value);
    // Its line settings, as SerialLineSettings reads them: "115200,8N1" by default.
    QString serialSettings() const;
    void setSerialSettings(const QString &value);
    unsigned int portLocal() const;
    void setPortLocal(const unsigned int &value);
    // The local address the client server listens on; empty for all of them.
    QString listenAddress() const;
    void setListenAddress(const QString &value);
    // "CRLF" (the default) or "LF": where the device's lines end, as stored.
    QString deviceLineEnd() const;
    void setDeviceLineEnd(const QString &value);
    // Each client's own replies only, one command at a time, instead of every reply to everyone.
    bool replyRouting() const;
    void setReplyRouting(const bool &value);
    int replyQuietMs() const;
    void setReplyQuietMs(const int &value);
    int replyTimeoutMs() const;
    void setReplyTimeoutMs(const int &value);
    bool logTraffic() const;
    void setLogTraffic(const bool &value);
    // "LogTraffic" as last read or written through any object, readable from any thread.
    static bool logTrafficInAnyThread();
    bool autoconnect() const;
    void setAutoconnect(const bool &value);
    bool startMinimized() const;
    void setStartMinimized(const bool &value);
    bool noTrayWarning() const;
    void setNoTrayWarning(const bool &value);
    bool startAtLogin() const;
    void setStartAtLogin(const bool &value);
    // -1 when the stored value is no number.
    int loggingLevel() const;
    void setLoggingLevel(const int &value);
    QString lastVersionDisplayed() const;
    void setLastVersionDisplayed(const QString &value);
    // Set in the settings file only, and read at start. How routed replies end: "quiet",
    // "query" or "pattern" (with the regular expression of their last line).
    QString replyEnd() const;
    QString replyEndPattern() const;
    // "[ADDRESS:]PORT" of the read-only observers' port, and of the metrics; empty for none.
    QString observerListen() const;
    QString metricsListen() const;
    // The addresses and networks clients and observers may connect from; empty for everyone.
    QString allowedClients() const;
    // While the device link is down: "keep" the clients (the default) or "close" them and every
    // new one until it is back; and whether they are told, with which lines.
    QString whenDeviceDown() const;
    bool deviceNotices() const;
    QString deviceDownNotice() const;
    QString deviceUpNotice() const;
    // Sharing the device: a client's turn lasts until it has been quiet for holdMs (0: no turns)
    // and, while others wait, at most holdMaxMs; a client's lock line (empty: no locks) gives it
    // the device alone until its unlock line, or until it is quiet for lockIdleMs.
    int holdMs() const;
    int holdMaxMs() const;
    QString lockCommand() const;
    QString unlockCommand() const;
    QString lockReply() const;
    QString unlockReply() const;
    int lockIdleMs() const;
    // The regular expression of device lines that go to everyone, outside every reply.
    QString eventPattern() const;

    // Every stored value that is not usable, one line each in the order of the keys above:
    // "<Key> "<value>" is not <what it must be> - using <fallback>".
    QStringList problems() const;

private:
    // The key's value for the getter, and why the stored one is not usable when it is not.
    QVariant checked(const QString &key, QString *problem = nullptr) const;
    // The value given for this run, else the stored one as written, else defaultValue.
    QVariant read(const QString &key, const QVariant &defaultValue = QVariant()) const;
    void write(const QString &key, const QVariant &value);
};

// What a start would run with: a few lines stating the effective configuration (instance,
// device and line end, listen, observe, allowed clients, reply routing and its rule, metrics,
// traffic logging, turns, locks and device events), and every problem of the settings, as
// GatewaySettings::problems() says it.
struct ConfigurationReport
{
    QStringList lines;
    QStringList problems;
};
ConfigurationReport configurationReport(const GatewaySettings &settings);
