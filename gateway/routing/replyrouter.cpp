#include "gateway/routing/replyrouter.h"

#include "VqLog/vqlog.h"
#include "gateway/relay/flowcontrol.h"

#include <algorithm>

QList<QByteArray> cutClientLines(QByteArray &partial, const QByteArray &received)
{
    partial += received;
    QList<QByteArray> pieces;
    const int end = partial.lastIndexOf('\n') + 1;
    if (end > 0) {
        pieces.append(partial.left(end));
        partial.remove(0, end);
    }
    if (partial.size() > maxClientLineBytes) {
        pieces.append(partial);
        partial.clear();
    }
    return pieces;
}

QByteArray WaitingLines::takeNext(bool untilQuery)
{
    int end = bytes.indexOf('\n', taken);
    if (untilQuery) {
        // The lines without '?' go together; a line with '?' goes alone, as it waits for its reply.
        const int query = bytes.indexOf('?', taken);
        const int queryLineStart = query < 0 ? -1 : bytes.lastIndexOf('\n', query) + 1;
        end = query < 0                  ? bytes.size() - 1
                : queryLineStart > taken ? queryLineStart - 1
                                         : bytes.indexOf('\n', query);
    }
    end = end < 0 ? bytes.size() : end + 1;
    const QByteArray next = bytes.mid(taken, end - taken);
    taken = end;
    return next;
}

namespace {

SharingRules withReplies(SharingRules sharing, bool replies)
{
    sharing.replies = replies;
    return sharing;
}

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

ReplyRouter::ReplyRouter(const ReplyRule &rule, const SharingRules &sharing,
                         const QByteArray &lockReply, const QByteArray &unlockReply,
                         QObject *parent)
    : QObject(parent)
    , rule(rule)
    , lockReply(lockReply)
    , unlockReply(unlockReply)
    , keeper(withReplies(sharing, rule.kind != ReplyRule::None), this)
    , replyTimer(this)
{
    connect(&keeper, &TurnKeeper::freed, this, &ReplyRouter::sendNext);
    replyTimer.setSingleShot(true);
    replyTimer.setTimerType(Qt::PreciseTimer);
    connect(&replyTimer, &QTimer::timeout, this, &ReplyRouter::timedOut);
}

void ReplyRouter::clientJoined(quint64 client)
{
    partialLines.insert(client, QByteArray());
}

void ReplyRouter::queue(quint64 client, const QByteArray &lines)
{
    const SharingRules &sharing = keeper.rules();
    if (sharing.lockLine.isEmpty() || !lines.endsWith('\n')) {
        queuePiece(client, lines, WaitingLines::Lines);
        return;
    }
    // A lock or unlock line waits apart, between the lines before and after it.
    int start = 0;
    for (int from = 0; from < lines.size();) {
        const int end = lines.indexOf('\n', from) + 1;
        const QByteArray text = withoutLineEnd(lines.mid(from, end - from));
        const WaitingLines::Kind kind = text == sharing.lockLine ? WaitingLines::Lock
                : text == sharing.unlockLine && !text.isEmpty()  ? WaitingLines::Unlock
                                                                 : WaitingLines::Lines;
        if (kind != WaitingLines::Lines) {
            if (from > start)
                queuePiece(client, lines.mid(start, from - start), WaitingLines::Lines);
            queuePiece(client, lines.mid(from, end - from), kind);
            start = end;
        }
        from = end;
    }
    if (start < lines.size())
        queuePiece(client, lines.mid(start), WaitingLines::Lines);
}

void ReplyRouter::queuePiece(quint64 client, const QByteArray &lines, WaitingLines::Kind kind)
{
    waitingLines += lines.count('\n');
    // Whole lines join those of the same client before them; a piece without a line end stays
    // apart, so that it is never read as part of a line.
    if (kind == WaitingLines::Lines && lines.endsWith('\n') && !waiting.isEmpty()
        && waiting.last().client == client && waiting.last().isWholeLines()) {
        waiting.last().bytes += lines;
        held += lines.size();
        return;
    }
    waiting.append({client, lines, 0, kind, keeper.rules().enabled() ? monotonicMs() : 0});
    held += lines.size() + queuedPieceOverheadBytes;
}

QPair<quint64, QByteArray> ReplyRouter::takeNext(int index, bool untilQuery)
{
    WaitingLines &first = waiting[index];
    if (first.taken == 0 && keeper.rules().enabled())
        keeper.waited(monotonicMs() - first.queuedMs);
    // Without replies to wait for, the lines go together.
    const QPair<quint64, QByteArray> next{
            first.client,
            rule.kind == ReplyRule::None
                    ? first.bytes.mid(std::exchange(first.taken, int(first.bytes.size())))
                    : first.takeNext(untilQuery)};
    held -= next.second.size();
    waitingLines -= next.second.count('\n');
    if (first.taken == first.bytes.size()) {
        waiting.removeAt(index);
        held -= queuedPieceOverheadBytes;
    }
    return next;
}

void ReplyRouter::clientData(quint64 client, const QByteArray &bytes)
{
    const auto partial = partialLines.find(client);
    // What arrives after the client left goes nowhere, so that no half line stays behind.
    if (partial == partialLines.end())
        return;
    keeper.clientActive(client);
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
    keeper.clientLeft(client);
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
    if (rule.events.pattern().isEmpty()) {
        readReply(lines);
        return;
    }
    // An event goes to everyone at once; the lines around it are read as if it were not there.
    int start = 0;
    for (int from = 0; from < lines.size();) {
        int end = lines.indexOf('\n', from);
        end = end < 0 ? lines.size() : end + 1;
        const QByteArray line = lines.mid(from, end - from);
        if (rule.events.match(lineText(withoutLineEnd(line))).hasMatch()) {
            if (from > start)
                readReply(lines.mid(start, from - start));
            ++events;
            emit toAllClients(line);
            start = end;
        }
        from = end;
    }
    if (start < lines.size())
        readReply(start == 0 ? lines : lines.mid(start));
}

void ReplyRouter::readReply(const QByteArray &lines)
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
    // A reply that trickles in, a byte at a time, has begun and is still coming: the device is
    // not quiet.
    if (lineInFlight && rule.kind == ReplyRule::Quiet) {
        replyStarted = true;
        replyTimer.start(rule.quietMs);
    }
}

void ReplyRouter::deviceLinkChanged(bool up)
{
    deviceUp = up;
    if (!up && lineInFlight) {
        replyTimer.stop();
        lineInFlight = false;
        inFlightLine.clear();
        keeper.replyEnded(inFlightClient);
    }
    sendNext();
}

void ReplyRouter::sendNext()
{
    while (!lineInFlight && !waiting.isEmpty()) {
        // While the device link is down, lines go at once, to be dropped, whoever holds it.
        const int index = deviceUp && keeper.rules().enabled() ? chooseNext() : 0;
        if (index < 0)
            break;
        if (waiting.at(index).kind != WaitingLines::Lines) {
            answerLock(index);
            continue;
        }
        // A line without '?' gets no reply from an instrument: the next one follows at once, and
        // so, while the device link is down, does every line.
        const QPair<quint64, QByteArray> next
                = takeNext(index, rule.kind == ReplyRule::Query || !deviceUp);
        const bool awaitsReply = deviceUp && rule.kind != ReplyRule::None
                && (rule.kind != ReplyRule::Query || next.second.contains('?'));
        // A client that left takes no turn: it would keep the others waiting for nothing.
        if (deviceUp && partialLines.contains(next.first))
            keeper.lineWent(next.first, awaitsReply);
        if (!awaitsReply) {
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
    publishHolderWaiting();
}

void ReplyRouter::publishHolderWaiting()
{
    const quint64 holder = lockHolder();
    qint64 bytes = holder != 0 ? partialLines.value(holder).size() : 0;
    if (holder != 0)
        for (const WaitingLines &lines : std::as_const(waiting))
            if (lines.client == holder)
                bytes += lines.bytes.size() - lines.taken + queuedPieceOverheadBytes;
    holderWaiting.store(bytes, std::memory_order_relaxed);
}

int ReplyRouter::chooseNext()
{
    QList<quint64> clients;
    for (const WaitingLines &lines : std::as_const(waiting))
        if (!clients.contains(lines.client))
            clients.append(lines.client);
    quint64 cut = 0;
    const quint64 chosen = keeper.next(clients, &cut);
    // The lines of a client whose turn was cut short wait behind those of the others.
    if (cut != 0)
        std::stable_partition(waiting.begin(), waiting.end(),
                              [cut](const WaitingLines &lines) { return lines.client != cut; });
    for (int index = 0; index < waiting.size(); ++index)
        if (waiting.at(index).client == chosen)
            return index;
    return -1;
}

void ReplyRouter::answerLock(int index)
{
    const WaitingLines lines = waiting.takeAt(index);
    held -= lines.bytes.size() + queuedPieceOverheadBytes;
    --waitingLines;
    // A client that left is granted nothing.
    if (!partialLines.contains(lines.client))
        return;
    if (lines.kind == WaitingLines::Lock)
        keeper.lock(lines.client);
    else
        keeper.unlock(lines.client);
    emit answered(lines.client, lines.kind == WaitingLines::Lock ? lockReply : unlockReply);
}

bool ReplyRouter::owes(quint64 client) const
{
    return (lineInFlight && inFlightClient == client)
            || std::any_of(waiting.begin(), waiting.end(),
                           [client](const WaitingLines &lines) { return lines.client == client; });
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
    // Whole lines first, in their order; pieces without a line end last, so that none of them
    // joins a line of another client at the device.
    for (bool whole : {true, false})
        for (const WaitingLines &lines : std::as_const(waiting))
            if (lines.kind == WaitingLines::Lines && lines.isWholeLines() == whole)
                emit toDevice(lines.client, lines.bytes.mid(lines.taken));
    waiting.clear();
    held = 0;
    waitingLines = 0;
    for (const QByteArray &partial : std::as_const(partialLines))
        held += partial.size();
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
    keeper.replyEnded(inFlightClient);
    sendNext();
}
