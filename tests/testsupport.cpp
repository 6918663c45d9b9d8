#include "tests/testsupport.h"

#include "gateway/gatewaysettings.h"

#include <QDir>
#include <QSettings>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

TestDir::TestDir()
    : dir(QDir::tempPath() + QStringLiteral("/vqgateway-test-XXXXXX"))
{
    for (const char *sub : {"home", "config", "data", "cache", "runtime"})
        QDir(dir.path()).mkpath(QLatin1String(sub));
    QFile::setPermissions(filePath(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const char *variable : {"HOME=home", "XDG_CONFIG_HOME=config", "XDG_DATA_HOME=data", "XDG_CACHE_HOME=cache",
                                 "XDG_RUNTIME_DIR=runtime"}) {
        const QList<QByteArray> pair = QByteArray(variable).split('=');
        qputenv(pair.at(0).constData(), QFile::encodeName(filePath(QString::fromLatin1(pair.at(1)))));
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, filePath(QStringLiteral("config")));
    // The update check must only ever reach this machine; port 9 refuses at once.
    qputenv("VQGATEWAY_UPDATE_URL", "http://127.0.0.1:9/none.xml");
}

TestDir::~TestDir()
{
    if (!dir.autoRemove())
        qWarning("test files kept in %s", qPrintable(dir.path()));
}

void TestDir::noteResult()
{
    if (QTest::currentTestFailed())
        dir.setAutoRemove(false);
}

void TestDir::resetSettings()
{
    GatewaySettings settings;
    settings.clear();
    settings.setIpAddress(QStringLiteral("127.0.0.1"));
}

QSharedPointer<CaptureDestination> CaptureDestination::install(VqLog::Level level)
{
    VqLog::Logger::destroyInstance();
    QSharedPointer<CaptureDestination> capture(new CaptureDestination);
    VqLog::Logger::instance().setLoggingLevel(level);
    VqLog::Logger::instance().addDestination(capture);
    return capture;
}

void CaptureDestination::write(const QString &message, VqLog::Level)
{
    std::lock_guard<std::mutex> lock(mutex);
    captured.append(message);
}

QStringList CaptureDestination::lines() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return captured;
}

QStringList CaptureDestination::messages() const
{
    QStringList result;
    for (const QString &line : lines())
        result.append(line.mid(30));
    return result;
}

bool CaptureDestination::inOrder(const QStringList &expected) const
{
    int at = -1;
    const QStringList all = messages();
    for (const QString &message : expected) {
        at = all.indexOf(message, at + 1);
        if (at < 0)
            return false;
    }
    return true;
}

void CaptureDestination::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    captured.clear();
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

FakeDevice::FakeDevice(QObject *parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = nextPendingConnection()) {
            connections.append(socket);
            socket->setReadBufferSize(64 * 1024);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                if (!reading)
                    return;
                const QByteArray bytes = socket->readAll();
                receivedBytes += bytes;
                if (!answer)
                    return;
                unanswered += bytes;
                for (int end = unanswered.indexOf('\n'); end >= 0; end = unanswered.indexOf('\n')) {
                    socket->write(answer(unanswered.left(end + 1)));
                    unanswered.remove(0, end + 1);
                }
            });
        }
    });
    listen(QHostAddress::LocalHost, 0);
}

void FakeDevice::send(const QByteArray &bytes)
{
    if (QTcpSocket *socket = latest()) {
        socket->write(bytes);
        socket->flush();
    }
}

void FakeDevice::setReading(bool on)
{
    reading = on;
    if (on)
        for (QTcpSocket *socket : qAsConst(connections))
            emit socket->readyRead();
}

void FakeDevice::closeConnections()
{
    for (QTcpSocket *socket : qAsConst(connections))
        socket->disconnectFromHost();
}

FakeClient::FakeClient(quint16 port, QObject *parent)
    : QObject(parent)
    , tcpSocket(new QTcpSocket(this))
{
    connect(tcpSocket, &QTcpSocket::readyRead, this, [this] { receivedBytes += tcpSocket->readAll(); });
    tcpSocket->connectToHost(QHostAddress::LocalHost, port);
}

bool FakeClient::isConnected() const
{
    return tcpSocket->state() == QAbstractSocket::ConnectedState;
}

bool FakeClient::isClosed() const
{
    return tcpSocket->state() == QAbstractSocket::UnconnectedState;
}

void FakeClient::send(const QByteArray &bytes)
{
    tcpSocket->write(bytes);
    tcpSocket->flush();
}

FakeUpdateServer::FakeUpdateServer(QObject *parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                if (!socket->readAll().contains("\r\n\r\n"))
                    return;
                ++requestCount;
                socket->write("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nContent-Length: "
                              + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        }
    });
    listen(QHostAddress::LocalHost, 0);
}

QString FakeUpdateServer::documentUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/~ftp-xml/product_update_1004.xml").arg(serverPort());
}
