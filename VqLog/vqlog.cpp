#include "VqLog/vqlog.h"

#include <QDateTime>

#include <atomic>
#include <exception>
#include <mutex>
#include <vector>

namespace VqLog {

namespace {

const QString timestampFormat = QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz");
const char *const levelTexts[] = {"TRACE", "DEBUG", "INFO ", "WARN ", "ERROR", "FATAL", ""};

std::atomic<Logger *> theLogger{nullptr};

}

const char *levelToText(Level level)
{
    if (level < Trace || level > Off) {
        Q_ASSERT_X(false, "VqLog::levelToText", "bad log level");
        return levelTexts[Info];
    }
    return levelTexts[level];
}

Level levelFromText(const QString &line, bool *ok)
{
    if (ok)
        *ok = true;
    for (int level = Trace; level < Off; ++level) {
        if (line.startsWith(QLatin1String(levelTexts[level])))
            return Level(level);
    }
    if (ok)
        *ok = false;
    return Off;
}

QString linePrefix(Level level, int messageSize)
{
    const QString time = QDateTime::currentDateTime().toString(timestampFormat);
    QString line;
    line.reserve(8 + time.size() + messageSize);
    line.append(QLatin1String(levelToText(level))).append(QLatin1Char(' '));
    return line.append(time).append(QLatin1Char(' '));
}

QString formatLine(Level level, const QString &message)
{
    // Appended rather than substituted, so that a %1 in the message stays as it is.
    return linePrefix(level, message.size()).append(message);
}

QByteArray journalLine(Level level, const QString &line)
{
    // Syslog's numbers: 2 critical, 3 error, 4 warning, 6 informational, 7 debug.
    static const char priorities[] = "7764326";
    const QByteArray priority = QByteArray("<") + priorities[qBound(0, int(level), int(Off))] + '>';
    const QString levelText = QLatin1String(levelToText(level));
    const int timeEnd = levelText.size() + 1 + timestampFormat.size();
    QString text = line;
    if (line.startsWith(levelText) && line.size() > timeEnd && line.at(timeEnd) == QLatin1Char(' ')
        && line.at(levelText.size() + 11) == QLatin1Char('T'))
        text = levelText.trimmed() + line.mid(timeEnd);
    return priority + text.toUtf8().replace('\n', "\n" + priority) + '\n';
}

Destination::~Destination() = default;

struct Logger::Private
{
    std::mutex mutex;
    // Read by every statement in every thread, written from the GUI thread: atomic so that
    // the plain load and store stay free of data races.
    std::atomic<int> level{Info};
    std::vector<DestinationPtr> destinations;
};

Logger::Logger()
    : d(new Private)
{
    d->destinations.reserve(2);
}

Logger::~Logger() = default;

Logger &Logger::instance()
{
    Logger *logger = theLogger.load(std::memory_order_acquire);
    if (logger)
        return *logger;
    auto *created = new Logger;
    if (theLogger.compare_exchange_strong(logger, created, std::memory_order_acq_rel))
        return *created;
    delete created;
    return *logger;
}

void Logger::destroyInstance()
{
    delete theLogger.exchange(nullptr);
}

void Logger::setLoggingLevel(Level level)
{
    d->level.store(level, std::memory_order_relaxed);
}

Level Logger::loggingLevel() const
{
    return Level(d->level.load(std::memory_order_relaxed));
}

void Logger::addDestination(DestinationPtr destination)
{
    Q_ASSERT_X(destination.data(), "VqLog::Logger::addDestination", "destination.data()");
    d->destinations.push_back(std::move(destination));
}

void Logger::write(const QString &message, Level level)
{
    // Converted once, outside the lock, for the destinations that write bytes.
    QByteArray utf8 = message.toUtf8();
    utf8.append('\n');
    std::lock_guard<std::mutex> lock(d->mutex);
    for (const DestinationPtr &destination : d->destinations)
        destination->writeUtf8(message, utf8, level);
}

Logger::Helper::Helper(Level level)
    : level(level)
    , qtDebug(&buffer)
{
}

Logger::Helper::~Helper() noexcept(false)
{
    try {
        Logger::instance().write(formatLine(level, buffer), level);
    } catch (const std::exception &) {
        Q_ASSERT_X(false, "VqLog::Logger::Helper", "exception in logger helper destructor");
        throw;
    }
}

}
