#pragma once

#include <QtGlobal>

namespace Platform {

// Turns on TCP keep-alive for a connected socket: the first probe after idleSeconds of silence,
// then one every intervalSeconds, and the connection fails after probes unanswered ones.
void enableKeepAlive(qintptr descriptor, int idleSeconds, int intervalSeconds, int probes);

}
