#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTimer>

// A client line longer than this without a line end goes to the device as it is.
constexpr int maxClientLineBytes = 64 * 1024;

// Cuts what one client sent into whole lines, each ending in LF (CR LF included); the rest waits
// in partial. A rest that outgrows maxClientLineBytes comes out as it is, so nothing is lost.
QList<QByteArray> cutClientLines(QByteArray &partial, const QByteArray &received);

// Request and reply for clients that expect the answers to their own commands only: one client
// line at a time goes to the device, and what the device sends until it has been quiet for
// quietMs (or for timeoutMs without any answer) goes back to that client alone. Device lines
// that arrive while no line is in flight go to every client.
class ReplyRouter : public QObject
{
    Q_OBJECT

public:
    ReplyRouter(int quietMs, int timeoutMs, QObject *parent = nullptr);

    void clientData(quint64 client, const QByteArray &bytes);
    void clientLeft(quint64 client);
    void deviceData(const QByteArray &lines);

signals:
    void toDevice(QByteArray line);
    void toClient(quint64 client, QByteArray lines);
    void toAllClients(QByteArray lines);

private:
    void sendNext();
    void replyComplete();

    const int quietMs;
    const int timeoutMs;
    QHash<quint64, QByteArray> partialLines;
    QList<QPair<quint64, QByteArray>> waiting;
    bool lineInFlight = false;
    quint64 inFlightClient = 0;
    bool inFlightClientGone = false;
    // Runs only while a line is in flight, so an idle router costs nothing.
    QTimer replyTimer;
};
