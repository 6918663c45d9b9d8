#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

class QAbstractEventDispatcher;

// Work handed to the thread an object lives in, from any thread: kept in order under a lock of
// its own and run by that thread's event loop as soon as it wakes. Unlike a queued call, every
// hand-over goes through that lock, which the thread sanitizer can see.
class ThreadInbox : public QObject
{
    Q_OBJECT

public:
    // Made in the thread that is to run the work.
    explicit ThreadInbox(QObject *parent = nullptr);

    // Any thread.
    void post(std::function<void()> work);
    // The owner's thread: runs what waits now, for an owner that stops without its event loop.
    void runPosted();

private:
    QAbstractEventDispatcher *const dispatcher;
    std::mutex mutex;
    std::vector<std::function<void()>> posted;
    std::atomic<bool> hasWork{false};
};
