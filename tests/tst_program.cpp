#include "tests/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTest>

#include <csignal>
#include <memory>

// Runs the real program with its home, settings, log and runtime directories in a temporary
// folder, against a fake device on 127.0.0.1.
class TestProgram : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDir> dir;
    QList<QProcess *> processes;
    QHash<QProcess *, QByteArray> errors;

    QString logPath() const { return dir->filePath(QStringLiteral("data/vqgateway/VQGateway_Log.txt")); }
    void writeSettings(const QVariantMap &values)
    {
        QSettings settings(dir->filePath(QStringLiteral("config/Velquor/Gateway.conf")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("IpAddress"), QStringLiteral("127.0.0.1"));
        for (auto it = values.begin(); it != values.end(); ++it)
            settings.setValue(it.key(), it.value());
    }
    QProcess *start()
    {
        auto *process = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "VQGATEWAY_UPDATE_URL"})
            env.insert(QLatin1String(variable), qEnvironmentVariable(variable));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process->setProcessEnvironment(env);
        connect(process, &QProcess::readyReadStandardError, this, [this, process] { errors[process] += process->readAllStandardError(); });
        process->start(QStringLiteral(VQGATEWAY_EXECUTABLE), QStringList());
        processes.append(process);
        return process;
    }
    QStringList logMessages() const
    {
        QFile log(logPath());
        QStringList messages;
        if (log.open(QIODevice::ReadOnly))
            for (const QByteArray &line : log.readAll().split('\n'))
                if (!line.isEmpty())
                    messages.append(QString::fromUtf8(line.mid(30)));
        return messages;
    }
    static void terminate(QProcess *process)
    {
        ::kill(pid_t(process->processId()), SIGTERM);
        QVERIFY(process->waitForFinished(20000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
    }

private slots:
    void init() { dir.reset(new TestDir); }
    void cleanup()
    {
        for (QProcess *process : qAsConst(processes)) {
            process->kill();
            process->waitForFinished(5000);
        }
        qDeleteAll(processes);
        processes.clear();
        errors.clear();
        dir->noteResult();
    }

    void relaysGuardsAndShutsDown()
    {
        FakeDevice device;
        const quint16 localPort = freeLoopbackPort();
        writeSettings({{"Port", device.port()}, {"PortLocal", localPort}, {"Autoconnect", true}});
        QProcess *first = start();
        QTRY_COMPARE_WITH_TIMEOUT(device.connectionCount(), 1, 20000);
        FakeClient one(localPort), two(localPort);
        QTRY_VERIFY_WITH_TIMEOUT(logMessages().filter(QStringLiteral("New client thread")).size() == 2, 10000);
        device.send("HELLO\r\n");
        QTRY_COMPARE(one.received() + two.received(), QByteArray("HELLO\r\nHELLO\r\n"));
        one.send("CMD1\r\n");
        QTRY_COMPARE(device.received(), QByteArray("CMD1\r\n"));
        const QStringList banner = logMessages().mid(0, 5);
        QCOMPARE(banner.mid(0, 3), (QStringList{"--------------------------------------------------- ", "Program VQ Gateway version 01.01.01 started ",
                                                QStringLiteral("Built with Qt %1 running on Qt %2 ").arg(QT_VERSION_STR, qVersion())}));
        QVERIFY(banner.value(3).startsWith(QLatin1String("OS detected: \"")));
        QCOMPARE(banner.value(4), QStringLiteral("Creating main window "));

        // A second start leaves the first alone. On the offscreen platform it waits at its
        // message box, so it is ended here once it got there.
        const QStringList logBefore = logMessages();
        QProcess *second = start();
        QTRY_VERIFY_WITH_TIMEOUT(second->state() == QProcess::NotRunning || errors.value(second).contains("Application already running."), 20000);
        QVERIFY(second->state() == QProcess::Running || second->exitCode() == 1);
        second->kill();
        second->waitForFinished(5000);
        QCOMPARE(logMessages().mid(0, logBefore.size()), logBefore);
        QCOMPARE(device.connectionCount(), 1);

        terminate(first);
        const QStringList messages = logMessages();
        QCOMPARE(messages.mid(messages.size() - 1), QStringList{"Program exited with return code 0 "});
        QVERIFY(messages.indexOf(QStringLiteral("Closing main window ")) < messages.indexOf(QStringLiteral("Server deleted ")));
        QTRY_VERIFY(one.isClosed() && two.isClosed());
    }

    // A killed instance never blocks the next start; the next start empties the log and
    // honours the stored level: at Warn the system's own Info and Error lines are all left out.
    void startsAfterAKilledInstance()
    {
        FakeDevice device;
        writeSettings({{"Port", device.port()}, {"PortLocal", freeLoopbackPort()}, {"Autoconnect", true}});
        QProcess *killed = start();
        QTRY_COMPARE_WITH_TIMEOUT(device.connectionCount(), 1, 20000);
        ::kill(pid_t(killed->processId()), SIGKILL);
        QVERIFY(killed->waitForFinished(5000));
        QVERIFY(QFileInfo(logPath()).size() > 0);
        writeSettings({{"LoggingLevel", 3}});
        QProcess *next = start();
        QTRY_COMPARE_WITH_TIMEOUT(device.connectionCount(), 2, 20000);
        QVERIFY(!errors.value(next).contains("Application already running."));
        QCOMPARE(QFileInfo(logPath()).size(), 0);
        terminate(next);
        QCOMPARE(QFileInfo(logPath()).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
