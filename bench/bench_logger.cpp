// Prints the cost of a suppressed log statement and of a written, flushed file line.
#include "VqLog/filedestination.h"
#include "VqLog/vqlog.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

int main()
{
    QTemporaryDir dir;
    VqLog::Logger &logger = VqLog::Logger::instance();

    logger.setLoggingLevel(VqLog::Off);
    const int suppressedCount = 20000000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < suppressedCount; ++i)
        LOG_INFO << "suppressed" << QString::number(i);
    const double suppressedNs = double(timer.nsecsElapsed()) / suppressedCount;

    logger.setLoggingLevel(VqLog::Info);
    logger.addDestination(VqLog::createFileDestination(dir.filePath(QStringLiteral("bench.log")),
                                                       VqLog::RotationBySize, 20971520, 0));
    const int writtenCount = 200000;
    timer.restart();
    for (int i = 0; i < writtenCount; ++i)
        LOG_INFO << "[DEVICE] - " << QStringLiteral("OK[CR][LF]") << i;
    const qint64 writtenNs = timer.nsecsElapsed();

    std::printf("suppressed statement: %.2f ns\n", suppressedNs);
    std::printf("written file line:    %.0f ns, %.0f lines/s\n", double(writtenNs) / writtenCount,
                writtenCount * 1e9 / double(writtenNs));
    return 0;
}
