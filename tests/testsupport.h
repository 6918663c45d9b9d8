#pragma once

#include "VqLog/vqlog.h"
#include "gateway/gatewaymanager.h"
#include "gateway/gatewaysettings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#include <QMessageBox>
#endif

#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

// The message as a whole-line pattern, with a # standing for any number.
inline QRegularExpression numbered(const QString &message)
{
    return QRegularExpression(QLatin1Char('^')
                              + QRegularExpression::escape(message).replace(QLatin1String("\\#"),
                                                                            QLatin1String("\\d+"))
                              + QLatin1Char('$'));
}

// True when the messages hold these, in this order, other lines in between or not.
inline bool inOrder(const QStringList &messages, const QStringList &expected)
{
    int at = -1;
    for (const QString &message : expected)
        if ((at = messages.indexOf(numbered(message), at + 1)) < 0)
            return false;
    return true;
}

// This process's own socket from localPort to peerPort, the gateway's side of a connection when
// the gateway runs in the test's process; -1 when there is none.
inline int socketOf(quint16 localPort, quint16 peerPort)
{
    for (const QString &name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System)) {
        sockaddr_in local{}, peer{};
        socklen_t size = sizeof local;
        const int fd = name.toInt();
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size) == 0
            && getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &(size = sizeof peer)) == 0
            && ntohs(local.sin_port) == localPort && ntohs(peer.sin_port) == peerPort)
            return fd;
    }
    return -1;
}

// Lines "<tag> <n>" of lineSize bytes, numbered from first.
inline QByteArray numberedLines(const QByteArray &tag, int first, int count, int lineSize = 100)
{
    QByteArray lines;
    for (int n = first; n < first + count; ++n)
        lines += (tag + ' ' + QByteArray::number(n)).leftJustified(lineSize - 2, '.') + "\r\n";
    return lines;
}

// Leaves little room in the system for what such a socket sends, so that what waits to be sent
// shows in the gateway itself soon.
inline void shrinkSendBuffer(quint16 localPort, quint16 peerPort)
{
    const int room = 16 * 1024;
    QVERIFY(setsockopt(socketOf(localPort, peerPort), SOL_SOCKET, SO_SNDBUF, &room, sizeof room)
            == 0);
}

// A client that reads nothing, with little room to receive: a connected descriptor, and its port.
inline int connectStalledClient(quint16 port, quint16 *ownPort)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0), small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), size) != 0
        || getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        qFatal("could not connect a stalled client");
    *ownPort = ntohs(address.sin_port);
    return fd;
}

// The keep-alive idle time, in seconds, of such a socket; 0 when keep-alive is off.
inline int keepAliveIdle(quint16 localPort, quint16 peerPort)
{
    const int fd = socketOf(localPort, peerPort);
    int on = 0, idle = 0;
    socklen_t size = sizeof on;
    getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, &size);
    getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &size);
    return fd < 0 ? -1 : on ? idle : 0;
}

// Fails the test unless low <= value < high, naming what was measured.
inline void verifyWithin(qint64 value, qint64 low, qint64 high, const char *what)
{
    QVERIFY2(value >= low && value < high,
             qPrintable(QString::asprintf("%s: %lld, expected from %lld to below %lld", what, value,
                                          low, high)));
}

// Follows what waits for the device while a test waits, keeping the largest amount it saw.
class BacklogWatch
{
public:
    explicit BacklogWatch(std::function<qint64()> backlog)
        : backlog(std::move(backlog))
    {
    }
    // Waits up to timeoutMs for condition, looking at the backlog all the while.
    bool waitFor(const std::function<bool()> &condition, int timeoutMs)
    {
        return QTest::qWaitFor(
                [&] {
                    largest = qMax(largest, backlog());
                    return condition();
                },
                timeoutMs);
    }
    // Waits until more than 1,000,000 bytes wait while the sender still holds some it could not
    // hand over: TCP holds it back.
    bool waitUntilHeldBack(const QTcpSocket &sender)
    {
        return waitFor([&] { return largest > 1000 * 1000 && sender.bytesToWrite() > 0; }, 10000);
    }
    qint64 largest = 0;

private:
    const std::function<qint64()> backlog;
};

inline quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A temporary home, settings store and XDG directories, so that no test touches the user's own;
// kept when a test failed (noteResult() in every cleanup()).
class TestDir
{
public:
    TestDir()
    {
        for (const char *variable : {"HOME=home", "XDG_CONFIG_HOME=config", "XDG_DATA_HOME=data",
                                     "XDG_RUNTIME_DIR=runtime"}) {
            const QList<QByteArray> pair = QByteArray(variable).split('=');
            QDir(dir.path()).mkpath(QString::fromLatin1(pair.at(1)));
            qputenv(pair.at(0).constData(),
                    QFile::encodeName(filePath(QString::fromLatin1(pair.at(1)))));
        }
        QFile::setPermissions(filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           filePath(QStringLiteral("config")));
        // The update check must only ever reach this machine; port 9 refuses at once.
        qputenv("VQGATEWAY_UPDATE_URL", "http://127.0.0.1:9/none.xml");
    }
    ~TestDir()
    {
        if (!dir.autoRemove())
            qWarning("test files kept in %s", qPrintable(dir.path()));
    }
    QString filePath(const QString &name) const { return dir.filePath(name); }
    void noteResult() { dir.setAutoRemove(dir.autoRemove() && !QTest::currentTestFailed()); }
    // Empties the settings store and points the device address at this machine, so that
    // nothing a test starts can reach the default device address.
    static void resetSettings()
    {
        GatewaySettings settings;
        settings.clear();
        settings.setIpAddress(QStringLiteral("127.0.0.1"));
    }

private:
    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/vqgateway-test-XXXXXX")};
};

// Keeps every line the logger hands it; install() makes it the logger's only destination.
class CaptureDestination : public VqLog::Destination
{
public:
    static QSharedPointer<CaptureDestination> install(VqLog::Level level = VqLog::Debug)
    {
        VqLog::Logger::destroyInstance();
        QSharedPointer<CaptureDestination> capture(new CaptureDestination);
        VqLog::Logger::instance().setLoggingLevel(level);
        VqLog::Logger::instance().addDestination(capture);
        return capture;
    }
    void write(const QString &message, VqLog::Level) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        captured.append(message);
        if (onMessage)
            onMessage(messageOf(message));
    }
    // Called for each line as it is logged, in the logging thread.
    std::function<void(const QString &message)> onMessage;
    bool isValid() override { return true; }
    // A copy of its own, so that the caller's use never touches the list the logger appends to.
    QStringList lines() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return QStringList(captured.cbegin(), captured.cend());
    }
    // What follows the time, without the blank that ends every message; a line not at Info keeps
    // its level in front ("ERROR Could not start server").
    static QString messageOf(const QString &line)
    {
        return (line.startsWith(QLatin1String("INFO")) ? QString() : line.left(6))
                + line.mid(30).chopped(line.endsWith(' '));
    }
    QStringList messages() const
    {
        QStringList result;
        for (const QString &line : lines())
            result.append(messageOf(line));
        return result;
    }
    int count(const QString &part) const { return messages().filter(part).size(); }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        captured.clear();
    }

private:
    mutable std::mutex mutex;
    QStringList captured;
};

// A device on loopback: keeps what it receives and answers each line with answer(), if set.
class FakeDevice : public QTcpServer
{
public:
    explicit FakeDevice(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost))
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connections.append(socket);
                // Bounded, so that a device that stops reading slows the gateway down.
                socket->setReadBufferSize(64 * 1024);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    if (!reading)
                        return;
                    const QByteArray bytes = socket->readAll();
                    received += bytes;
                    unanswered += answer ? bytes : QByteArray();
                    for (int end = unanswered.indexOf('\n'); end >= 0;
                         end = unanswered.indexOf('\n')) {
                        socket->write(answer(unanswered.left(end + 1)));
                        unanswered.remove(0, end + 1);
                    }
                });
            }
        });
        listen(address, 0);
    }
    quint16 port() const { return serverPort(); }
    int connectionCount() const { return connections.size(); }
    QTcpSocket *latest() const { return connections.last(); }
    void send(const QByteArray &bytes) { latest()->write(bytes); }
    // While off, the device reads nothing and what the gateway sends piles up in front of it.
    void setReading(bool on)
    {
        reading = on;
        if (on)
            emit latest()->readyRead();
    }
    QByteArray received;
    std::function<QByteArray(const QByteArray &line)> answer;

private:
    QList<QTcpSocket *> connections;
    QByteArray unanswered;
    bool reading = true;
};

// A serial port without hardware: the test plays the device on the master side of a
// pseudo-terminal pair, and the gateway opens the other side as its serial port.
class PseudoTerminal
{
public:
    PseudoTerminal()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            path = QString::fromLocal8Bit(ptsname(master));
    }
    ~PseudoTerminal() { unplug(); }
    void unplug()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void send(const QByteArray &bytes)
    {
        QCOMPARE(::write(master, bytes.data(), size_t(bytes.size())), ssize_t(bytes.size()));
    }
    // Everything the gateway wrote so far.
    const QByteArray &received()
    {
        char chunk[4096];
        for (ssize_t size; (size = ::read(master, chunk, sizeof chunk)) > 0;)
            kept.append(chunk, int(size));
        return kept;
    }
    termios lineSettings() const
    {
        termios settings{};
        tcgetattr(master, &settings);
        return settings;
    }

    int master = -1;
    QString path;

private:
    QByteArray kept;
};

// A client application stand-in: connects to a local port and keeps everything it receives.
class FakeClient : public QTcpSocket
{
    Q_OBJECT

public:
    explicit FakeClient(quint16 port, QObject *parent = nullptr)
        : QTcpSocket(parent)
    {
        connect(this, &QTcpSocket::readyRead, this, [this] { received += readAll(); });
        connectToHost(QHostAddress::LocalHost, port);
    }
    bool isConnected() const { return state() == ConnectedState; }
    bool isClosed() const { return state() == UnconnectedState; }
    QByteArray received;
};

// Stands in for the desktop's opener (QDesktopServices::setUrlHandler).
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls.append(url); }
};

#ifdef QT_WIDGETS_LIB
// Closes every message box that opens while it lives and keeps the boxes' texts.
class MessageBoxCatcher : public QTimer
{
public:
    MessageBoxCatcher()
    {
        connect(this, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible()) {
                    texts.append(box->text());
                    box->done(QMessageBox::Ok);
                }
        });
        start(10);
    }
    QStringList texts;
};
#endif

// Runs a gateway core in the test's process with fresh settings, captures every log line and
// keeps every status the window would see ("device 1 Connected"), with when it came.
class GatewayTest : public QObject
{
    Q_OBJECT

protected:
    std::unique_ptr<TestDir> dir;
    QSharedPointer<CaptureDestination> capture;
    std::unique_ptr<FakeDevice> device;
    std::unique_ptr<GatewayManager> manager;
    quint16 port = 0;
    QStringList seen;
    QList<qint64> seenAt; // ms after the manager was made
    QElapsedTimer clock;

    void createManager()
    {
        clock.start();
        manager.reset(new GatewayManager);
        const auto keep = [this](const char *side, int state, const QString &info) {
            seen.append(QStringLiteral("%1 %2 %3").arg(QLatin1String(side)).arg(state).arg(info));
            seenAt.append(clock.elapsed());
        };
        connect(manager.get(), &GatewayManager::connectionStateChanged, manager.get(),
                [keep](VQDEVICE_STATUS state, const QString &info) {
                    keep("device", state, info);
                });
        connect(manager.get(), &GatewayManager::serverStateChanged, manager.get(),
                [keep](VQSERVER_STATUS state, const QString &info) {
                    keep("server", state, info);
                });
    }
    void startServer()
    {
        manager->startServer(port = freeLoopbackPort());
        QTRY_VERIFY2(manager->isServerStarted(), "the server did not start");
    }
    // A manager with its server on a free port and the fake device connected.
    void startGateway()
    {
        device.reset(new FakeDevice);
        createManager();
        startServer();
        manager->connectDevice(QStringLiteral("127.0.0.1"), device->port());
        QTRY_VERIFY2(manager->isConnectedToDevice(), "the device link did not come up");
    }
    // Waits for exactly these statuses and log messages since the last call, then forgets them.
    void expect(const QStringList &statuses, const QStringList &messages)
    {
        QTRY_COMPARE(seen, statuses);
        QTRY_COMPARE(capture->messages(), messages);
        seen.clear(), seenAt.clear();
        capture->clear();
    }
    QString last(const QString &side) const
    {
        const QStringList own = seen.filter(QRegularExpression(QLatin1Char('^') + side));
        return own.value(own.size() - 1);
    }
    TcpServerService *server() const { return manager->findChild<TcpServerService *>(); }

private slots:
    void initTestCase() { dir.reset(new TestDir); }
    void init()
    {
        capture = CaptureDestination::install();
        TestDir::resetSettings();
        seen.clear(), seenAt.clear();
    }
    void cleanup()
    {
        dir->noteResult();
        manager.reset();
        device.reset();
    }
};
