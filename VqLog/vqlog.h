#pragma once

#include <QDebug>
#include <QSharedPointer>
#include <QString>

#include <memory>

namespace VqLog {

// The numbers are the stored form of the "LoggingLevel" setting; a smaller one is more verbose.
enum Level : int { Trace = 0, Debug = 1, Info = 2, Warn = 3, Error = 4, Fatal = 5, Off = 6 };

const char *levelToText(Level level);
Level levelFromText(const QString &line, bool *ok = nullptr);
// A whole log line: the level text, the current time and the message.
QString formatLine(Level level, const QString &message);
// The start of a line at that level, now, for a message to be appended to it in place.
QString linePrefix(Level level, int messageSize = 0);
// A line made by formatLine() as the journal takes it from the standard error stream: its
// priority in front ("<3>" for Error, as syslog numbers them) and no time, since the journal
// stamps every entry itself; each line of a message that spans several carries the priority.
// Ends in a line end.
QByteArray journalLine(Level level, const QString &line);

class Destination
{
public:
    virtual ~Destination();
    // Takes one complete line, without its line end.
    virtual void write(const QString &message, Level level) = 0;
    virtual bool isValid() = 0;
    // The same line, with utf8 its UTF-8 form ending in a line end, made once for every
    // destination; a destination that writes bytes takes them from here.
    virtual void writeUtf8(const QString &message, const QByteArray &utf8, Level level)
    {
        Q_UNUSED(utf8)
        write(message, level);
    }
};

using DestinationPtr = QSharedPointer<Destination>;

class Logger
{
public:
    static Logger &instance();
    static void destroyInstance();

    void setLoggingLevel(Level level);
    Level loggingLevel() const;

    void addDestination(DestinationPtr destination);
    void write(const QString &message, Level level);

    // One per statement: collects the items and writes the line when the statement ends.
    class Helper
    {
    public:
        explicit Helper(Level level);
        ~Helper() noexcept(false);
        QDebug &stream() { return qtDebug; }

    private:
        Level level;
        QString buffer;
        QDebug qtDebug;
    };

private:
    Logger();
    ~Logger();
    Q_DISABLE_COPY(Logger)

    struct Private;
    std::unique_ptr<Private> d;
};

}

// The threshold is tested before anything else, so a suppressed statement evaluates none of
// its items. A loop that runs at most once, unlike an if-else, leaves no else for a following
// one to pair with.
#define VQLOG_STATEMENT(lvl) \
    for (bool vqlogWrite = VqLog::Logger::instance().loggingLevel() <= (lvl); vqlogWrite; \
         vqlogWrite = false) \
    VqLog::Logger::Helper(lvl).stream()

#define LOG_TRACE VQLOG_STATEMENT(VqLog::Trace)
#define LOG_DEBUG VQLOG_STATEMENT(VqLog::Debug)
#define LOG_INFO VQLOG_STATEMENT(VqLog::Info)
#define LOG_WARN VQLOG_STATEMENT(VqLog::Warn)
#define LOG_ERROR VQLOG_STATEMENT(VqLog::Error)
#define LOG_FATAL VQLOG_STATEMENT(VqLog::Fatal)
