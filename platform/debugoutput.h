#pragma once

#include <QByteArray>

class QString;

namespace Platform {

// Hands one line to the platform's debug channel: the debugger on Windows, the standard error
// stream elsewhere, followed by a line end. Never waits for a reader: false when the channel
// could not take the line at once, which is then lost to this channel only.
// utf8 is the same line in UTF-8 with its line end, when the caller has it already.
bool writeDebugOutputLine(const QString &line, const QByteArray &utf8 = QByteArray());

// True when the standard error stream goes straight to the systemd journal: JOURNAL_STREAM
// names it ("DEVICE:INODE"). A stream redirected elsewhere by the service keeps the name of the
// one it replaced, so only the stream itself tells.
bool standardErrorIsJournal();

}
