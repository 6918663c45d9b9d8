#pragma once

#include "gateway/gatewaymanager.h"
#include "tests/testsupport.h"

#include <QTest>

#include <memory>

// A gateway core in the test's own process, made from the settings the test stored, with its
// server started on a free port and a fake device connected.
struct RunningGateway
{
    std::unique_ptr<FakeDevice> device = std::make_unique<FakeDevice>();
    std::unique_ptr<GatewayManager> manager = std::make_unique<GatewayManager>();
    const quint16 port = freeLoopbackPort();

    bool start()
    {
        manager->startServer(port);
        manager->connectDevice(QStringLiteral("127.0.0.1"), device->port());
        return QTest::qWaitFor([this] { return manager->isServerStarted() && manager->isConnectedToDevice(); }, 5000);
    }
    TcpServerService *server() const { return manager->findChild<TcpServerService *>(); }
};

// The base of test classes that run a gateway: a temporary home, settings reset before each
// test, every log line captured, and the gateway of the test ended after it.
class GatewayTest : public QObject
{
    Q_OBJECT

protected:
    std::unique_ptr<TestDir> dir;
    QSharedPointer<CaptureDestination> capture;
    std::unique_ptr<RunningGateway> gateway;

    void startGateway()
    {
        gateway.reset(new RunningGateway);
        QVERIFY2(gateway->start(), "the gateway did not come up");
    }

private slots:
    void initTestCase() { dir.reset(new TestDir); }
    void init()
    {
        capture = CaptureDestination::install();
        TestDir::resetSettings();
    }
    void cleanup()
    {
        dir->noteResult();
        gateway.reset();
    }
};
