#include "gateway/relay/threadinbox.h"

#include <QAbstractEventDispatcher>

ThreadInbox::ThreadInbox(QObject *parent)
    : QObject(parent)
    , dispatcher(QAbstractEventDispatcher::instance())
{
    connect(dispatcher, &QAbstractEventDispatcher::awake, this, &ThreadInbox::runPosted,
            Qt::DirectConnection);
}

void ThreadInbox::post(std::function<void()> work)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        posted.push_back(std::move(work));
    }
    hasWork = true;
    dispatcher->wakeUp();
}

void ThreadInbox::runPosted()
{
    // Most wake-ups bring no work: they cost no lock.
    if (!hasWork.exchange(false))
        return;
    std::vector<std::function<void()>> work;
    {
        std::lock_guard<std::mutex> lock(mutex);
        work.swap(posted);
    }
    for (const std::function<void()> &each : work)
        each();
}
