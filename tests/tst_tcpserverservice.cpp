#include "gateway/clientthread.h"
#include "gateway/relaytext.h"
#include "gateway/tcpserverservice.h"
#include "tests/testsupport.h"

#include <QAbstractEventDispatcher>
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

class TestTcpServerService : public QObject
{
    Q_OBJECT

    QSharedPointer<CaptureDestination> capture;
    std::unique_ptr<TcpServerService> server;
    // Receives the recorded signals; deleting it drops what is still queued.
    std::unique_ptr<QObject> recorder;
    QList<ServerStatus> statuses;
    QByteArray fromClients;
    quint16 port = 0;

    // The server's signals come from client threads too: take them queued, as the manager does.
    void newServer()
    {
        recorder.reset(new QObject);
        server.reset(new TcpServerService);
        statuses.clear();
        fromClients.clear();
        connect(server.get(), &TcpServerService::connectState, recorder.get(),
                [this](TCPSERVER_STATUS state, const QString &info, quint8 count) { statuses.append({int(state), info, int(count)}); },
                Qt::QueuedConnection);
        connect(server.get(), &TcpServerService::messageReceived, recorder.get(),
                [this](const QString &message) { fromClients += bytesFromText(message); }, Qt::QueuedConnection);
        port = freeLoopbackPort();
        server->startListening(port, QHostAddress::Any);
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
    void initTestCase() { qRegisterMetaType<TCPSERVER_STATUS>("TCPSERVER_STATUS"); }
    void init() { capture = CaptureDestination::install(); }
    void cleanup()
    {
        server.reset();
        recorder.reset();
    }

    // No event loop runs in between: the server itself waits for and deletes its threads. Clients
    // leaving at that very moment never call into the server going away (the ThreadSanitizer
    // build runs this too).
    void destroyWhileClientsLeave()
    {
        for (int round = 0; round < 40 && !QTest::currentTestFailed(); ++round) {
            newServer();
            QObject owner;
            const QList<FakeClient *> clients = connectClients(3, &owner);
            QTRY_COMPARE(capture->count(QStringLiteral("New client thread")), 3);
            for (FakeClient *client : clients)
                client->socket()->abort();
            capture->clear();
            server.reset();
            QCOMPARE(capture->count(QStringLiteral("Client thread deleted")), 3);
        }
    }

    void fiveClientsSendWhileBroadcasting()
    {
        newServer();
        QObject owner;
        const QList<FakeClient *> clients = connectClients(5, &owner);
        QTRY_COMPARE(capture->count(QStringLiteral("New client thread")), 5);
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        clients.first()->send(all);
        QTRY_COMPARE(fromClients, all);
        fromClients.clear();
        const int rounds = 200;
        QByteArray expected = all;
        server->sendToAllClients(textFromBytes(all));
        for (int i = 0; i < rounds; ++i) {
            for (int c = 0; c < clients.size(); ++c)
                clients.at(c)->send("c" + QByteArray::number(c) + "-" + QByteArray::number(i) + "\r\n");
            expected += "b" + QByteArray::number(i) + "\r\n";
            server->sendToAllClients(QStringLiteral("b%1\r\n").arg(i));
            if (i % 20 == 0)
                QCoreApplication::processEvents();
        }
        for (FakeClient *client : clients)
            QTRY_COMPARE(client->received(), expected);
        // Every client's commands arrive complete and in the order it sent them.
        for (int c = 0; c < clients.size(); ++c) {
            int from = 0;
            for (int i = 0; i < rounds && from >= 0; ++i) {
                const QByteArray command = "c" + QByteArray::number(c) + "-" + QByteArray::number(i) + "\r\n";
                QTRY_VERIFY(fromClients.indexOf(command, from) >= 0);
                from = fromClients.indexOf(command, from) + command.size();
            }
        }
    }

    void idleClientThreadSleeps()
    {
        struct : QTcpServer
        {
            std::unique_ptr<ClientThread> thread;
            void incomingConnection(qintptr descriptor) override
            {
                thread.reset(new ClientThread(int(descriptor)));
                thread->start();
            }
        } threads;
        QVERIFY(threads.listen(QHostAddress::LocalHost, 0));
        FakeClient client(threads.serverPort());
        QTRY_VERIFY(threads.thread && client.isConnected());
        threads.thread->queueMessage(QStringLiteral("hello\r\n"));
        QTRY_COMPARE(client.received(), QByteArray("hello\r\n"));
        std::atomic<int> wakeUps{0};
        QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance(threads.thread.get());
        connect(dispatcher, &QAbstractEventDispatcher::awake, dispatcher, [&wakeUps] { ++wakeUps; }, Qt::DirectConnection);
        QTest::qWait(1000); // the idle window is the measurement itself
        QVERIFY2(wakeUps < 5, qPrintable(QString::number(wakeUps)));
        threads.thread->stop();
        QVERIFY(threads.thread->wait(5000));
        QTRY_VERIFY(client.isClosed());
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
