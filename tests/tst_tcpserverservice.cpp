#include "VqLog/vqlog.h"
#include "gateway/clientthread.h"
#include "gateway/relaytext.h"
#include "gateway/tcpserverservice.h"
#include "tests/capturedestination.h"
#include "tests/loopback.h"

#include <QAbstractEventDispatcher>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include <atomic>
#include <memory>

struct ServerStatus
{
    int state;
    QString info;
    int count;
};

// Hands each accepted connection to a bare ClientThread, so that a test can watch the thread.
class ThreadServer : public QTcpServer
{
public:
    ClientThread *thread = nullptr;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        thread = new ClientThread(int(descriptor));
        thread->start();
    }
};

class TestTcpServerService : public QObject
{
    Q_OBJECT

    QSharedPointer<CaptureDestination> capture;
    std::unique_ptr<TcpServerService> server;
    // Receives the recorded signals; deleting it drops what is still queued for the last test.
    std::unique_ptr<QObject> recorder;
    QList<ServerStatus> statuses;
    QList<QByteArray> fromClients;
    quint16 port = 0;

    // The server's signals come from client threads too: take them queued, in this thread,
    // as the manager does.
    void record()
    {
        recorder.reset(new QObject);
        connect(server.get(), &TcpServerService::connectState, recorder.get(),
                [this](TCPSERVER_STATUS state, const QString &info, quint8 count) {
                    statuses.append({int(state), info, int(count)});
                },
                Qt::QueuedConnection);
        connect(server.get(), &TcpServerService::messageReceived, recorder.get(),
                [this](const QString &message) { fromClients.append(bytesFromText(message)); },
                Qt::QueuedConnection);
    }

    void startServer()
    {
        port = freeLoopbackPort();
        server->startListening(port);
        QTRY_COMPARE(statuses.size(), 1);
        QCOMPARE(statuses.last().info, QStringLiteral("Started - Connections 0/5"));
    }

    QList<FakeClient *> connectClients(int n, QObject *parent)
    {
        QList<FakeClient *> clients;
        for (int i = 0; i < n; ++i) {
            clients.append(new FakeClient(port, parent));
            const int expected = server->clientCount() + 1;
            [&] { QTRY_COMPARE(server->clientCount(), expected); }();
        }
        return clients;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<TCPSERVER_STATUS>("TCPSERVER_STATUS");
    }

    void init()
    {
        capture.reset(new CaptureDestination);
        VqLog::Logger::instance().setLoggingLevel(VqLog::Debug);
        VqLog::Logger::instance().addDestination(capture);
        server.reset(new TcpServerService);
        statuses.clear();
        fromClients.clear();
        record();
    }

    void cleanup()
    {
        server.reset();
        recorder.reset();
        VqLog::Logger::destroyInstance();
    }

    void portInUse()
    {
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::Any, 0));
        server->startListening(blocker.serverPort());
        QTRY_COMPARE(statuses.size(), 1);
        QCOMPARE(statuses.at(0).state, int(TCPSERVER_ERROR));
        QCOMPARE(statuses.at(0).info, QStringLiteral("Error: check your settings"));
        QVERIFY(capture->contains(QStringLiteral("Could not start server ")));
        QVERIFY(!server->isListening());
    }

    void portZeroIsRefused()
    {
        server->startListening(0);
        QTRY_COMPARE(statuses.size(), 1);
        QCOMPARE(statuses.at(0).state, int(TCPSERVER_ERROR));
        QVERIFY(!server->isListening());
    }

    void countsRiseAndFall()
    {
        startServer();
        QVERIFY(capture->contains(QStringLiteral("Listening to %1 ... ").arg(port)));
        QObject owner;
        const QList<FakeClient *> clients = connectClients(6, &owner);
        QTRY_COMPARE(statuses.size(), 7);
        for (int i = 1; i <= 6; ++i) {
            QCOMPARE(statuses.at(i).state, int(TCPSERVER_STARTED));
            QCOMPARE(statuses.at(i).count, i);
            QCOMPARE(statuses.at(i).info, QStringLiteral("Started - Connections %1/5").arg(i));
        }
        QTRY_COMPARE(capture->messages().filter(QStringLiteral("New client thread")).size(), 6);
        QVERIFY(capture->messages().filter(QRegularExpression(QStringLiteral("^New client thread \\d+ from \"127.0.0.1\" $"))).size() == 6);

        clients.at(2)->socket()->disconnectFromHost();
        QTRY_COMPARE(statuses.size(), 8);
        QCOMPARE(statuses.last().state, int(TCPSERVER_STARTED));
        QCOMPARE(statuses.last().count, 5);
        QCOMPARE(statuses.last().info, QStringLiteral("Started - Connections 5/5"));
        const QStringList messages = capture->messages();
        const int closedAt = messages.indexOf(QStringLiteral("Client thread has been disconnected. "));
        QVERIFY(closedAt >= 0);
        QVERIFY(QRegularExpression(QStringLiteral("^Thread \\d+ finished $")).match(messages.value(closedAt + 1)).hasMatch());
        QTRY_VERIFY(capture->contains(QStringLiteral("Client thread deleted ")));
    }

    void stopClosesEveryClient()
    {
        startServer();
        QObject owner;
        const QList<FakeClient *> clients = connectClients(2, &owner);
        std::atomic<bool> idleAtOnce{false};
        connect(server.get(), &TcpServerService::connectState, this,
                [&idleAtOnce](TCPSERVER_STATUS state) { if (state == TCPSERVER_IDLE) idleAtOnce = true; },
                Qt::DirectConnection);
        server->stopServer();
        QVERIFY(idleAtOnce);
        QVERIFY(!server->isListening());
        QCOMPARE(server->clientCount(), 0);
        QVERIFY(capture->contains(QStringLiteral("Stopping server client threads... ")));
        QVERIFY(capture->contains(QStringLiteral("Stopping server... ")));
        for (FakeClient *client : clients)
            QTRY_VERIFY(client->isClosed());
        QTRY_COMPARE(capture->messages().filter(QRegularExpression(QStringLiteral("^Client thread \\d+ stopped $"))).size(), 2);
        QTRY_COMPARE(statuses.last().state, int(TCPSERVER_IDLE));
        QCOMPARE(statuses.last().info, QStringLiteral("Idle"));
        QCOMPARE(statuses.last().count, 0);
    }

    void deletingTheServerEndsItsThreads()
    {
        startServer();
        QObject owner;
        connectClients(3, &owner);
        QTRY_COMPARE(capture->messages().filter(QStringLiteral("New client thread")).size(), 3);
        server->stopServer();
        server.reset();
        // No event loop ran in between: the server itself waited for and deleted its threads.
        QCOMPARE(capture->messages().filter(QStringLiteral("Client thread deleted")).size(), 3);
    }

    // Clients leave at the very moment the server is destroyed, round after round; the
    // ThreadSanitizer build runs this too.
    void destroyWhileClientsLeave()
    {
        for (int round = 0; round < 40; ++round) {
            server.reset(new TcpServerService);
            record();
            statuses.clear();
            startServer();
            QObject owner;
            const QList<FakeClient *> clients = connectClients(3, &owner);
            for (FakeClient *client : clients)
                client->socket()->abort();
            server.reset();
            if (QTest::currentTestFailed())
                return;
        }
    }

    void broadcastReachesEveryClientInOrder()
    {
        startServer();
        QObject owner;
        const QList<FakeClient *> clients = connectClients(3, &owner);
        QTRY_COMPARE(capture->messages().filter(QStringLiteral("New client thread")).size(), 3);
        QByteArray expected;
        for (int i = 0; i < 1000; ++i) {
            const QByteArray line = "reply " + QByteArray::number(i) + "\r\n";
            expected += line;
            server->sendToAllClients(textFromBytes(line));
        }
        const QByteArray binary("\x00\x80\xff\xc3\xa4 end\r\n", 10);
        server->sendToAllClients(textFromBytes(binary));
        expected += binary;
        for (FakeClient *client : clients)
            QTRY_COMPARE(client->received(), expected);
    }

    void clientBytesPassUnchanged()
    {
        startServer();
        QObject owner;
        FakeClient *client = connectClients(1, &owner).first();
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        client->send(all);
        QTRY_COMPARE(fromClients.join(), all);
    }

    void idleClientThreadSleeps()
    {
        ThreadServer threads;
        QVERIFY(threads.listen(QHostAddress::LocalHost, 0));
        FakeClient client(threads.serverPort());
        QTRY_VERIFY(threads.thread != nullptr);
        QTRY_VERIFY(client.isConnected());
        threads.thread->queueMessage(QStringLiteral("hello\r\n"));
        QTRY_COMPARE(client.received(), QByteArray("hello\r\n"));

        std::atomic<int> wakeUps{0};
        QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance(threads.thread);
        QVERIFY(dispatcher);
        connect(dispatcher, &QAbstractEventDispatcher::awake, dispatcher, [&wakeUps] { ++wakeUps; },
                Qt::DirectConnection);
        // The idle window is the measurement itself, not a wait for something to happen.
        QTest::qWait(1000);
        QVERIFY2(wakeUps < 5, qPrintable(QString::number(wakeUps)));

        threads.thread->stop();
        QVERIFY(threads.thread->wait(5000));
        QTRY_VERIFY(client.isClosed());
        delete threads.thread;
    }

    void failedAdoptionEndsTheThread()
    {
        // A descriptor number far beyond any open file cannot be adopted.
        const int descriptor = 1000000;
        ClientThread thread(descriptor);
        std::atomic<int> closedId{-1};
        connect(&thread, &ClientThread::clientClosed, &thread, [&closedId](int id) { closedId = id; },
                Qt::DirectConnection);
        thread.start();
        QVERIFY(thread.wait(5000));
        QCOMPARE(closedId.load(), descriptor);
    }

    void fiveClientsSendWhileBroadcasting()
    {
        startServer();
        QObject owner;
        const QList<FakeClient *> clients = connectClients(5, &owner);
        QTRY_COMPARE(capture->messages().filter(QStringLiteral("New client thread")).size(), 5);
        const int rounds = 200;
        QByteArray expected;
        QByteArray sentByAll;
        for (int i = 0; i < rounds; ++i) {
            for (int c = 0; c < clients.size(); ++c) {
                const QByteArray command = "c" + QByteArray::number(c) + "-" + QByteArray::number(i) + "\r\n";
                sentByAll += command;
                clients.at(c)->send(command);
            }
            const QByteArray line = "b" + QByteArray::number(i) + "\r\n";
            expected += line;
            server->sendToAllClients(textFromBytes(line));
            if (i % 20 == 0)
                QCoreApplication::processEvents();
        }
        for (FakeClient *client : clients)
            QTRY_COMPARE(client->received(), expected);
        QTRY_COMPARE(fromClients.join().size(), sentByAll.size());
        // Each client's own commands arrive in the order it sent them.
        const QByteArray joined = fromClients.join();
        for (int c = 0; c < clients.size(); ++c) {
            int from = 0;
            for (int i = 0; i < rounds; ++i) {
                const QByteArray command = "c" + QByteArray::number(c) + "-" + QByteArray::number(i) + "\r\n";
                const int at = joined.indexOf(command, from);
                QVERIFY(at >= 0);
                from = at + command.size();
            }
        }
        server->stopServer();
        for (FakeClient *client : clients)
            QTRY_VERIFY(client->isClosed());
    }
};

QTEST_GUILESS_MAIN(TestTcpServerService)
#include "tst_tcpserverservice.moc"
