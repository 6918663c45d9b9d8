#include "gateway/statustext.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>

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
    text += QStringLiteral("\nFlow control: device held %1 times, clients held %2 times, stalled "
                           "clients dropped %3\n")
                    .arg(number(flow.value(QStringLiteral("deviceHolds"))),
                         number(flow.value(QStringLiteral("clientHolds"))),
                         number(flow.value(QStringLiteral("stalledClientsDropped"))));
    return text;
}
