#pragma once

#include <QSettings>
#include <QString>

// The user's choices between runs: one typed getter and setter per key, each going straight to
// the store, so every object of this class sees every other object's writes at once.
class GatewaySettings : public QSettings
{
    Q_OBJECT

public:
    GatewaySettings();

    QString ipAddress() const;
    void setIpAddress(const QString &value);
    unsigned int port() const;
    void setPort(const unsigned int &value);
    unsigned int portLocal() const;
    void setPortLocal(const unsigned int &value);
    bool logTraffic() const;
    void setLogTraffic(const bool &value);
    bool autoconnect() const;
    void setAutoconnect(const bool &value);
    bool startMinimized() const;
    void setStartMinimized(const bool &value);
    bool noTrayWarning() const;
    void setNoTrayWarning(const bool &value);
    bool startAtLogin() const;
    void setStartAtLogin(const bool &value);
    int loggingLevel() const;
    void setLoggingLevel(const int &value);
    QString lastVersionDisplayed() const;
    void setLastVersionDisplayed(const QString &value);
};
