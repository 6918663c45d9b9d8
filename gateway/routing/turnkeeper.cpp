#include "gateway/routing/turnkeeper.h"

#include "VqLog/vqlog.h"

#include <QDateTime>

void WaitHistogram::add(qint64 ms)
{
    std::size_t bucket = 0;
    while (bucket < boundsMs.size() && ms > boundsMs[bucket])
        ++bucket;
    buckets[bucket].fetch_add(1, std::memory_order_relaxed);
    sum.fetch_add(quint64(qMax<qint64>(ms, 0)), std::memory_order_relaxed);
}

std::array<quint64, WaitHistogram::boundsMs.size() + 1> WaitHistogram::counts() const
{
    std::array<quint64, boundsMs.size() + 1> now{};
    for (std::size_t bucket = 0; bucket < now.size(); ++bucket)
        now[bucket] = buckets[bucket].load(std::memory_order_relaxed);
    return now;
}

TurnKeeper::TurnKeeper(const SharingRules &rules, QObject *parent)
    : QObject(parent)
    , sharing(rules)
    , holdTimer(this)
    , maxTimer(this)
    , idleTimer(this)
{
    for (QTimer *timer : {&holdTimer, &maxTimer, &idleTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&holdTimer, &QTimer::timeout, this, [this] {
        // The holder's next line may have reached the gateway in time and still be on its way
        // to here: a busy thread sees its timer before the line. Handed over, it keeps the turn.
        const quint64 activity = holderActivity;
        if (catchUp)
            catchUp();
        if (activity != holderActivity || hold() != Turn)
            return;
        release();
        emit freed();
    });
    connect(&maxTimer, &QTimer::timeout, this, [this] {
        // A client alone keeps its turn: it ends only when another one waits.
        forced = overdue || !sharing.replies;
        overdue = true;
        if (!forced)
            maxTimer.start(sharing.holdMaxMs);
        emit freed();
    });
    connect(&idleTimer, &QTimer::timeout, this, [this] {
        LOG_WARN << "Lock of client" << holder() << "expired: nothing from it for"
                 << sharing.lockIdleMs << "ms, held for" << heldMs() << "ms";
        ++expiryCount;
        release();
        emit freed();
    });
}

quint64 TurnKeeper::next(const QList<quint64> &waiting, quint64 *cut)
{
    *cut = 0;
    if (waiting.isEmpty())
        return 0;
    const quint64 holding = holder();
    if (hold() == Free)
        return waiting.first();
    if (hold() == Turn && overdue && (afterReply || forced)) {
        for (const quint64 client : waiting) {
            if (client == holding)
                continue;
            LOG_INFO << "Turn of client" << holding << "ended after" << heldMs()
                     << "ms: other clients wait";
            *cut = holding;
            release();
            return client;
        }
    }
    return waiting.contains(holding) ? holding : 0;
}

void TurnKeeper::take(quint64 client, Hold kind)
{
    holdTimer.stop();
    maxTimer.stop();
    idleTimer.stop();
    overdue = forced = afterReply = replyPending = false;
    holderNow = client;
    holdNow = kind;
    sinceMs = QDateTime::currentMSecsSinceEpoch();
    held.start();
    if (kind == Turn) {
        ++turnCount;
        maxTimer.start(sharing.holdMaxMs);
    } else {
        ++grantCount;
        idleTimer.start(sharing.lockIdleMs);
    }
}

void TurnKeeper::release()
{
    holdTimer.stop();
    maxTimer.stop();
    idleTimer.stop();
    overdue = forced = afterReply = replyPending = false;
    holderNow = 0;
    holdNow = Free;
}

void TurnKeeper::lineWent(quint64 client, bool awaitsReply)
{
    if (hold() == Free && sharing.holdMs > 0)
        take(client, Turn);
    if (hold() == Free || holder() != client)
        return;
    afterReply = false;
    replyPending = awaitsReply;
    // The silence of a turn, and the idleness of a lock, count from the end of the reply.
    QTimer &silence = hold() == Turn ? holdTimer : idleTimer;
    if (awaitsReply)
        silence.stop();
    else
        silence.start(hold() == Turn ? sharing.holdMs : sharing.lockIdleMs);
}

void TurnKeeper::replyEnded(quint64 client)
{
    if (hold() == Free || holder() != client)
        return;
    afterReply = true;
    replyPending = false;
    if (hold() == Turn)
        holdTimer.start(sharing.holdMs);
    else
        idleTimer.start(sharing.lockIdleMs);
}

void TurnKeeper::clientActive(quint64 client)
{
    if (holder() == client)
        ++holderActivity;
    if (hold() == Lock && holder() == client && !replyPending)
        idleTimer.start(sharing.lockIdleMs);
}

void TurnKeeper::clientLeft(quint64 client)
{
    if (holder() != client)
        return;
    if (hold() == Lock)
        LOG_INFO << "Client" << client << "left holding the lock, held for" << heldMs() << "ms";
    release();
}

void TurnKeeper::lock(quint64 client)
{
    if (hold() == Lock && holder() == client) {
        idleTimer.start(sharing.lockIdleMs);
        return;
    }
    take(client, Lock);
}

bool TurnKeeper::unlock(quint64 client)
{
    if (hold() != Lock || holder() != client)
        return false;
    LOG_INFO << "Client" << client << "unlocked the device, held for" << heldMs() << "ms";
    release();
    return true;
}
