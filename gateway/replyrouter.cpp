#include "gateway/replyrouter.h"

#include "VqLog/vqlog.h"
#include "gateway/flowcontrol.h"

#include <algorithm>

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

namespace {

QByteArray withoutLineEnd(const QByteArray &line)
{
    int size = line.size();
    if (size > 0 && line.at(size - 1) == '\n')
        --size;
    if (size > 0 && line.at(size - 1) == '\r')
        --size;
    return line.left(size);
}

// For the log: the line without its end, at most 40 characters of it.
QString shortened(const QByteArray &line)
{
    const QByteArray text = withoutLineEnd(line);
    const bool cut = text.size() > 40;
    return QString::fromLatin1(text.constData(), cut ? 37 : text.size())
            + QLatin1String(cut ? "..." : "");
}

// A device's text is mostly UTF-8; bytes that are not UTF-8 read one character each, as Latin-1.
QString lineText(const QByteArray &text)
{
    const QString utf8 = QString::fromUtf8(text);
    const QByteArray replacement("\xef\xbf\xbd");
    if (utf8.count(QChar::ReplacementCharacter) == text.count(replacement))
        return utf8;
    return QString::fromLatin1(text.constData(), text.size());
}

}

ReplyRouter::ReplyRouter(const ReplyRule &rule, QObject *parent)
    : QObject(parent)
    , rule(rule)
    , replyTimer(this)
{
    replyTimer.setSingleShot(true);
    replyTimer.setTimerType(Qt::PreciseTimer);
    connect(&replyTimer, &QTimer::timeout, this, &ReplyRouter::timedOut);
}

void ReplyRouter::clientJoined(quint64 client)
{
    partialLines.insert(client, QByteArray());
}

void ReplyRouter::queue(quint64 client, const QByteArray &line)
{
    waiting.append({client, line});
    held += line.size() + queuedPieceOverheadBytes;
}

void ReplyRouter::clientData(quint64 client, const QByteArray &bytes)
{
    const auto partial = partialLines.find(client);
    // What arrives after the client left goes nowhere, so that no half line stays behind.
    if (partial == partialLines.end())
        return;
    held -= partial->size();
    for (const QByteArray &line : cutClientLines(*partial, bytes))
        queue(client, line);
    held += partial->size();
    sendNext();
}

void ReplyRouter::sendHalfLine(quint64 client)
{
    const auto partial = partialLines.find(client);
    if (partial == partialLines.end() || partial->isEmpty())
        return;
    held -= partial->size();
    queue(client, std::exchange(*partial, QByteArray()));
}

void ReplyRouter::clientInputEnded(quint64 client)
{
    if (!partialLines.contains(client))
        return;
    sendHalfLine(client);
    ended.insert(client);
    sendNext();
}

void ReplyRouter::clientLeft(quint64 client)
{
    // A half line of a client that left still goes, as it would without routing.
    sendHalfLine(client);
    partialLines.remove(client);
    ended.remove(client);
    if (lineInFlight && inFlightClient == client && !inFlightClientGone) {
        inFlightClientGone = true;
        LOG_INFO << "Client left before its reply was complete: the rest of the reply is dropped";
    }
    sendNext();
}

bool ReplyRouter::endsReply(const QByteArray &line) const
{
    if (rule.kind != ReplyRule::Pattern)
        return rule.kind == ReplyRule::Query;
    return rule.pattern.match(lineText(withoutLineEnd(line))).hasMatch();
}

void ReplyRouter::toInFlightClient(const QByteArray &lines)
{
    if (!inFlightClientGone)
        emit toClient(inFlightClient, lines);
}

void ReplyRouter::deviceData(const QByteArray &lines)
{
    if (!lineInFlight) {
        emit toAllClients(lines);
        return;
    }
    replyStarted = true;
    if (rule.kind == ReplyRule::Quiet) {
        toInFlightClient(lines);
        replyTimer.start(rule.quietMs);
        return;
    }
    // The reply ends at a line of its own; what follows it in the same read arrived before the
    // next line could be sent, so it belongs to nobody's reply.
    int start = 0;
    while (lineInFlight && start < lines.size()) {
        int end = lines.indexOf('\n', start);
        end = end < 0 ? lines.size() : end + 1;
        const QByteArray line = lines.mid(start, end - start);
        start = end;
        toInFlightClient(line);
        if (endsReply(line))
            lineInFlight = false;
    }
    if (start < lines.size())
        emit toAllClients(lines.mid(start));
    if (!lineInFlight)
        replyComplete();
}

void ReplyRouter::devicePartialLine()
{
    // A reply that trickles in, a byte at a time, is still coming: the device is not quiet.
    if (lineInFlight && replyStarted && rule.kind == ReplyRule::Quiet)
        replyTimer.start(rule.quietMs);
}

void ReplyRouter::deviceLinkChanged(bool up)
{
    deviceUp = up;
    if (!up && lineInFlight) {
        replyTimer.stop();
        lineInFlight = false;
        inFlightLine.clear();
    }
    sendNext();
}

void ReplyRouter::sendNext()
{
    while (!lineInFlight && !waiting.isEmpty()) {
        const QPair<quint64, QByteArray> next = waiting.takeFirst();
        held -= next.second.size() + queuedPieceOverheadBytes;
        // A line without '?' gets no reply from an instrument: the next one follows at once.
        if (!deviceUp || (rule.kind == ReplyRule::Query && !next.second.contains('?'))) {
            emit toDevice(next.first, next.second);
            continue;
        }
        lineInFlight = true;
        replyStarted = false;
        inFlightClient = next.first;
        inFlightLine = next.second;
        // The reply to a line of a client that already left reaches nobody.
        inFlightClientGone = !partialLines.contains(next.first);
        replyTimer.start(rule.timeoutMs);
        emit toDevice(next.first, next.second);
    }
    settleEnded();
}

bool ReplyRouter::owes(quint64 client) const
{
    return (lineInFlight && inFlightClient == client)
            || std::any_of(waiting.begin(), waiting.end(),
                           [client](const QPair<quint64, QByteArray> &line) {
                               return line.first == client;
                           });
}

void ReplyRouter::settleEnded()
{
    for (auto it = ended.begin(); it != ended.end();) {
        if (owes(*it)) {
            ++it;
            continue;
        }
        const quint64 client = *it;
        it = ended.erase(it);
        emit clientSettled(client);
    }
}

void ReplyRouter::sendAllWaiting()
{
    replyTimer.stop();
    while (!waiting.isEmpty()) {
        const QPair<quint64, QByteArray> next = waiting.takeFirst();
        held -= next.second.size() + queuedPieceOverheadBytes;
        emit toDevice(next.first, next.second);
    }
}

void ReplyRouter::timedOut()
{
    // The quiet rule ends every reply this way; a time-out is a reply that never came, or, with
    // the other rules, one that never ended.
    if (rule.kind != ReplyRule::Quiet || !replyStarted) {
        LOG_ERROR << "No complete reply within" << rule.timeoutMs << "ms to client"
                  << inFlightClient << "for" << shortened(inFlightLine);
        emit replyTimedOut();
    }
    replyComplete();
}

void ReplyRouter::replyComplete()
{
    replyTimer.stop();
    lineInFlight = false;
    inFlightLine.clear();
    sendNext();
}
