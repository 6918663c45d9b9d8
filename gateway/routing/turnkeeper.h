#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <array>
#include <atomic>
#include <functional>

// How clients share the device: turns, locks, both or neither.
struct SharingRules
{
    // A client's turn lasts until it has sent nothing for holdMs after its last line went, or its
    // last reply ended; 0 for no turns. However busy it is, it ends after holdMaxMs when another
    // client waits.
    int holdMs = 0;
    int holdMaxMs = 5000;
    // Whole client lines that ask for the device alone and give it back; empty for no locks.
    QByteArray lockLine;
    QByteArray unlockLine;
    // A lock ends after this long without a byte from its client.
    int lockIdleMs = 10000;
    // Replies are routed: a turn past holdMaxMs is cut right after one of its replies, where a
    // controller's sequence is most likely between a reading and the next setting, and only
    // after twice as long anywhere.
    bool replies = false;

    bool enabled() const { return holdMs > 0 || !lockLine.isEmpty(); }
};

// How long lines waited for their turn or a lock: a histogram readable from any thread.
class WaitHistogram
{
public:
    static constexpr std::array<int, 8> boundsMs{1, 5, 10, 50, 100, 500, 1000, 5000};
    void add(qint64 ms);
    // Per bound, the number of waits up to it (not cumulative); the last one counts the rest.
    std::array<quint64, boundsMs.size() + 1> counts() const;
    quint64 sumMs() const { return sum.load(std::memory_order_relaxed); }

private:
    std::array<std::atomic<quint64>, boundsMs.size() + 1> buckets{};
    std::atomic<quint64> sum{0};
};

// Who may send to the device next. A client whose line goes while nobody holds the device gets a
// turn; a client whose lock line comes up holds the device until it unlocks. Meanwhile the
// other clients' lines wait; when the device is free again, the client that has waited longest
// goes next. Lives in the router's thread; its counters and holder are readable from any.
class TurnKeeper : public QObject
{
    Q_OBJECT

public:
    enum Hold { Free, Turn, Lock };

    explicit TurnKeeper(const SharingRules &rules, QObject *parent = nullptr);

    // The client whose line may go next, of the clients with lines waiting, in the order they
    // began to wait; 0 when none of them may go yet. A turn past holdMaxMs ends here when another
    // client waits: *cut names its client, whose lines wait from now on behind the others'.
    quint64 next(const QList<quint64> &waiting, quint64 *cut);
    // One of the client's lines went to the device, and whether a reply to it is awaited.
    void lineWent(quint64 client, bool awaitsReply);
    void replyEnded(quint64 client);
    // Bytes came from the client: a lock it holds is not idle.
    void clientActive(quint64 client);
    void clientLeft(quint64 client);
    // The client's lock line came up: the device is the client's alone from now on.
    void lock(quint64 client);
    // False when the client held no lock.
    bool unlock(quint64 client);
    // Runs, before a turn ends for its silence, what may have come from the holder in time but
    // not been handed over yet.
    void setCatchUp(std::function<void()> work) { catchUp = std::move(work); }
    // A line that waited for a turn or a lock went after this long.
    void waited(qint64 ms) { waits.add(ms); }

    const SharingRules &rules() const { return sharing; }
    // Any thread.
    quint64 holder() const { return holderNow.load(std::memory_order_relaxed); }
    Hold hold() const { return Hold(holdNow.load(std::memory_order_relaxed)); }
    qint64 holdingSinceMs() const { return sinceMs.load(std::memory_order_relaxed); }
    quint64 turns() const { return turnCount.load(std::memory_order_relaxed); }
    quint64 lockGrants() const { return grantCount.load(std::memory_order_relaxed); }
    quint64 lockExpiries() const { return expiryCount.load(std::memory_order_relaxed); }
    const WaitHistogram &waitTimes() const { return waits; }

signals:
    // The device may have become free for another client.
    void freed();

private:
    void take(quint64 client, Hold kind);
    void release();
    qint64 heldMs() const { return held.elapsed(); }

    const SharingRules sharing;
    QTimer holdTimer; // the turn's silence
    QTimer maxTimer; // the turn's length
    QTimer idleTimer; // the lock's silence
    bool overdue = false; // the turn is past holdMaxMs
    bool forced = false; // the turn is past twice holdMaxMs
    bool afterReply = false; // the holder's last line has been answered
    bool replyPending = false; // the holder waits for a reply: its lock is not idle
    quint64 holderActivity = 0; // bytes that came from the holder
    std::function<void()> catchUp;
    QElapsedTimer held;
    WaitHistogram waits;
    std::atomic<quint64> holderNow{0};
    std::atomic<int> holdNow{Free};
    std::atomic<qint64> sinceMs{0};
    std::atomic<quint64> turnCount{0};
    std::atomic<quint64> grantCount{0};
    std::atomic<quint64> expiryCount{0};
};
