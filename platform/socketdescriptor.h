#pragma once

#include <QHostAddress>
#include <QString>
#include <QtGlobal>

namespace Platform {

// Closes a socket descriptor that no socket object has adopted.
void closeSocketDescriptor(qintptr descriptor);
// Makes the coming close of a connected socket reset the connection at once, dropping what the
// peer has not taken yet, instead of the system trying to deliver it for minutes.
void resetOnClose(qintptr descriptor);
// The address and port of the peer of a connected socket; a null address when it cannot be read.
QHostAddress peerAddress(qintptr descriptor, quint16 *port = nullptr);

// True when the process can still open this many descriptors: Qt ends the program when a new
// thread cannot make its event loop's, so a thread is started only with room to spare.
bool descriptorsLeft(int count);
// Takes a connection that waits on a listening socket: its descriptor, or -1 when none waits or it
// could not be taken, with outOfDescriptors saying whether the process had none left for it.
qintptr acceptConnection(qintptr listener, bool *outOfDescriptors);
// Takes the connection that waits first on a listening socket and closes it at once, for when it
// could not be taken otherwise; its peer, or a null address when none was waiting.
QHostAddress refuseWaitingConnection(qintptr listener);

// Shuts down every TCP socket of this process on this local port, listening or connected, so that
// whatever waits on one of them wakes at once: for a server whose own threads would look whether
// they are to stop only after seconds of waiting.
void shutDownSocketsOnPort(quint16 port);

// A second descriptor for the same connection, in non-blocking mode, that stays valid until it
// is closed with closeSocketDescriptor whatever happens to the first; -1 when none can be made.
qintptr duplicateSocket(qintptr descriptor);

enum class SendResult {
    Sent, // all or some of the bytes left; the count says how many
    Full, // the socket takes nothing now; try again once it is writable
    Failed // the connection is gone
};
// Sends without waiting and without a signal for a peer that went away; when the connection
// failed, error says why, as receiveSome does.
SendResult sendSome(qintptr descriptor, const char *data, qint64 size, qint64 *sent,
                    QString *error = nullptr);
// The same for a descriptor that is no socket, such as a serial port's.
SendResult writeSome(qintptr descriptor, const char *data, qint64 size, qint64 *sent,
                     QString *error = nullptr);
// How a connection reset by its peer reads in the log, as Qt's sockets report it, and one that
// the system gave up because the peer took nothing or answered nothing for too long.
QString peerResetText();
QString timedOutText();
enum class ReceiveResult {
    Received, // some bytes arrived; the count says how many
    Nothing, // nothing waits now
    End, // the peer ended its sending side; nothing more will come
    Failed // the connection is gone
};
// Receives without waiting; when the connection failed, error says why, as the system does.
ReceiveResult receiveSome(qintptr descriptor, char *data, qint64 size, qint64 *received,
                          QString *error = nullptr);
// A connected socket that never blocks and sends small writes at once.
void prepareConnectedSocket(qintptr descriptor);
// Acknowledges what arrived on a connected socket at once rather than up to 40 ms later: a peer
// that leaves Nagle's algorithm on sends its next small write only once the last one is
// acknowledged. Linux forgets the choice as the connection goes on, so it is made again after
// each read; elsewhere it does nothing.
void acknowledgeAtOnce(qintptr descriptor);

// True once a connection is gone altogether: reset by the peer, or given up by keep-alive. A
// peer that has only ended its sending side is still there.
bool connectionGone(qintptr descriptor);

// Waits up to timeoutMs for the socket to take bytes again; false when it did not.
bool waitUntilWritable(qintptr descriptor, int timeoutMs);

}
