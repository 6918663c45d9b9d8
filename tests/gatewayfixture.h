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
