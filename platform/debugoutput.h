#pragma once

class QString;

namespace Platform {

// Hands text to the platform's debug channel: the debugger on Windows, the standard error
// stream elsewhere. Nothing is added to the text.
void writeDebugOutput(const QString &text);

}
