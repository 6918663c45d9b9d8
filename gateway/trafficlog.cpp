#include "gateway/trafficlog.h"

#include <QDebug>

#include <array>
#include <cstring>

namespace {

// How each byte appears inside the quotes: taken from the logger's own quoting of that one
// character, so that the traffic log reads exactly as if the text had been logged as a value.
struct EscapeTable
{
    std::array<QString, 256> escaped;
    std::array<bool, 256> unchanged;

    EscapeTable()
    {
        for (int byte = 0; byte < 256; ++byte) {
            QString quoted;
            QDebug(&quoted) << QString(QChar(byte));
            // QDebug writes "x" followed by a blank.
            escaped[byte] = quoted.mid(1, quoted.size() - 3);
            unchanged[byte] = escaped[byte] == QString(QChar(byte));
        }
        escaped['\r'] = QStringLiteral("[CR]");
        escaped['\n'] = QStringLiteral("[LF]");
        unchanged['\r'] = unchanged['\n'] = false;
    }
};

const EscapeTable &escapeTable()
{
    static const EscapeTable table;
    return table;
}

}

void appendTrafficLogMessage(QString &message, const char *direction, const QByteArray &bytes)
{
    const EscapeTable &table = escapeTable();
    const int directionSize = int(std::strlen(direction));
    message.reserve(message.size() + directionSize + bytes.size() + bytes.size() / 8 + 4);
    message.append(QLatin1String(direction, directionSize));
    message.append(QLatin1String(" \""));
    const char *data = bytes.constData();
    const int size = bytes.size();
    int runStart = 0;
    for (int i = 0; i < size; ++i) {
        const uchar byte = uchar(data[i]);
        if (table.unchanged[byte])
            continue;
        message.append(QLatin1String(data + runStart, i - runStart));
        message.append(table.escaped[byte]);
        runStart = i + 1;
    }
    message.append(QLatin1String(data + runStart, size - runStart));
    message.append(QLatin1String("\" "));
}
