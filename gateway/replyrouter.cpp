#include "gateway/replyrouter.h"

#include "VqLog/vqlog.h"

QList<QByteArray> cutClientLines(QByteArray &partial, const QByteArray &received)
{
    partial += received;
    QList<QByteArray> lines;
    int start = 0;
    for (int end = partial.indexOf('\n'); end >= 0; end = partial.indexOf('\n', start)) {
        lines.append(partial.mid(start, end + 1 - start));
        start = end + 1;
    }
    partial.remove(0, start);
    if (partial.size() > maxClientLineBytes) {
        lines.append(partial);
        partial.clear();
    }
    return lines;
}

ReplyRouter::ReplyRouter(int quietMs, int timeoutMs, QObject *parent)
    : QObject(parent)
    , quietMs(quietMs)
    , timeoutMs(timeoutMs)
    , replyTimer(this)
{
    replyTimer.setSingleShot(true);
    replyTimer.setTimerType(Qt::PreciseTimer);
    connect(&replyTimer, &QTimer::timeout, this, &ReplyRouter::replyComplete);
}

void ReplyRouter::clientData(quint64 client, const QByteArray &bytes)
{
    for (const QByteArray &line : cutClientLines(partialLines[client], bytes))
        waiting.append({client, line});
    sendNext();
}

void ReplyRouter::clientLeft(quint64 client)
{
    // A half line of a client that left still goes, as it would without routing.
    const QByteArray rest = partialLines.take(client);
    if (!rest.isEmpty())
        waiting.append({client, rest});
    if (lineInFlight && inFlightClient == client && !inFlightClientGone) {
        inFlightClientGone = true;
        LOG_INFO << "Client left before its reply was complete: the rest of the reply is dropped";
    }
    sendNext();
}

void ReplyRouter::deviceData(const QByteArray &lines)
{
    if (!lineInFlight) {
        emit toAllClients(lines);
        return;
    }
    if (!inFlightClientGone)
        emit toClient(inFlightClient, lines);
    replyTimer.start(quietMs);
}

void ReplyRouter::sendNext()
{
    if (lineInFlight || waiting.isEmpty())
        return;
    const QPair<quint64, QByteArray> next = waiting.takeFirst();
    lineInFlight = true;
    inFlightClient = next.first;
    // The reply to a line of a client that already left reaches nobody.
    inFlightClientGone = false;
    replyTimer.start(timeoutMs);
    emit toDevice(next.second);
}

void ReplyRouter::replyComplete()
{
    lineInFlight = false;
    sendNext();
}
