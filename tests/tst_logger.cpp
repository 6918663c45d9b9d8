#include "VqLog/functordestination.h"
#include "VqLog/vqlog.h"
#include "tests/testsupport.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <thread>

using Statement = std::function<void()>;
Q_DECLARE_METATYPE(Statement)

namespace {

QStringList functionLines;
void collectLine(const QString &message, VqLog::Level)
{
    functionLines.append(message);
}

}

class LineReceiver : public QObject
{
    Q_OBJECT
public:
    QStringList received;
public slots:
    void take(const QString &message, int) { received.append(message); }
};

class TestLogger : public QObject
{
    Q_OBJECT

private:
    QSharedPointer<CaptureDestination> capture;

    void setUpLogger(VqLog::Level level) { capture = CaptureDestination::install(level); }

private slots:
    void cleanup() { VqLog::Logger::destroyInstance(); }
    void lineFormat_data()
    {
        QTest::addColumn<Statement>("statement");
        QTest::addColumn<QString>("levelText");
        QTest::addColumn<QString>("message");

        QTest::newRow("literal") << Statement([] { LOG_INFO << "Creating main window"; })
                                 << "INFO " << "Creating main window ";
        QTest::newRow("items") << Statement([] { LOG_INFO << "Connecting to" << QString("10.0.0.1") << "port" << 10500u; })
                               << "INFO " << "Connecting to \"10.0.0.1\" port 10500 ";
        QTest::newRow("crlf escaped") << Statement([] { LOG_INFO << "[DEVICE] - " << QString("OK\r\n"); })
                                      << "INFO " << "[DEVICE] -  \"OK\\r\\n\" ";
        QTest::newRow("quote and backslash") << Statement([] { LOG_ERROR << QString("a\"b\\c"); })
                                             << "ERROR" << "\"a\\\"b\\\\c\" ";
        QTest::newRow("placeholders kept") << Statement([] { LOG_WARN << "%1 and %2" << QString("%3"); })
                                           << "WARN " << "%1 and %2 \"%3\" ";
        QTest::newRow("empty statement") << Statement([] { LOG_FATAL; }) << "FATAL" << "";
        QTest::newRow("trace") << Statement([] { LOG_TRACE << -5; }) << "TRACE" << "-5 ";
        QTest::newRow("debug") << Statement([] { LOG_DEBUG << "x"; }) << "DEBUG" << "x ";
    }
    void lineFormat()
    {
        QFETCH(Statement, statement);
        QFETCH(QString, levelText);
        QFETCH(QString, message);
        setUpLogger(VqLog::Trace);

        statement();

        const QStringList lines = capture->lines();
        QCOMPARE(lines.size(), 1);
        const QRegularExpression pattern(QStringLiteral("^(.{5}) (\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}) (.*)$"),
                                         QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpressionMatch match = pattern.match(lines.first());
        QVERIFY2(match.hasMatch(), qPrintable(lines.first()));
        QCOMPARE(match.captured(1), levelText);
        QCOMPARE(match.captured(3), message);
        QVERIFY(!lines.first().contains(QLatin1Char('\n')));
    }
    void threshold_data()
    {
        QTest::addColumn<int>("threshold");
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("written");
        QTest::newRow("equal level") << int(VqLog::Info) << int(VqLog::Info) << true;
        QTest::newRow("one below") << int(VqLog::Info) << int(VqLog::Debug) << false;
        QTest::newRow("above") << int(VqLog::Info) << int(VqLog::Error) << true;
        QTest::newRow("off suppresses fatal") << int(VqLog::Off) << int(VqLog::Fatal) << false;
        QTest::newRow("trace lets trace") << int(VqLog::Trace) << int(VqLog::Trace) << true;
        QTest::newRow("stored 7 suppresses fatal") << 7 << int(VqLog::Fatal) << false;
        QTest::newRow("negative lets trace") << -1 << int(VqLog::Trace) << true;
    }
    void threshold()
    {
        QFETCH(int, threshold);
        QFETCH(int, level);
        QFETCH(bool, written);
        setUpLogger(VqLog::Level(threshold));
        int evaluated = 0;
        auto item = [&evaluated] { ++evaluated; return 1; };

        switch (VqLog::Level(level)) {
        case VqLog::Trace: LOG_TRACE << item(); break;
        case VqLog::Debug: LOG_DEBUG << item(); break;
        case VqLog::Info: LOG_INFO << item(); break;
        case VqLog::Warn: LOG_WARN << item(); break;
        case VqLog::Error: LOG_ERROR << item(); break;
        default: LOG_FATAL << item(); break;
        }

        QCOMPARE(capture->lines().size(), written ? 1 : 0);
        QCOMPARE(evaluated, written ? 1 : 0);
    }
    void levelTexts_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("ok");
        QTest::newRow("trace") << "TRACE 2016" << int(VqLog::Trace) << true;
        QTest::newRow("info") << "INFO  2016" << int(VqLog::Info) << true;
        QTest::newRow("warn") << "WARN  2016-03-14T09:26:53.589" << int(VqLog::Warn) << true;
        QTest::newRow("fatal") << "FATAL" << int(VqLog::Fatal) << true;
        QTest::newRow("warning") << "WARNING x" << int(VqLog::Off) << false;
        QTest::newRow("lower case") << "error" << int(VqLog::Off) << false;
    }
    void levelTexts()
    {
        QFETCH(QString, line);
        QFETCH(int, level);
        QFETCH(bool, ok);
        bool parsed = !ok;
        QCOMPARE(int(VqLog::levelFromText(line, &parsed)), level);
        QCOMPARE(parsed, ok);
        if (ok)
            QVERIFY(line.startsWith(QLatin1String(VqLog::levelToText(VqLog::Level(level)))));
        QCOMPARE(QByteArray(VqLog::levelToText(VqLog::Off)), QByteArray());
    }
    void twoThreadsKeepLinesWholeAndInOrder()
    {
        setUpLogger(VqLog::Info);
        QSharedPointer<CaptureDestination> second(new CaptureDestination);
        VqLog::Logger::instance().addDestination(second);
        const int perThread = 2000;
        auto writer = [perThread](const QString &who) {
            for (int i = 0; i < perThread; ++i)
                LOG_INFO << "thread" << who << "line" << i << QString(40, QLatin1Char('x'));
        };
        std::thread a(writer, QStringLiteral("a"));
        std::thread b(writer, QStringLiteral("b"));
        a.join();
        b.join();

        const QStringList first = capture->lines();
        QCOMPARE(first.size(), 2 * perThread);
        QCOMPARE(second->lines(), first);
        const QRegularExpression whole(QStringLiteral("^INFO  \\S+ thread \"[ab]\" line \\d+ \"x{40}\" $"));
        for (const QString &line : first)
            QVERIFY2(whole.match(line).hasMatch(), qPrintable(line));
    }
    void functorDestination()
    {
        setUpLogger(VqLog::Trace);
        functionLines.clear();
        LineReceiver receiver;
        VqLog::Logger::instance().addDestination(VqLog::createFunctorDestination(collectLine));
        VqLog::Logger::instance().addDestination(
            VqLog::createFunctorDestination(&receiver, SLOT(take(QString, int))));

        LOG_TRACE << "trace line";
        LOG_INFO << "info line";

        QCOMPARE(functionLines.size(), 2);
        QVERIFY(functionLines.at(0).endsWith(QLatin1String("trace line ")));
        VqLog::FunctorDestination cast(nullptr);
        QVERIFY(qobject_cast<VqLog::Destination *>(&cast) != nullptr);
        QTRY_COMPARE(receiver.received.size(), 1);
        QVERIFY(receiver.received.first().endsWith(QLatin1String("info line ")));
        QCoreApplication::processEvents();
        QCOMPARE(receiver.received.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
