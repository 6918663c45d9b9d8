#include "VqLog/debugoutputdestination.h"
#include "VqLog/filedestination.h"
#include "VqLog/rotationstrategy.h"
#include "tests/testsupport.h"

#include <QThread>

#include <atomic>
#include <fcntl.h>
#include <thread>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("-");
}

}

class TestLogger : public QObject
{
    Q_OBJECT

    TestDir dir;
    int caseNumber = 0;

    QString newLogPath() { return dir.filePath(QStringLiteral("log%1.txt").arg(++caseNumber)); }

private slots:
    void cleanup() { dir.noteResult(), VqLog::Logger::destroyInstance(); }
    // Level, time to the millisecond, then each item and a blank, strings quoted and escaped.
    void lineFormat()
    {
        auto capture = CaptureDestination::install(VqLog::Trace);
        LOG_INFO << "Connecting to" << QString("127.0.0.1") << "port" << 10500u;
        LOG_INFO << "[DEVICE] - " << QString("OK\r\n");
        LOG_ERROR << QString("a\"b\\c");
        LOG_WARN << "%1 and %2" << QString("%3");
        LOG_FATAL;
        LOG_TRACE << -5;
        LOG_DEBUG << "x";
        QStringList shown;
        for (const QString &line : capture->lines()) {
            QVERIFY2(QRegularExpression(
                             QStringLiteral(
                                     "^.{6}\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "))
                             .match(line)
                             .hasMatch(),
                     qPrintable(line));
            shown.append(line.left(6) + line.mid(30));
        }
        QCOMPARE(shown,
                 (QStringList{"INFO  Connecting to \"127.0.0.1\" port 10500 ",
                              "INFO  [DEVICE] -  \"OK\\r\\n\" ", "ERROR \"a\\\"b\\\\c\" ",
                              "WARN  %1 and %2 \"%3\" ", "FATAL ", "TRACE -5 ", "DEBUG x "}));
    }
    // Which statements each threshold lets through; a suppressed one evaluates none of its items.
    void threshold()
    {
        QStringList written;
        for (int threshold : {-1, 0, 2, 5, 6, 7}) {
            auto capture = CaptureDestination::install(VqLog::Level(threshold));
            int evaluated = 0;
            LOG_TRACE << ++evaluated;
            LOG_DEBUG << ++evaluated;
            LOG_INFO << ++evaluated;
            LOG_WARN << ++evaluated;
            LOG_ERROR << ++evaluated;
            LOG_FATAL << ++evaluated;
            written.append(QStringLiteral("%1:%2").arg(capture->lines().size()).arg(evaluated));
        }
        QCOMPARE(written, (QStringList{"6:6", "6:6", "4:4", "1:1", "0:0", "0:0"}));
    }
    // "rotation limit backups | the log, .1, .2 ... before | lines -> the log, .1 ... after", a -
    // for no file and a / for a line end; the file after the last one named is never there. Lines
    // are counted in UTF-8 bytes without their line ends; a line that takes the count past the
    // limit rotates first. Only the unbroken run of backups from .1 moves, ten at most.
    void rotation_data()
    {
        QTest::addColumn<QString>("row");
        for (const char *row :
             {"1 18 0 | - | line_one! line_two! three -> three/",
              "1 18 0 | - | line_one! line_two! -> line_one!/line_two!/",
              "1 4 0 | - | \u00e4\u00e4 \u00e4 -> \u00e4/",
              "1 3 3 | old b1 b2 b3 | new -> new/ old b1 b2",
              "1 3 3 | old - b2 | new -> new/ old b2",
              "1 3 11 | old 1 2 3 4 5 6 7 8 9 10 11 | new -> new/ old 1 2 3 4 5 6 7 8 9 11",
              "0 1 3 | earlier/ | a b -> a/b/"})
            QTest::newRow(row) << QString::fromUtf8(row);
    }
    void rotation()
    {
        QFETCH(QString, row);
        const QString path = newLogPath();
        const auto name = [&path](int i) { return i ? VqLog::backupName(path, i) : path; };
        const QStringList before = row.section(" | ", 1, 1).split(' ');
        for (int i = 0; i < before.size(); ++i) {
            QFile file(name(i));
            QVERIFY(before.at(i) == "-"
                    || (file.open(QIODevice::WriteOnly)
                        && file.write(QString(before.at(i)).replace('/', '\n').toUtf8()) > 0));
        }
        const QStringList settings = row.section(' ', 0, 2).split(' ');
        VqLog::DestinationPtr file
                = VqLog::createFileDestination(path, VqLog::LogRotation(settings.at(0).toInt()),
                                               settings.at(1).toInt(), settings.at(2).toInt());
        for (const QString &line : row.section(" | ", 2).section(" -> ", 0, 0).split(' '))
            file->write(line, VqLog::Info);
        const QStringList after = (row.section(" -> ", 1) + " -").split(' ');
        for (int i = 0; i < after.size(); ++i)
            QCOMPARE(QString::fromUtf8(readFile(name(i))).replace('\n', '/'), after.at(i));
        // The log may hold every command: nobody but the user may read it.
        QCOMPARE(int(QFile::permissions(path) & 0x0777), int(QFile::ReadUser | QFile::WriteUser));
    }
    // A standard error pipe that nobody reads never stalls the program, and what reaches it is
    // whole lines; the log file keeps every line, in UTF-8, and says once that some were left out.
    void stderrTakesWholeLinesAndNeverBlocks()
    {
        int pipeEnds[2];
        QCOMPARE(pipe(pipeEnds), 0);
        const QString path = newLogPath();
        const int savedStderr = dup(STDERR_FILENO);
        dup2(pipeEnds[1], STDERR_FILENO);
        VqLog::DestinationPtr file
                = VqLog::createFileDestination(path, VqLog::RotationBySize, 1 << 26, 0);
        VqLog::Logger::instance().addDestination(VqLog::createDebugOutputDestination(file));
        VqLog::Logger::instance().addDestination(file);
        std::atomic<bool> done{false};
        std::thread writer([&done] {
            for (int i = 0; i < 400; ++i)
                LOG_INFO << "line" << i << QString(i % 2 ? 20000 : 10, QChar(0xfc));
            done = true;
        });
        const bool finished = QTest::qWaitFor([&done] { return done.load(); }, 5000);
        QByteArray received;
        fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
        // A writer that blocked anyway is let go, so that the test ends; then the stream is read
        // until it stays empty.
        for (QElapsedTimer quiet; !quiet.isValid() || quiet.elapsed() < 500;) {
            char chunk[65536];
            const ssize_t got = read(pipeEnds[0], chunk, sizeof chunk);
            if (got > 0)
                received.append(chunk, int(got)), quiet.invalidate();
            else if (!quiet.isValid())
                quiet.start();
            QThread::msleep(got > 0 ? 0 : 10);
        }
        writer.join();
        dup2(savedStderr, STDERR_FILENO);
        close(savedStderr), close(pipeEnds[0]), close(pipeEnds[1]);
        QVERIFY2(finished, "logging blocked on a full standard error pipe");
        const QRegularExpression whole(QStringLiteral("^INFO  \\S+ line (\\d+) \"(\u00fc*)\" $"));
        const QStringList lines = QString::fromUtf8(received).split(QLatin1Char('\n'));
        verifyWithin(lines.size(), 11, 400, "lines on standard error");
        for (const QString &line : lines.mid(0, lines.size() - 1)) {
            const QRegularExpressionMatch match = whole.match(line);
            QVERIFY2(match.hasMatch()
                             && match.captured(2).size()
                                     == (match.captured(1).toInt() % 2 ? 20000 : 10),
                     qPrintable(line.left(80)));
        }
        const QString log = QString::fromUtf8(readFile(path));
        QCOMPARE(log.count(QStringLiteral("Standard error output is full")), 1);
        QCOMPARE(log.count(QRegularExpression(QStringLiteral("\u00fc\" \n"))), 400);
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
