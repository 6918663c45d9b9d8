#include "tests/testsupport.h"

#include "gateway/gatewaysettings.h"

#include <QDir>
#include <QSettings>

QRegularExpression numbered(const QString &message) {
    return QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(message).replace(QLatin1String("\\#"), QLatin1String("\\d+"))
                              + QLatin1Char('$'));
}

bool inOrder(const QStringList &messages, const QStringList &expected) {
    int at = -1;
    for (const QString &message : expected)
        if ((at = messages.indexOf(numbered(message), at + 1)) < 0)
            return false;
    return true;
}

quint16 freeLoopbackPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

TestDir::TestDir()
    : dir(QDir::tempPath() + QStringLiteral("/vqgateway-test-XXXXXX"))
{
    for (const char *variable : {"HOME=home", "XDG_CONFIG_HOME=config", "XDG_DATA_HOME=data", "XDG_CACHE_HOME=cache",
                                 "XDG_RUNTIME_DIR=runtime"}) {
        const QList<QByteArray> pair = QByteArray(variable).split('=');
        QDir(dir.path()).mkpath(QString::fromLatin1(pair.at(1)));
        qputenv(pair.at(0).constData(), QFile::encodeName(filePath(QString::fromLatin1(pair.at(1)))));
    }
    QFile::setPermissions(filePath(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, filePath(QStringLiteral("config")));
    // The update check must only ever reach this machine; port 9 refuses at once.
    qputenv("VQGATEWAY_UPDATE_URL", "http://127.0.0.1:9/none.xml");
}

TestDir::~TestDir() {
    if (!dir.autoRemove())
        qWarning("test files kept in %s", qPrintable(dir.path()));
}

void TestDir::noteResult() {
    if (QTest::currentTestFailed())
        dir.setAutoRemove(false);
}

void TestDir::resetSettings() {
    GatewaySettings settings;
    settings.clear();
    settings.setIpAddress(QStringLiteral("127.0.0.1"));
}

QSharedPointer<CaptureDestination> CaptureDestination::install(VqLog::Level level) {
    VqLog::Logger::destroyInstance();
    QSharedPointer<CaptureDestination> capture(new CaptureDestination);
    VqLog::Logger::instance().setLoggingLevel(level);
    VqLog::Logger::instance().addDestination(capture);
    return capture;
}

void CaptureDestination::write(const QString &message, VqLog::Level) {
    std::lock_guard<std::mutex> lock(mutex);
    captured.append(message);
}

QStringList CaptureDestination::lines() const {
    std::lock_guard<std::mutex> lock(mutex);
    return captured;
}

void CaptureDestination::clear() {
    std::lock_guard<std::mutex> lock(mutex);
    captured.clear();
}

QStringList CaptureDestination::messages() const {
    QStringList result;
    for (const QString &line : lines())
        result.append(line.mid(30).chopped(line.endsWith(QLatin1Char(' ')) ? 1 : 0));
    return result;
}


FakeDevice::FakeDevice() {
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = nextPendingConnection()) {
            connections.append(socket);
            socket->setReadBufferSize(64 * 1024);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                if (!reading)
                    return;
                const QByteArray bytes = socket->readAll();
                received += bytes;
                unanswered += answer ? bytes : QByteArray();
                for (int end = unanswered.indexOf('\n'); end >= 0; end = unanswered.indexOf('\n')) {
                    socket->write(answer(unanswered.left(end + 1)));
                    unanswered.remove(0, end + 1);
                }
            });
        }
    });
    listen(QHostAddress::LocalHost, 0);
}

void FakeDevice::setReading(bool on) {
    reading = on;
    for (QTcpSocket *socket : qAsConst(connections))
        emit socket->readyRead();
}

void GatewayTest::init() {
    capture = CaptureDestination::install();
    TestDir::resetSettings();
    seen.clear();
    seenAt.clear();
}

void GatewayTest::cleanup() {
    dir->noteResult();
    manager.reset();
    device.reset();
}

void GatewayTest::createManager(bool keepConnected) {
    clock.start();
    manager.reset(new GatewayManager(nullptr, keepConnected));
    const auto keep = [this](const char *side, int state, const QString &info) {
        seen.append(QStringLiteral("%1 %2 %3").arg(QLatin1String(side)).arg(state).arg(info));
        seenAt.append(clock.elapsed());
    };
    connect(manager.get(), &GatewayManager::connectionStateChanged, manager.get(),
            [keep](VQDEVICE_STATUS state, const QString &info) { keep("device", state, info); });
    connect(manager.get(), &GatewayManager::serverStateChanged, manager.get(),
            [keep](VQSERVER_STATUS state, const QString &info) { keep("server", state, info); });
}

void GatewayTest::startServer() {
    port = freeLoopbackPort();
    manager->startServer(port);
    QTRY_VERIFY2(manager->isServerStarted(), "the server did not start");
}

void GatewayTest::startGateway() {
    device.reset(new FakeDevice);
    createManager();
    startServer();
    manager->connectDevice(QStringLiteral("127.0.0.1"), device->port());
    QTRY_VERIFY2(manager->isConnectedToDevice(), "the device link did not come up");
}

QString GatewayTest::last(const QString &side) const {
    const QStringList own = seen.filter(QRegularExpression(QLatin1Char('^') + side));
    return own.value(own.size() - 1);
}

void GatewayTest::expect(const QStringList &statuses, const QStringList &messages) {
    QTRY_COMPARE(seen.size(), statuses.size());
    QCOMPARE(seen, statuses);
    QTRY_COMPARE(capture->messages(), messages);
    seen.clear();
    seenAt.clear();
    capture->clear();
}
