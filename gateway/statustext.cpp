#include "gateway/statustext.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cstdlib>

namespace {

// Rows of cells, each column as wide as its widest cell, two blanks between columns.
QString aligned(const QList<QStringList> &rows)
{
    QList<int> widths;
    for (const QStringList &row : rows)
        for (int column = 0; column < row.size(); ++column) {
            if (widths.size() <= column)
                widths.append(0);
            widths[column] = std::max(widths[column], int(row.at(column).size()));
        }
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (int column = 0; column < row.size(); ++column)
            line += column + 1 < row.size() ? row.at(column).leftJustified(widths[column] + 2)
                                            : row.at(column);
        text += line + QLatin1Char('\n');
    }
    return text;
}

QString number(const QJsonValue &value)
{
    return QString::number(qint64(value.toDouble()));
}

QString when(const QJsonValue &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODate)
            .toLocalTime()
            .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString endpoint(const QJsonObject &object, const QString &addressKey)
{
    const QString address = object.value(addressKey).toString();
    // A device address is shown as the user gave it, an IPv6 one perhaps in brackets already.
    const QString shown = address.isEmpty() ? QStringLiteral("*")
            : address.contains(QLatin1Char(':')) && !address.startsWith(QLatin1Char('['))
            ? QLatin1Char('[') + address + QLatin1Char(']')
            : address;
    return shown + QLatin1Char(':') + number(object.value(QStringLiteral("port")));
}

QString uptime(qint64 seconds)
{
    return QStringLiteral("%1 d %2 h %3 min %4 s")
            .arg(seconds / 86400)
            .arg(seconds / 3600 % 24)
            .arg(seconds / 60 % 60)
            .arg(seconds % 60);
}

}

QString isoDateTime(const QDateTime &time)
{
    // Qt writes a UTC time with "Z" and a local one without any offset.
    const int offsetMinutes = time.offsetFromUtc() / 60;
    return time.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"))
            + QString::asprintf("%c%02d:%02d", offsetMinutes < 0 ? '-' : '+',
                                std::abs(offsetMinutes) / 60, std::abs(offsetMinutes) % 60);
}

QString instanceTable(const QJsonArray &statuses)
{
    QList<QStringList> rows{{QStringLiteral("Instance"), QStringLiteral("Device"),
                             QStringLiteral("State"), QStringLiteral("Clients"),
                             QStringLiteral("Up since")}};
    for (const QJsonValue &value : statuses) {
        const QJsonObject status = value.toObject();
        const QJsonObject device = status.value(QStringLiteral("device")).toObject();
        const QJsonObject server = status.value(QStringLiteral("server")).toObject();
        const QString name = status.value(QStringLiteral("instance")).toString();
        rows.append(
                {name.isEmpty() ? QStringLiteral("default") : name, deviceText(device),
                 device.value(QStringLiteral("state")).toString(),
                 QStringLiteral("%1/%2").arg(number(server.value(QStringLiteral("clients"))),
                                             number(server.value(QStringLiteral("maxClients")))),
                 when(status.value(QStringLiteral("startedAt")))});
    }
    return aligned(rows);
}

QString deviceText(const QJsonObject &device)
{
    const QString serialPort = device.value(QStringLiteral("serialPort")).toString();
    return serialPort.isEmpty() ? endpoint(device, QStringLiteral("address"))
                                : serialPort + QLatin1Char(' ')
                    + device.value(QStringLiteral("serialSettings")).toString();
}

QString deviceUpOrDown(const QJsonObject &device)
{
    return QStringLiteral("%1 since %2, failed attempts since: %3")
            .arg(device.value(QStringLiteral("up")).toBool() ? QStringLiteral("Up")
                                                             : QStringLiteral("Down"),
                 when(device.value(QStringLiteral("upOrDownSince"))),
                 number(device.value(QStringLiteral("failedAttemptsSince"))));
}

QString holderText(const QJsonObject &status)
{
    if (!status.contains(QStringLiteral("sharing")))
        return QString();
    const QJsonObject sharing = status.value(QStringLiteral("sharing")).toObject();
    const QString hold = sharing.value(QStringLiteral("hold")).toString();
    const QString waiting = number(sharing.value(QStringLiteral("linesWaiting")));
    if (hold == QLatin1String("none"))
        return QStringLiteral("Device free, %1 lines waiting").arg(waiting);
    return QStringLiteral("Device held by client %1 (%2) since %3, %4 lines waiting")
            .arg(number(sharing.value(QStringLiteral("holder"))), hold,
                 when(sharing.value(QStringLiteral("since"))), waiting);
}

QString clientTable(const QJsonArray &clients)
{
    QList<QStringList> rows{{QStringLiteral("Client"), QStringLiteral("Address"),
                             QStringLiteral("Connected since"), QStringLiteral("Received"),
                             QStringLiteral("Sent"), QStringLiteral("Waiting")}};
    for (const QJsonValue &value : clients) {
        const QJsonObject client = value.toObject();
        rows.append({number(client.value(QStringLiteral("number"))),
                     endpoint(client, QStringLiteral("address")),
                     when(client.value(QStringLiteral("since"))),
                     number(client.value(QStringLiteral("bytesReceived"))),
                     number(client.value(QStringLiteral("bytesSent"))),
                     number(client.value(QStringLiteral("bytesWaiting")))});
    }
    return aligned(rows);
}

QString statusText(const QJsonObject &status)
{
    const QJsonObject device = status.value(QStringLiteral("device")).toObject();
    const QJsonObject server = status.value(QStringLiteral("server")).toObject();
    const QJsonObject flow = status.value(QStringLiteral("flowControl")).toObject();
    const QString instance = status.value(QStringLiteral("instance")).toString();
    QString text = QStringLiteral("VQ Gateway %1%2, up %3\n\n")
                           .arg(status.value(QStringLiteral("version")).toString(),
                                instance.isEmpty() ? QString()
                                                   : QStringLiteral(", instance ") + instance,
                                uptime(qint64(
                                        status.value(QStringLiteral("uptimeSeconds")).toDouble())));
    QString clients
            = QStringLiteral("%1/%2").arg(number(server.value(QStringLiteral("clients"))),
                                          number(server.value(QStringLiteral("maxClients"))));
    if (server.contains(QStringLiteral("observers")))
        clients += QStringLiteral(", observers %1/%2")
                           .arg(number(server.value(QStringLiteral("observers"))),
                                number(server.value(QStringLiteral("maxClients"))));
    const QString lastError = device.value(QStringLiteral("lastError")).toString();
    text += aligned(
            {{QStringLiteral("Device"), deviceText(device),
              device.value(QStringLiteral("state")).toString(),
              QStringLiteral("since ") + when(device.value(QStringLiteral("since")))},
             {QString(), QStringLiteral("to device"),
              number(device.value(QStringLiteral("bytesToDevice"))) + QStringLiteral(" bytes"),
              QStringLiteral("from device ")
                      + number(device.value(QStringLiteral("bytesFromDevice")))
                      + QStringLiteral(" bytes")},
             {QString(), QStringLiteral("reconnects"),
              number(device.value(QStringLiteral("reconnects"))),
              QStringLiteral("errors ") + number(device.value(QStringLiteral("errors")))
                      + (lastError.isEmpty() ? QString() : QStringLiteral(", last: ") + lastError)},
             {QString(), QStringLiteral("link"),
              device.value(QStringLiteral("up")).toBool() ? QStringLiteral("up")
                                                          : QStringLiteral("down"),
              deviceUpOrDown(device).section(QLatin1Char(' '), 1)},
             {QStringLiteral("Server"), endpoint(server, QStringLiteral("listenAddress")),
              server.value(QStringLiteral("state")).toString(),
              QStringLiteral("since ") + when(server.value(QStringLiteral("since")))},
             {QString(), QStringLiteral("clients"), clients}});
    text += QLatin1Char('\n') + clientTable(status.value(QStringLiteral("clients")).toArray());
    if (status.contains(QStringLiteral("observers")))
        text += QStringLiteral("\nObservers\n")
                + clientTable(status.value(QStringLiteral("observers")).toArray());
    const QString holder = holderText(status);
    if (!holder.isEmpty()) {
        const QJsonObject sharing = status.value(QStringLiteral("sharing")).toObject();
        text += QStringLiteral("\n%1; turns %2, locks %3, lock expiries %4\n")
                        .arg(holder, number(sharing.value(QStringLiteral("turns"))),
                             number(sharing.value(QStringLiteral("lockGrants"))),
                             number(sharing.value(QStringLiteral("lockExpiries"))));
    }
    text += QStringLiteral("\nFlow control: device held %1 times, clients held %2 times, stalled "
                           "clients dropped %3\n")
                    .arg(number(flow.value(QStringLiteral("deviceHolds"))),
                         number(flow.value(QStringLiteral("clientHolds"))),
                         number(flow.value(QStringLiteral("stalledClientsDropped"))));
    return text;
}
