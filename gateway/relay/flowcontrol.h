#pragma once

#include <QtGlobal>

// What one peer may have waiting in the gateway. Above the high mark the gateway stops reading
// from the other side until the backlog is below the low mark again; TCP then slows the sender
// down, and nothing is lost or reordered.
constexpr qint64 backlogHighBytes = 1024 * 1024;
constexpr qint64 backlogLowBytes = 256 * 1024;
// A client above the high mark that takes no byte for this long is disconnected, so that it
// cannot hold the others back.
constexpr int stalledClientTimeoutMs = 5000;
// Nobody waits for an observer: one that falls this far behind is disconnected at once.
constexpr qint64 observerBacklogLimitBytes = 1024 * 1024;
// A client that ended its sending side (a command piped into a one-shot tool) still receives
// until it closes, or until this long after its last bytes reached the device.
constexpr int halfClosedReplyWaitMs = 2000;
// A peer that ended its sending side is read no more, so a reset or a keep-alive that gives it
// up is noticed only when the gateway looks: this often for an observer, and for a client while
// it waits for its replies (a client that closed altogether resets at the next reply).
constexpr int halfClosedObserverCheckMs = 5000;
constexpr int halfClosedClientCheckMs = 100;
// What one queued piece of bytes costs beyond the bytes (its queue entry and its allocations):
// counted with them, so that a flood of tiny lines cannot take more memory than the marks allow.
constexpr qint64 queuedPieceOverheadBytes = 128;
// What the socket layer keeps of a peer's bytes while the gateway is not reading them.
constexpr qint64 socketReadBufferBytes = 64 * 1024;

// Dead peers: probes after 30 s of silence, every 10 s, and the peer is given up after 3
// unanswered ones, or when sent data stays unacknowledged as long.
constexpr int keepAliveIdleSeconds = 30;
constexpr int keepAliveIntervalSeconds = 10;
constexpr int keepAliveProbes = 3;
constexpr int peerSilenceLimitSeconds
        = keepAliveIdleSeconds + keepAliveIntervalSeconds * keepAliveProbes;

// A monotonic clock in milliseconds, comparable across threads.
qint64 monotonicMs();
