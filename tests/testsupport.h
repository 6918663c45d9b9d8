#pragma once

#include "VqLog/vqlog.h"

#include <QList>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <mutex>

class QTcpSocket;

// A temporary home for one test program: HOME, the XDG directories and the settings store all
// point into it, so no test touches the real home directory. It is kept when a test failed.
class TestDir
{
public:
    TestDir();
    ~TestDir();
    QString path() const { return dir.path(); }
    QString filePath(const QString &name) const { return dir.filePath(name); }
    // Empties the settings store and points the device address at this machine, so that
    // nothing a test starts can reach the default device address.
    static void resetSettings();
    // Call from every test class's cleanup(): remembers a failure so the directory stays.
    void noteResult();

private:
    QTemporaryDir dir;
};

// Keeps every line the logger hands it; install() makes it the logger's only destination.
class CaptureDestination : public VqLog::Destination
{
public:
    static QSharedPointer<CaptureDestination> install(VqLog::Level level = VqLog::Debug);
    void write(const QString &message, VqLog::Level) override;
    bool isValid() override { return true; }
    QStringList lines() const;
    // The message part of every line: what follows the level text and the timestamp.
    QStringList messages() const;
    bool contains(const QString &message) const { return messages().contains(message); }
    int count(const QString &part) const { return messages().filter(part).size(); }
    // True when the messages hold these, in this order, other threads' lines in between or not.
    bool inOrder(const QStringList &expected) const;
    void clear();

private:
    mutable std::mutex mutex;
    QStringList captured;
};

// A port on which nothing listens right now.
quint16 freeLoopbackPort();

// A device stand-in on 127.0.0.1: accepts connections, keeps what they send, answers on request.
class FakeDevice : public QTcpServer
{
    Q_OBJECT

public:
    explicit FakeDevice(QObject *parent = nullptr);
    quint16 port() const { return serverPort(); }
    QByteArray received() const { return receivedBytes; }
    void clear() { receivedBytes.clear(); }
    int connectionCount() const { return connections.size(); }
    QTcpSocket *latest() const { return connections.isEmpty() ? nullptr : connections.last(); }
    void send(const QByteArray &bytes);
    void closeConnections();
    // While not reading, what the gateway sends waits in the socket layer, as with a busy device.
    void setReading(bool reading);
    // When set, every line (ending in LF) that arrives is answered with what this returns.
    std::function<QByteArray(const QByteArray &line)> answer;

private:
    QList<QTcpSocket *> connections;
    QByteArray receivedBytes;
    QByteArray unanswered;
    bool reading = true;
};

// A client application stand-in: connects to a local port and keeps everything it receives.
class FakeClient : public QObject
{
    Q_OBJECT

public:
    explicit FakeClient(quint16 port, QObject *parent = nullptr);
    QTcpSocket *socket() const { return tcpSocket; }
    QByteArray received() const { return receivedBytes; }
    bool isConnected() const;
    bool isClosed() const;
    void send(const QByteArray &bytes);

private:
    QTcpSocket *tcpSocket;
    QByteArray receivedBytes;
};

// An update server stand-in: answers every HTTP request with the same body.
class FakeUpdateServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit FakeUpdateServer(QObject *parent = nullptr);
    void setBody(const QByteArray &xml) { body = xml; }
    QString documentUrl() const;
    int requests() const { return requestCount; }

private:
    QByteArray body;
    int requestCount = 0;
};

// Stands in for the desktop's opener (QDesktopServices::setUrlHandler) and keeps what it was
// asked to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls.append(url); }
};
