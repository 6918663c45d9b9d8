#pragma once

#include <QtGlobal>

namespace Platform {

// Closes a socket descriptor that no socket object has adopted.
void closeSocketDescriptor(qintptr descriptor);
// Makes the coming close of a connected socket reset the connection at once, dropping what the
// peer has not taken yet, instead of the system trying to deliver it for minutes.
void resetOnClose(qintptr descriptor);

}
