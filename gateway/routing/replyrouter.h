#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>

#include "gateway/routing/turnkeeper.h"

#include <atomic>

// A client line longer than this without a line end goes to the device as it is.
constexpr int maxClientLineBytes = 64 * 1024;

// Cuts what one client sent after its whole lines, each ending in LF (CR LF included): they come
// out together, first; the rest waits in partial. A rest that outgrows maxClientLineBytes comes
// out as it is, second, so nothing is lost.
QList<QByteArray> cutClientLines(QByteArray &partial, const QByteArray &received);

// Lines of one client that wait in arrival order: whole lines one after the other, or one piece
// without a line end. Kept together, a flood of tiny lines costs about its bytes.
struct WaitingLines
{
    // A lock or unlock line is for the gateway, never for the device.
    enum Kind { Lines, Lock, Unlock };

    quint64 client = 0;
    QByteArray bytes;
    int taken = 0; // bytes already passed on
    Kind kind = Lines;
    qint64 queuedMs = 0; // monotonic

    bool isWholeLines() const { return kind == Lines && bytes.endsWith('\n'); }
    // The next line, or, with a rule that lets lines without '?' go at once, every line before
    // the next one with '?' and that one alone after them.
    QByteArray takeNext(bool untilQuery);
};

// How the router knows that the device's reply to a line is complete.
struct ReplyRule
{
    enum Kind {
        Quiet, // the device has been quiet for quietMs after at least one line
        Query, // a line with '?' gets exactly one reply line, any other line none
        Pattern, // the reply ends with the first line that matches pattern
        None // no reply is waited for: the device's lines go to every client
    };
    Kind kind = Quiet;
    int quietMs = 50;
    // No reply is waited for longer than this.
    int timeoutMs = 500;
    QRegularExpression pattern;
    // Device lines that match go to every client and are never part of a reply; empty for none.
    QRegularExpression events;
};

// Request and reply for clients that expect the answers to their own commands only: one client
// line at a time goes to the device, and the device's reply goes back to that client alone.
// Device lines that arrive while no line is in flight go to every client. Lines wait, too, while
// another client holds the device, as the turn keeper says.
class ReplyRouter : public QObject
{
    Q_OBJECT

public:
    // lockReply and unlockReply are whole lines, with the device's line end.
    explicit ReplyRouter(const ReplyRule &rule, const SharingRules &sharing = {},
                         const QByteArray &lockReply = {}, const QByteArray &unlockReply = {},
                         QObject *parent = nullptr);

    // A client's data is routed only between its joining and its leaving.
    void clientJoined(quint64 client);
    void clientData(quint64 client, const QByteArray &bytes);
    // The client will send nothing more: its half line goes as it is.
    void clientInputEnded(quint64 client);
    void clientLeft(quint64 client);
    void deviceData(const QByteArray &lines);
    // The device sent bytes of a line whose end has not come yet.
    void devicePartialLine();
    // While the device link is down, lines go on at once, to be dropped, and no reply is waited
    // for; a reply waited for when it goes down will not come.
    void deviceLinkChanged(bool up);
    // The gateway stops: every line that waits goes to the device now, without its reply.
    void sendAllWaiting();
    // Any thread: the bytes waiting here for the device, half lines included, and what each
    // waiting line costs beyond its bytes.
    qint64 heldBytes() const { return held.load(std::memory_order_relaxed); }
    // Any thread: the client that holds the lock (0 for none), and the bytes of its own that
    // wait here.
    quint64 lockHolder() const { return keeper.hold() == TurnKeeper::Lock ? keeper.holder() : 0; }
    qint64 lockHolderWaitingBytes() const { return holderWaiting.load(std::memory_order_relaxed); }
    // Any thread.
    qint64 linesWaiting() const { return waitingLines.load(std::memory_order_relaxed); }
    quint64 eventLines() const { return events.load(std::memory_order_relaxed); }
    const TurnKeeper &turnKeeper() const { return keeper; }
    void setCatchUp(std::function<void()> work) { keeper.setCatchUp(std::move(work)); }

signals:
    void toDevice(quint64 client, QByteArray line);
    void toClient(quint64 client, QByteArray lines);
    void toAllClients(QByteArray lines);
    // The gateway's own answer to a client's lock or unlock line.
    void answered(quint64 client, QByteArray line);
    void replyTimedOut();
    // Nothing more is owed to a client that ended its sending side: it may go at once.
    void clientSettled(quint64 client);

private:
    void queue(quint64 client, const QByteArray &lines);
    void queuePiece(quint64 client, const QByteArray &lines, WaitingLines::Kind kind);
    QPair<quint64, QByteArray> takeNext(int index, bool untilQuery);
    // The index of the waiting lines that may go next, -1 for none.
    int chooseNext();
    void answerLock(int index);
    void readReply(const QByteArray &lines);
    void sendHalfLine(quint64 client);
    bool owes(quint64 client) const;
    void settleEnded();
    void publishHolderWaiting();
    void sendNext();
    void replyComplete();
    void timedOut();
    void toInFlightClient(const QByteArray &lines);
    bool endsReply(const QByteArray &line) const;

    const ReplyRule rule;
    const QByteArray lockReply;
    const QByteArray unlockReply;
    TurnKeeper keeper;
    QHash<quint64, QByteArray> partialLines; // of the clients that joined and did not leave
    QList<WaitingLines> waiting;
    QSet<quint64> ended; // clients whose input ended, while something is owed to them
    std::atomic<qint64> held{0};
    std::atomic<qint64> holderWaiting{0};
    std::atomic<qint64> waitingLines{0};
    std::atomic<quint64> events{0};
    bool lineInFlight = false;
    bool deviceUp = true;
    quint64 inFlightClient = 0;
    QByteArray inFlightLine;
    bool inFlightClientGone = false;
    bool replyStarted = false;
    // Runs only while a line is in flight, so an idle router costs nothing.
    QTimer replyTimer;
};
