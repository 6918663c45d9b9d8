#include "gateway/clientallowlist.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace {

QHostAddress unmapped(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4) : address;
}

constexpr qint64 refusalLogIntervalMs = 60 * 1000;
constexpr int refusalLogEntries = 256;

}

bool ClientAllowList::parse(const QString &text, ClientAllowList *list, QString *badEntry)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    ClientAllowList parsed;
    for (const QString &entry : text.split(separators, Qt::SkipEmptyParts)) {
        QPair<QHostAddress, int> network = QHostAddress::parseSubnet(entry);
        if (network.first.isNull() && !entry.contains(QLatin1Char('/')))
            network = qMakePair(
                    QHostAddress(entry),
                    QHostAddress(entry).protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32);
        if (network.first.isNull()) {
            if (badEntry)
                *badEntry = entry;
            *list = nobody();
            return false;
        }
        network.first = unmapped(network.first);
        if (network.first.protocol() == QAbstractSocket::IPv4Protocol)
            network.second = qMin(network.second, 32);
        parsed.networks.append(network);
        parsed.everyone = false;
    }
    *list = parsed;
    return true;
}

ClientAllowList ClientAllowList::nobody()
{
    ClientAllowList list;
    list.everyone = false;
    return list;
}

bool ClientAllowList::allows(const QHostAddress &address) const
{
    if (everyone)
        return true;
    const QHostAddress client = unmapped(address);
    return std::any_of(networks.begin(), networks.end(),
                       [&client](const QPair<QHostAddress, int> &network) {
                           return client.isInSubnet(network);
                       });
}

bool RefusalLog::shouldLog(const QHostAddress &address, qint64 nowMs)
{
    const auto stale = [nowMs](const QPair<QHostAddress, qint64> &entry) {
        return nowMs - entry.second >= refusalLogIntervalMs;
    };
    lastLogged.erase(std::remove_if(lastLogged.begin(), lastLogged.end(), stale), lastLogged.end());
    const auto known = std::find_if(lastLogged.begin(), lastLogged.end(),
                                    [&address](const QPair<QHostAddress, qint64> &entry) {
                                        return entry.first == address;
                                    });
    if (known != lastLogged.end())
        return false;
    // Beyond this many addresses in a minute, the rest of the minute's refusals go unlogged.
    if (lastLogged.size() >= refusalLogEntries)
        return false;
    lastLogged.append(qMakePair(address, nowMs));
    return true;
}
