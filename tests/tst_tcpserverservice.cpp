#include "gateway/clientthread.h"
#include "gateway/tcpserverservice.h"
#include "tests/testsupport.h"

#include <atomic>

class TestTcpServerService : public QObject
{
    Q_OBJECT

private slots:
    // No event loop runs in between: the server itself waits for and deletes its threads, and
    // clients leaving at that very moment never call into the server going away.
    void destroyWhileClientsLeave()
    {
        auto capture = CaptureDestination::install();
        for (int round = 0; round < 40 && !QTest::currentTestFailed(); ++round) {
            auto server = std::make_unique<TcpServerService>();
            const quint16 port = freeLoopbackPort();
            server->startListening(port, QHostAddress::Any);
            QObject owner;
            for (int i = 0; i < 3; ++i)
                new FakeClient(port, &owner);
            QTRY_COMPARE(capture->count(QStringLiteral("New client thread")), 3);
            for (FakeClient *client : owner.findChildren<FakeClient *>())
                client->abort();
            capture->clear();
            server.reset();
            QCOMPARE(capture->count(QStringLiteral("Client thread deleted")), 3);
        }
    }

    void failedAdoptionEndsTheThread()
    {
        ClientThread thread(1000000); // far beyond any open descriptor
        std::atomic<int> closedId{-1};
        connect(&thread, &ClientThread::clientClosed, &thread, [&closedId](int id) { closedId = id; }, Qt::DirectConnection);
        thread.start();
        QVERIFY(thread.wait(5000));
        QCOMPARE(closedId.load(), 1000000);
    }
};

QTEST_GUILESS_MAIN(TestTcpServerService)
#include "tst_tcpserverservice.moc"
