#include "VqLog/debugoutputdestination.h"
#include "VqLog/filedestination.h"
#include "VqLog/rotationstrategy.h"
#include "tests/testsupport.h"

#include <QThread>

#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

// The log and its backups .1, .2, ... before ("" for none) and after ("-" for none).
struct RotationCase
{
    const char *name;
    int rotation, limit, backups;
    QStringList before, lines, after;
};
Q_DECLARE_METATYPE(RotationCase)

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
    // Lines are counted in UTF-8 bytes without their line ends; a line that takes the count past
    // the limit rotates first. Only the unbroken run of backups from .1 moves, ten at most.
    void rotation_data()
    {
        const QStringList none{"", "", "", ""};
        QStringList eleven{"old"};
        for (int i = 1; i <= 11; ++i)
            eleven.append(QString::number(i));
        addRows<RotationCase>(
                {{"limit passed, no backups",
                  1,
                  18,
                  0,
                  none,
                  {"line one!", "line two!", "three"},
                  {"three\n", "-", "-", "-"}},
                 {"exactly at limit stays",
                  1,
                  18,
                  0,
                  none,
                  {"line one!", "line two!"},
                  {"line one!\nline two!\n", "-", "-", "-"}},
                 {"utf-8 bytes counted",
                  1,
                  4,
                  0,
                  none,
                  {"\u00e4\u00e4", "\u00e4"},
                  {"\u00e4\n", "-", "-", "-"}},
                 {"backups shift",
                  1,
                  3,
                  3,
                  {"old", "b1", "b2", "b3"},
                  {"new"},
                  {"new\n", "old", "b1", "b2"}},
                 {"gap at first",
                  1,
                  3,
                  3,
                  {"old", "", "b2", ""},
                  {"new"},
                  {"new\n", "old", "b2", "-"}},
                 {"eleven asked, ten kept",
                  1,
                  3,
                  11,
                  eleven,
                  {"new"},
                  {"new\n", "old", "1", "2", "3", "4", "5", "6", "7", "8", "9", "11"}},
                 {"off truncates, never rotates",
                  0,
                  1,
                  3,
                  {"earlier\n", "", "", ""},
                  {"a", "b"},
                  {"a\nb\n", "-", "-", "-"}}});
    }
    void rotation()
    {
        QFETCH(RotationCase, row);
        const QString path = newLogPath();
        for (int i = 0; i < row.before.size(); ++i) {
            QFile file(i ? VqLog::backupName(path, i) : path);
            QVERIFY(row.before.at(i).isEmpty()
                    || (file.open(QIODevice::WriteOnly)
                        && file.write(row.before.at(i).toUtf8()) > 0));
        }
        VqLog::DestinationPtr file = VqLog::createFileDestination(
                path, VqLog::LogRotation(row.rotation), row.limit, row.backups);
        for (const QString &line : row.lines)
            file->write(line, VqLog::Info);
        for (int i = 0; i < row.after.size(); ++i)
            QCOMPARE(QString::fromUtf8(readFile(i ? VqLog::backupName(path, i) : path)),
                     row.after.at(i));
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
        QVERIFY2(lines.size() > 10 && lines.size() < 400,
                 qPrintable(QString::number(lines.size())));
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
