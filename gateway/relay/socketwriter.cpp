#include "gateway/relay/socketwriter.h"

#include "platform/socketdescriptor.h"

#include <QDeadlineTimer>

namespace {

constexpr int smallPieceBytes = 4096;

}

SocketWriter::SocketWriter(qint64 highMark, State initial, std::function<void()> wakeOwner,
                           Kind kind)
    : highMark(highMark)
    , wakeOwner(std::move(wakeOwner))
    , kind(kind)
    , state(initial)
{
}

SocketWriter::~SocketWriter()
{
    close();
}

bool SocketWriter::open(qintptr connectedDescriptor)
{
    const qintptr copy = Platform::duplicateSocket(connectedDescriptor);
    std::lock_guard<std::mutex> lock(mutex);
    if (copy < 0 || state == State::Closed) {
        Platform::closeSocketDescriptor(copy);
        return false;
    }
    socket = copy;
    state = State::Open;
    failed = false;
    return true;
}

void SocketWriter::close()
{
    reopen(State::Closed);
}

void SocketWriter::reopen(State newState)
{
    std::lock_guard<std::mutex> lock(mutex);
    Platform::closeSocketDescriptor(socket);
    socket = -1;
    state = newState;
    dropWaiting();
}

void SocketWriter::abandon()
{
    std::lock_guard<std::mutex> lock(mutex);
    state = State::Closed;
    dropWaiting();
}

void SocketWriter::dropWaiting()
{
    waiting.clear();
    frontSent = 0;
    waitingBytes = 0;
}

QString SocketWriter::failureText() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return failure;
}

qintptr SocketWriter::descriptor() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return socket;
}

bool SocketWriter::sendFront()
{
    const QByteArray &front = waiting.first();
    qint64 sent = 0;
    const auto send = kind == Kind::Socket ? Platform::sendSome : Platform::writeSome;
    const Platform::SendResult result = send(socket, front.constData() + frontSent,
                                             front.size() - frontSent, &sent, &failure);
    if (result == Platform::SendResult::Failed) {
        failed = true;
        dropWaiting();
        return false;
    }
    sentBytes.fetch_add(quint64(sent), std::memory_order_relaxed);
    waitingBytes.fetch_sub(sent, std::memory_order_relaxed);
    frontSent += sent;
    if (frontSent < front.size())
        return false;
    waiting.removeFirst();
    frontSent = 0;
    return true;
}

qint64 SocketWriter::sendWaiting()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (state != State::Open)
        return 0;
    const quint64 sentBefore = sentBytes;
    while (!waiting.isEmpty() && sendFront()) { }
    return qint64(sentBytes - sentBefore);
}

void SocketWriter::flush(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (backlog() > 0 && !hasFailed() && !deadline.hasExpired()) {
        const qintptr copy = descriptor();
        if (copy < 0 || !Platform::waitUntilWritable(copy, int(deadline.remainingTime())))
            return;
        sendWaiting();
    }
}

bool SocketWriter::write(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return true;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (state == State::Closed || state == State::Connecting || failed)
            return false;
        const bool wasEmpty = waiting.isEmpty();
        const bool wasOverMark = waitingBytes > highMark;
        // Small pieces join the one before them: a queue entry costs more than a short line.
        // Large ones are kept as they are, shared with the other clients they go to.
        if (!wasEmpty && waiting.last().size() < smallPieceBytes && bytes.size() < smallPieceBytes)
            waiting.last().append(bytes);
        else
            waiting.append(bytes);
        waitingBytes += bytes.size();
        if (wasEmpty && state == State::Open) {
            // Nothing waits before these bytes: they go at once, and only what the socket
            // cannot take stays for the owner.
            sendFront();
        }
        wake = (wasEmpty && !waiting.isEmpty()) || failed
                || (!wasOverMark && waitingBytes > highMark);
    }
    if (wake && wakeOwner)
        wakeOwner();
    return true;
}
