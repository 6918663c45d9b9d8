#pragma once

class QString;

namespace VqLog {

// The logging component reports its own failures here, never through the logger, whose mutex
// is held while a destination works: the text in the local 8-bit encoding, without a line end.
void reportToStderr(const QString &text);

}
