#pragma once

#include <QByteArray>
#include <QString>

// The relay carries bytes inside QString: each byte is one character from 0 to 255 and back, so
// NUL and bytes above 127 pass unchanged in both directions.
QString textFromBytes(const QByteArray &bytes);
QByteArray bytesFromText(const QString &text);
