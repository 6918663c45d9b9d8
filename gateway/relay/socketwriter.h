#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <mutex>

// Writes to one TCP connection from any thread. Bytes go to the socket at once when nothing
// waits before them, so a command or a reply costs no wake-up of the thread that owns the
// connection; what the socket cannot take waits here, in order, until the owner sends it as the
// socket drains. Whichever thread writes, the bytes leave in the order of the write calls.
class SocketWriter
{
public:
    enum class State {
        Waiting, // not open yet: bytes wait for the connection
        Connecting, // not open yet: bytes are dropped, as they could not be sent in order
        Open,
        Closed // bytes are dropped
    };

    // What the descriptor is: a socket, or a terminal such as a serial port, which takes write()
    // but not send().
    enum class Kind { Socket, Terminal };

    // wakeOwner is called by a writing thread, without a lock held, when the owner has something
    // to do: bytes started to wait here, the backlog passed highMark, or sending failed.
    SocketWriter(qint64 highMark, State initial, std::function<void()> wakeOwner = {},
                 Kind kind = Kind::Socket);
    ~SocketWriter();
    Q_DISABLE_COPY(SocketWriter)

    // The owner's side. open() writes to a descriptor of its own for the connection, so that the
    // connection outlives the owner's socket object until close(), which drops what waits. The
    // owner's write notifier on that descriptor must be gone or disabled before close().
    bool open(qintptr connectedDescriptor);
    void close();
    void reopen(State state);
    // Any thread: drops what waits, and every later write, but leaves the descriptor to close().
    void abandon();
    qintptr descriptor() const;
    // Sends what waits until the socket is full; returns how many bytes left.
    qint64 sendWaiting();
    // Sends what waits for up to timeoutMs, for a connection about to close.
    void flush(int timeoutMs);

    // Any thread. False when the bytes were dropped because the connection is closed.
    bool write(const QByteArray &bytes);
    qint64 backlog() const { return waitingBytes.load(std::memory_order_relaxed); }
    bool hasFailed() const { return failed.load(std::memory_order_relaxed); }
    // Why sending failed, as the system said it.
    QString failureText() const;
    quint64 bytesSent() const { return sentBytes.load(std::memory_order_relaxed); }

private:
    // With the mutex held: sends what it can of the first entry; true when all of it left.
    bool sendFront();
    // With the mutex held.
    void dropWaiting();

    const qint64 highMark;
    const std::function<void()> wakeOwner;
    const Kind kind;
    mutable std::mutex mutex;
    State state;
    qintptr socket = -1;
    QList<QByteArray> waiting;
    qint64 frontSent = 0; // of waiting.first()
    std::atomic<qint64> waitingBytes{0};
    std::atomic<quint64> sentBytes{0};
    std::atomic<bool> failed{false};
    QString failure; // guarded by mutex
};
