#include "platform/debugoutput.h"

#include <QByteArray>
#include <QString>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cerrno>
#include <csignal>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#endif

namespace Platform {

#ifndef Q_OS_WIN
namespace {

// Copies lines to the standard error stream from a thread of its own, so that a reader that is
// slow or gone (a full pipe, a stalled journal) never holds up the program. A line is queued
// whole, or left out whole when the queue is full, and the writer thread always writes a line
// to its end: lines never split or run into each other.
class StderrWriter
{
public:
    static StderrWriter &instance()
    {
        // Never destroyed: the thread may be blocked in a write when the program ends.
        static StderrWriter *const writer = new StderrWriter;
        return *writer;
    }

    bool add(QByteArray line)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (queuedBytes + line.size() > maxQueuedBytes)
            return false;
        queuedBytes += line.size();
        lines.push_back(std::move(line));
        wake.notify_one();
        return true;
    }

    // At the end of the program, what is queued gets a moment to go out.
    void drain()
    {
        std::unique_lock<std::mutex> lock(mutex);
        drained.wait_for(lock, std::chrono::seconds(1), [this] { return lines.empty() && !busy; });
    }

private:
    static constexpr qint64 maxQueuedBytes = 1024 * 1024;

    StderrWriter()
    {
        std::thread(&StderrWriter::run, this).detach();
        std::atexit([] { instance().drain(); });
    }

    void run()
    {
        // A reader that went away makes a write fail here rather than end the program.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return !lines.empty(); });
            const QByteArray line = std::move(lines.front());
            lines.pop_front();
            busy = true;
            lock.unlock();
            writeWhole(line);
            lock.lock();
            busy = false;
            queuedBytes -= line.size();
            if (lines.empty())
                drained.notify_all();
        }
    }

    static void writeWhole(const QByteArray &line)
    {
        const char *data = line.constData();
        qint64 left = line.size();
        while (left > 0) {
            const ssize_t written = ::write(STDERR_FILENO, data, size_t(left));
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // A stream someone else made non-blocking: wait for room, as a blocking one would.
                pollfd entry{STDERR_FILENO, POLLOUT, 0};
                ::poll(&entry, 1, -1);
                continue;
            }
            if (written <= 0)
                return;
            data += written;
            left -= written;
        }
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable drained;
    std::deque<QByteArray> lines;
    qint64 queuedBytes = 0;
    bool busy = false;
};

}
#endif

bool writeDebugOutputLine(const QString &line, const QByteArray &utf8)
{
#ifdef Q_OS_WIN
    Q_UNUSED(utf8)
    OutputDebugStringW(reinterpret_cast<const wchar_t *>(line.utf16()));
    OutputDebugStringW(L"\n");
    return true;
#else
    return StderrWriter::instance().add(utf8.isEmpty() ? line.toUtf8() + '\n' : utf8);
#endif
}

bool standardErrorIsJournal()
{
#ifdef Q_OS_WIN
    return false;
#else
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    struct stat status;
    if (stream.isEmpty() || ::fstat(STDERR_FILENO, &status) != 0)
        return false;
    return stream
            == QByteArray::number(quint64(status.st_dev)) + ':'
            + QByteArray::number(quint64(status.st_ino));
#endif
}

}
