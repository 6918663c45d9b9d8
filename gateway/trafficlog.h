#pragma once

#include <QByteArray>
#include <QString>

// Appends the traffic log's message for bytes relayed in one direction ("[DEVICE] - " or
// "[CLIENT] - ") to line: each byte read as one character, CR and LF shown as [CR] and [LF], and
// the whole quoted and escaped exactly as a logged text value is. Made in one pass over the bytes.
void appendTrafficLogMessage(QString &line, const char *direction, const QByteArray &bytes);
