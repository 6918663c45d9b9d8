#include "VqLog/debugoutputdestination.h"
#include "VqLog/filedestination.h"
#include "VqLog/vqlog.h"
#include "tests/capturedestination.h"
#include "tests/testdir.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// Collects what is written to the standard error stream while it lives.
class StderrCapture
{
public:
    explicit StderrCapture(const QString &path)
        : path(path)
    {
        std::fflush(stderr);
        saved = dup(STDERR_FILENO);
        FILE *target = std::fopen(QFile::encodeName(path).constData(), "w");
        dup2(fileno(target), STDERR_FILENO);
        std::fclose(target);
    }
    QByteArray finish()
    {
        std::fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(saved);
        return readFile(path);
    }

private:
    QString path;
    int saved;
};

}

class TestFileDestination : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDir> dir;
    int caseNumber = 0;

    QString newLogPath() { return dir->filePath(QStringLiteral("case%1/log.txt").arg(++caseNumber)); }

private slots:
    void initTestCase() { dir.reset(new TestDir); }
    void cleanup()
    {
        dir->noteResult();
        VqLog::Logger::destroyInstance();
    }

    void missingDirectoryReportsAndOtherDestinationsStillWrite()
    {
        const QString path = dir->filePath(QStringLiteral("no/such/dir/log.txt"));
        QSharedPointer<CaptureDestination> capture(new CaptureDestination);
        StderrCapture err(dir->filePath(QStringLiteral("stderr.txt")));
        VqLog::DestinationPtr file = VqLog::createFileDestination(path, VqLog::RotationBySize, 100, 0);
        VqLog::Logger::instance().addDestination(file);
        VqLog::Logger::instance().addDestination(capture);
        LOG_INFO << "still logged";
        const QByteArray reported = err.finish();

        QCOMPARE(reported, QByteArray("VqLog: could not open log file ") + QFile::encodeName(path));
        QVERIFY(!file->isValid());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(capture->messages(), QStringList{QStringLiteral("still logged ")});
    }

    // A standard error pipe that nobody reads never stalls the program: the log file keeps every
    // line and says once that the stream was left out.
    void stderrNobodyReadsNeverBlocks()
    {
        int pipeEnds[2];
        QCOMPARE(pipe(pipeEnds), 0);
        const int saved = dup(STDERR_FILENO);
        dup2(pipeEnds[1], STDERR_FILENO);
        const QString path = newLogPath();
        QDir().mkpath(QFileInfo(path).path());
        VqLog::DestinationPtr file = VqLog::createFileDestination(path, VqLog::RotationBySize, 1 << 24, 0);
        VqLog::Logger::instance().addDestination(VqLog::createDebugOutputDestination(file));
        VqLog::Logger::instance().addDestination(file);
        std::atomic<bool> done{false};
        std::thread writer([&done] {
            for (int i = 0; i < 3000; ++i)
                LOG_INFO << "line" << i << QByteArray(40, 'x');
            done = true;
        });
        const bool finished = QTest::qWaitFor([&done] { return done.load(); }, 5000);
        dup2(saved, STDERR_FILENO);
        close(saved);
        close(pipeEnds[1]);
        char sink[65536];
        while (!done.load() && read(pipeEnds[0], sink, sizeof sink) > 0) {
        }
        writer.join();
        close(pipeEnds[0]);
        QVERIFY2(finished, "logging blocked on a full standard error pipe");
        const QString log = QString::fromUtf8(readFile(path));
        QCOMPARE(log.count(QStringLiteral("Standard error output is full")), 1);
        QCOMPARE(log.count(QStringLiteral(" line ")), 3000);
    }

    void sizeLimitWithoutBackups()
    {
        const QString path = newLogPath();
        QDir().mkpath(QFileInfo(path).path());
        // Nine bytes a line, limit 18: the second line reaches the limit exactly and stays.
        VqLog::DestinationPtr file = VqLog::createFileDestination(path, VqLog::RotationBySize, 18, 0);
        file->write(QStringLiteral("line one!"), VqLog::Info);
        file->write(QStringLiteral("line two!"), VqLog::Info);
        QCOMPARE(readFile(path), QByteArray("line one!\nline two!\n"));
        // Line ends on disk are not counted: the file already holds 20 bytes, but the counted
        // size only passes the limit with the next line, which then starts the new file.
        file->write(QStringLiteral("three"), VqLog::Info);
        QCOMPARE(readFile(path), QByteArray("three\n"));
        QVERIFY(!QFile::exists(path + QStringLiteral(".1")));
        file->write(QStringLiteral("four"), VqLog::Info);
        QCOMPARE(readFile(path), QByteArray("three\nfour\n"));
    }

    void utf8BytesAreCounted()
    {
        const QString path = newLogPath();
        QDir().mkpath(QFileInfo(path).path());
        VqLog::DestinationPtr file = VqLog::createFileDestination(path, VqLog::RotationBySize, 4, 0);
        file->write(QString::fromUtf8("\xc3\xa4\xc3\xa4"), VqLog::Info);  // four bytes: no rotation
        file->write(QStringLiteral("x"), VqLog::Info);
        QCOMPARE(readFile(path), QByteArray("x\n"));
    }

    void backups_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("expected");  // content of log, .1, .2, .3 after one rotation

        QTest::newRow("three present") << QStringList{"b1", "b2", "b3"}
                                       << QStringList{"new\n", "old", "b1", "b2"};
        QTest::newRow("only first") << QStringList{"b1", "", ""}
                                    << QStringList{"new\n", "old", "b1", "<missing>"};
        QTest::newRow("gap at first") << QStringList{"", "b2", ""}
                                      << QStringList{"new\n", "old", "b2", "<missing>"};
        QTest::newRow("none") << QStringList{"", "", ""}
                              << QStringList{"new\n", "old", "<missing>", "<missing>"};
    }

    void backups()
    {
        QFETCH(QStringList, present);
        QFETCH(QStringList, expected);
        const QString path = newLogPath();
        QDir().mkpath(QFileInfo(path).path());
        writeFile(path, "old");
        for (int i = 0; i < present.size(); ++i) {
            if (!present.at(i).isEmpty())
                writeFile(VqLog::backupName(path, i + 1), present.at(i).toUtf8());
        }
        // The limit equals the size already on disk, so the first line rotates.
        VqLog::DestinationPtr file = VqLog::createFileDestination(path, VqLog::RotationBySize, 3, 3);
        file->write(QStringLiteral("new"), VqLog::Info);

        QCOMPARE(QString::fromUtf8(readFile(path)), expected.at(0));
        for (int i = 1; i <= 3; ++i)
            QCOMPARE(QString::fromUtf8(readFile(VqLog::backupName(path, i))), expected.at(i));
        QVERIFY(!QFile::exists(VqLog::backupName(path, 4)));
    }

    void backupCountIsCappedAtTen()
    {
        const QString path = newLogPath();
        QDir().mkpath(QFileInfo(path).path());
        writeFile(path, "old");
        for (int i = 1; i <= 11; ++i)
            writeFile(VqLog::backupName(path, i), QByteArray::number(i));
        VqLog::DestinationPtr file = VqLog::createFileDestination(path, VqLog::RotationBySize, 3, 25);
        file->write(QStringLiteral("new"), VqLog::Info);
        QCOMPARE(readFile(VqLog::backupName(path, 10)), QByteArray("9"));
        QCOMPARE(readFile(VqLog::backupName(path, 11)), QByteArray("11"));
    }

    void rotationOffTruncatesAndNeverRotates_data()
    {
        QTest::addColumn<int>("rotation");
        QTest::newRow("off") << int(VqLog::RotationOff);
        QTest::newRow("unknown value") << 7;
    }

    void rotationOffTruncatesAndNeverRotates()
    {
        QFETCH(int, rotation);
        const QString path = newLogPath();
        QDir().mkpath(QFileInfo(path).path());
        writeFile(path, "earlier run\n");
        VqLog::DestinationPtr file = VqLog::createFileDestination(path, VqLog::LogRotation(rotation), 1, 0);
        QVERIFY(file->isValid());
        QCOMPARE(readFile(path), QByteArray());
        for (int i = 0; i < 5; ++i)
            file->write(QStringLiteral("line %1").arg(i), VqLog::Info);
        QCOMPARE(readFile(path), QByteArray("line 0\nline 1\nline 2\nline 3\nline 4\n"));
        QVERIFY(!QFile::exists(path + QStringLiteral(".1")));
    }

    void linesAreUtf8WithPlatformLineEnd()
    {
        const QString path = newLogPath();
        QDir().mkpath(QFileInfo(path).path());
        VqLog::Logger::instance().setLoggingLevel(VqLog::Info);
        VqLog::Logger::instance().addDestination(
            VqLog::createFileDestination(path, VqLog::RotationBySize, 1 << 20, 0));
        LOG_INFO << QString::fromUtf8("gr\xc3\xbc\xc3\x9f");
        const QByteArray content = readFile(path);
        QVERIFY2(content.startsWith("INFO  "), content.constData());
        QVERIFY(content.endsWith(" \"gr\xc3\xbc\xc3\x9f\" \n"));
    }
};

QTEST_GUILESS_MAIN(TestFileDestination)
#include "tst_filedestination.moc"
