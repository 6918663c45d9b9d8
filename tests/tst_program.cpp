#include "tests/loopback.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

// Runs the real program with its home, settings, log and runtime directories in a temporary
// folder, against a fake device on 127.0.0.1.
class TestProgram : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> home;
    QList<QProcess *> processes;
    QHash<QProcess *, QByteArray> errors;

    QString path(const QString &relative) const { return home->filePath(relative); }
    QString logPath() const { return path(QStringLiteral("data/vqgateway/VQGateway_Log.txt")); }

    void writeSettings(const QVariantMap &values)
    {
        QSettings settings(path(QStringLiteral("config/Velquor/Gateway.conf")), QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it)
            settings.setValue(it.key(), it.value());
    }

    QProcess *start()
    {
        auto *process = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("runtime")));
        env.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("tmp")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("VQGATEWAY_UPDATE_URL"), QStringLiteral("http://127.0.0.1:9/none.xml"));
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::SeparateChannels);
        connect(process, &QProcess::readyReadStandardError, this,
                [this, process] { errors[process] += process->readAllStandardError(); });
        process->start(QStringLiteral(VQGATEWAY_EXECUTABLE), QStringList());
        processes.append(process);
        return process;
    }

    static QStringList logMessages(const QString &file)
    {
        QFile log(file);
        if (!log.open(QIODevice::ReadOnly))
            return {};
        QStringList messages;
        for (const QByteArray &line : log.readAll().split('\n'))
            if (!line.isEmpty())
                messages.append(QString::fromUtf8(line.mid(30)));
        return messages;
    }

    static void terminate(QProcess *process)
    {
        ::kill(pid_t(process->processId()), SIGTERM);
        QVERIFY(process->waitForFinished(20000));
    }

private slots:
    void init()
    {
        home.reset(new QTemporaryDir(QDir::tempPath() + QStringLiteral("/vqgateway-program-XXXXXX")));
        for (const char *sub : {"home", "config/Velquor", "data", "runtime", "tmp"})
            QDir(home->path()).mkpath(QLatin1String(sub));
        QFile::setPermissions(path(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void cleanup()
    {
        for (QProcess *process : processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        qDeleteAll(processes);
        processes.clear();
        errors.clear();
        if (QTest::currentTestFailed()) {
            home->setAutoRemove(false);
            qWarning("test files kept in %s", qPrintable(home->path()));
        }
    }

    void relaysGuardsAndShutsDown()
    {
        FakeDevice device;
        const quint16 localPort = freeLoopbackPort();
        writeSettings({{"IpAddress", "127.0.0.1"}, {"Port", device.port()}, {"PortLocal", localPort},
                       {"Autoconnect", true}});
        QProcess *first = start();
        QTRY_COMPARE_WITH_TIMEOUT(device.connectionCount(), 1, 20000);

        FakeClient one(localPort);
        FakeClient two(localPort);
        QTRY_VERIFY_WITH_TIMEOUT(logMessages(logPath()).filter(QStringLiteral("New client thread")).size() == 2, 10000);
        device.send("HELLO\r\n");
        QTRY_COMPARE(one.received(), QByteArray("HELLO\r\n"));
        QTRY_COMPARE(two.received(), QByteArray("HELLO\r\n"));
        one.send("CMD1\r\n");
        QTRY_VERIFY(device.received().contains("CMD1\r\n"));
        two.send("CMD2\r\n");
        QTRY_VERIFY(device.received().contains("CMD2\r\n"));

        const QStringList banner = logMessages(logPath()).mid(0, 5);
        QCOMPARE(banner.size(), 5);
        QCOMPARE(banner.at(0), QStringLiteral("--------------------------------------------------- "));
        QCOMPARE(banner.at(1), QStringLiteral("Program VQ Gateway version 01.01.01 started "));
        QCOMPARE(banner.at(2), QStringLiteral("Built with Qt %1 running on Qt %2 ").arg(QT_VERSION_STR, qVersion()));
        QVERIFY(banner.at(3).startsWith(QLatin1String("OS detected: \"")));
        QCOMPARE(banner.at(4), QStringLiteral("Creating main window "));

        // A second start leaves the first alone and serves nothing. On the offscreen platform
        // it waits at its message box, so it is ended here once it got there.
        QFile logFile(logPath());
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        const QByteArray logBefore = logFile.readAll();
        logFile.close();
        QProcess *second = start();
        QTRY_VERIFY_WITH_TIMEOUT(second->state() == QProcess::NotRunning
                                     || errors.value(second).contains("Application already running."),
                                 20000);
        if (second->state() == QProcess::NotRunning)
            QCOMPARE(second->exitCode(), 1);
        second->kill();
        second->waitForFinished(5000);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        QVERIFY(logFile.readAll().startsWith(logBefore));
        logFile.close();
        QCOMPARE(device.connectionCount(), 1);

        terminate(first);
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->exitCode(), 0);
        const QStringList messages = logMessages(logPath());
        QVERIFY(messages.contains(QStringLiteral("Closing main window ")));
        QCOMPARE(messages.last(), QStringLiteral("Program exited with return code 0 "));
        QVERIFY(messages.indexOf(QStringLiteral("Closing main window ")) < messages.size() - 1);
        QTRY_VERIFY(one.isClosed());
        QTRY_VERIFY(two.isClosed());
    }

    void startsAfterAKilledInstance()
    {
        FakeDevice device;
        writeSettings({{"IpAddress", "127.0.0.1"}, {"Port", device.port()}, {"PortLocal", freeLoopbackPort()},
                       {"Autoconnect", true}});
        QProcess *killed = start();
        QTRY_COMPARE_WITH_TIMEOUT(device.connectionCount(), 1, 20000);
        ::kill(pid_t(killed->processId()), SIGKILL);
        QVERIFY(killed->waitForFinished(5000));

        QProcess *next = start();
        QTRY_COMPARE_WITH_TIMEOUT(device.connectionCount(), 2, 20000);
        QVERIFY(!errors.value(next).contains("Application already running."));
        terminate(next);
        QCOMPARE(next->exitCode(), 0);
    }

    void loggingLevelThreeGivesAnEmptyLog()
    {
        FakeDevice device;
        QDir().mkpath(QFileInfo(logPath()).path());
        QFile old(logPath());
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("the previous run\n");
        old.close();
        writeSettings({{"IpAddress", "127.0.0.1"}, {"Port", device.port()}, {"PortLocal", freeLoopbackPort()},
                       {"Autoconnect", true}, {"LoggingLevel", 3}});
        QProcess *process = start();
        QTRY_COMPARE_WITH_TIMEOUT(device.connectionCount(), 1, 20000);
        QVERIFY(QFile::exists(logPath()));
        QCOMPARE(QFileInfo(logPath()).size(), 0);
        terminate(process);
        QCOMPARE(process->exitCode(), 0);
        QCOMPARE(QFileInfo(logPath()).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
