#pragma once

#include "VqLog/vqlog.h"
#include "gateway/gatewaymanager.h"

#include <QElapsedTimer>
#include <QRegularExpression>
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

#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>

// One row per case, named by the case's first member; the test reads it with QFETCH(Row, row).
template <typename Row>
void addRows(std::initializer_list<Row> rows) {
    QTest::addColumn<Row>("row");
    for (const Row &row : rows)
        QTest::newRow(row.name) << row;
}

// The message as a whole-line pattern, with a # standing for any number.
QRegularExpression numbered(const QString &message);
// True when the messages hold these, in this order, other lines in between or not.
bool inOrder(const QStringList &messages, const QStringList &expected);
quint16 freeLoopbackPort();

// A temporary home for one test program: HOME, the XDG directories and the settings store all
// point into it, so no test touches the real home directory. It is kept when a test failed:
// call noteResult() from every cleanup().
class TestDir
{
public:
    TestDir();
    ~TestDir();
    QString path() const { return dir.path(); }
    QString filePath(const QString &name) const { return dir.filePath(name); }
    void noteResult();
    // Empties the settings store and points the device address at this machine, so that
    // nothing a test starts can reach the default device address.
    static void resetSettings();

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
    // What follows the level text and the timestamp, without the space that ends every message.
    QStringList messages() const;
    bool contains(const QString &message) const { return messages().contains(message); }
    int count(const QString &part) const { return messages().filter(part).size(); }
    void clear();

private:
    mutable std::mutex mutex;
    QStringList captured;
};

// A device stand-in on 127.0.0.1: accepts connections, keeps what they send, answers on request.
class FakeDevice : public QTcpServer
{
public:
    FakeDevice();
    quint16 port() const { return serverPort(); }
    int connectionCount() const { return connections.size(); }
    QTcpSocket *latest() const { return connections.last(); }
    void send(const QByteArray &bytes) { latest()->write(bytes); }
    // While not reading, what the gateway sends waits in the socket layer, as with a busy device.
    void setReading(bool reading);
    QByteArray received;
    // When set, every line (ending in LF) that arrives is answered with what this returns.
    std::function<QByteArray(const QByteArray &line)> answer;

private:
    QList<QTcpSocket *> connections;
    QByteArray unanswered;
    bool reading = true;
};

// A client application stand-in: connects to a local port and keeps everything it receives.
class FakeClient : public QTcpSocket
{
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

#ifdef QT_WIDGETS_LIB
// Closes every message box that opens while it lives and keeps the boxes' texts.
class MessageBoxCatcher : public QTimer
{
public:
    MessageBoxCatcher() {
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

// The base of test classes that run a gateway core in their own process: a temporary home,
// settings reset before each test, every log line captured, and every status the window would
// see kept as "device 1 Connected" or "server 0 Idle", with when it came.
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

    void createManager(bool keepConnected = false);
    void startServer();
    // A manager with its server on a free port and the fake device connected.
    void startGateway();
    // Waits for exactly these statuses and log messages since the last call, then forgets them.
    void expect(const QStringList &statuses, const QStringList &messages);
    TcpServerService *server() const { return manager->findChild<TcpServerService *>(); }
    QString last(const QString &side) const;

private slots:
    void initTestCase() { dir.reset(new TestDir); }
    void init();
    void cleanup();
};
