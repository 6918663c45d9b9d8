#include "VqLog/debugoutputdestination.h"
#include "VqLog/filedestination.h"
#include "tests/testsupport.h"

#include <QDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("-");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// Points the standard error stream somewhere else while it lives.
struct StderrRedirect
{
    explicit StderrRedirect(int target) { dup2(target, STDERR_FILENO); }
    ~StderrRedirect()
    {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
    int saved = dup(STDERR_FILENO);
};

}

class TestFileDestination : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDir> dir;
    int caseNumber = 0;

    QString newLogPath()
    {
        const QString path = dir->filePath(QStringLiteral("case%1/log.txt").arg(++caseNumber));
        QDir().mkpath(QFileInfo(path).path());
        return path;
    }

private slots:
    void initTestCase() { dir.reset(new TestDir); }
    void cleanup()
    {
        dir->noteResult();
        VqLog::Logger::destroyInstance();
    }

    void missingDirectoryIsReportedOnStderr()
    {
        const QString path = dir->filePath(QStringLiteral("no/such/dir/log.txt"));
        const QString errors = dir->filePath(QStringLiteral("stderr.txt"));
        QFile errorFile(errors);
        QVERIFY(errorFile.open(QIODevice::WriteOnly));
        {
            StderrRedirect redirect(errorFile.handle());
            QVERIFY(!VqLog::createFileDestination(path, VqLog::RotationBySize, 100, 0)->isValid());
        }
        QCOMPARE(readFile(errors), QByteArray("VqLog: could not open log file ") + QFile::encodeName(path));
    }

    // Lines are counted in UTF-8 bytes without their line ends; a line that takes the count past
    // the limit rotates first. Only the unbroken run of backups from .1 moves, at most ten.
    void rotation_data()
    {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("backups");
        QTest::addColumn<QStringList>("before"); // log, .1, .2, .3 ("" for none)
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("after");  // log, .1, .2, .3 ("-" for none)
        QTest::newRow("limit reached, no backups") << 1 << 18 << 0 << QStringList{"", "", "", ""} << QStringList{"line one!", "line two!", "three"}
                                                   << QStringList{"three\n", "-", "-", "-"};
        QTest::newRow("exactly at limit stays") << 1 << 18 << 0 << QStringList{"", "", "", ""} << QStringList{"line one!", "line two!"}
                                                << QStringList{"line one!\nline two!\n", "-", "-", "-"};
        QTest::newRow("utf-8 bytes counted") << 1 << 4 << 0 << QStringList{"", "", "", ""} << QStringList{"\u00e4\u00e4", "\u00e4"}
                                             << QStringList{"\u00e4\n", "-", "-", "-"};
        QTest::newRow("backups shift") << 1 << 3 << 3 << QStringList{"old", "b1", "b2", "b3"} << QStringList{"new"}
                                       << QStringList{"new\n", "old", "b1", "b2"};
        QTest::newRow("gap at first") << 1 << 3 << 3 << QStringList{"old", "", "b2", ""} << QStringList{"new"}
                                      << QStringList{"new\n", "old", "b2", "-"};
        QTest::newRow("off truncates, never rotates") << 0 << 1 << 3 << QStringList{"earlier\n", "", "", ""} << QStringList{"a", "b"}
                                                      << QStringList{"a\nb\n", "-", "-", "-"};
    }
    void rotation()
    {
        QFETCH(int, rotation);
        QFETCH(int, limit);
        QFETCH(int, backups);
        QFETCH(QStringList, before);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, after);
        const QString path = newLogPath();
        for (int i = 0; i < before.size(); ++i)
            if (!before.at(i).isEmpty())
                writeFile(i ? VqLog::backupName(path, i) : path, before.at(i).toUtf8());
        VqLog::DestinationPtr file = VqLog::createFileDestination(path, VqLog::LogRotation(rotation), limit, backups);
        for (const QString &line : lines)
            file->write(line, VqLog::Info);
        for (int i = 0; i < after.size(); ++i)
            QCOMPARE(QString::fromUtf8(readFile(i ? VqLog::backupName(path, i) : path)), after.at(i));
    }

    void backupCountIsCappedAtTen()
    {
        const QString path = newLogPath();
        writeFile(path, "old");
        for (int i = 1; i <= 11; ++i)
            writeFile(VqLog::backupName(path, i), QByteArray::number(i));
        VqLog::createFileDestination(path, VqLog::RotationBySize, 3, 25)->write(QStringLiteral("new"), VqLog::Info);
        QCOMPARE(readFile(VqLog::backupName(path, 10)) + readFile(VqLog::backupName(path, 11)), QByteArray("911"));
    }

    void linesAreUtf8()
    {
        const QString path = newLogPath();
        VqLog::Logger::instance().setLoggingLevel(VqLog::Info);
        VqLog::Logger::instance().addDestination(VqLog::createFileDestination(path, VqLog::RotationBySize, 1 << 20, 0));
        LOG_INFO << QString::fromUtf8("gr\xc3\xbc\xc3\x9f");
        const QByteArray content = readFile(path);
        QVERIFY2(content.startsWith("INFO  ") && content.endsWith(" \"gr\xc3\xbc\xc3\x9f\" \n"), content.constData());
    }

    // A standard error pipe that nobody reads never stalls the program: the log file keeps every
    // line and says once that the stream was left out.
    void stderrNobodyReadsNeverBlocks()
    {
        int pipeEnds[2];
        QCOMPARE(pipe(pipeEnds), 0);
        const QString path = newLogPath();
        std::atomic<bool> done{false};
        bool finished;
        {
            StderrRedirect redirect(pipeEnds[1]);
            VqLog::DestinationPtr file = VqLog::createFileDestination(path, VqLog::RotationBySize, 1 << 24, 0);
            VqLog::Logger::instance().addDestination(VqLog::createDebugOutputDestination(file));
            VqLog::Logger::instance().addDestination(file);
            std::thread writer([&done] {
                for (int i = 0; i < 3000; ++i)
                    LOG_INFO << "line" << i << QByteArray(40, 'x');
                done = true;
            });
            finished = QTest::qWaitFor([&done] { return done.load(); }, 5000);
            char sink[65536];
            while (!done.load() && read(pipeEnds[0], sink, sizeof sink) > 0) {
            }
            writer.join();
        }
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        QVERIFY2(finished, "logging blocked on a full standard error pipe");
        const QString log = QString::fromUtf8(readFile(path));
        QCOMPARE(log.count(QStringLiteral("Standard error output is full")), 1);
        QCOMPARE(log.count(QStringLiteral(" line ")), 3000);
    }
};

QTEST_GUILESS_MAIN(TestFileDestination)
#include "tst_filedestination.moc"
