#pragma once

#include <QtGlobal>

namespace Platform {

// Closes a socket descriptor that no socket object has adopted.
void closeSocketDescriptor(qintptr descriptor);

}
