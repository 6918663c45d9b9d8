#include "gateway/clientallowlist.h"

#include "gateway/deviceaddress.h"
#include "gateway/listenendpoint.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace {

// An IPv4 address that arrives as an IPv4-mapped IPv6 one (::ffff:a.b.c.d) is that IPv4
// address; every other IPv6 address, :: and ::1 included, stays as it is.
bool isMappedIPv4(const QHostAddress &address)
{
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 0; i < 10; ++i)
        if (bytes[i] != 0)
            return false;
    return bytes[10] == 0xff && bytes[11] == 0xff;
}

}

QHostAddress unmappedAddress(const QHostAddress &address)
{
    if (!isMappedIPv4(address))
        return address;
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    return QHostAddress(quint32(bytes[12]) << 24 | quint32(bytes[13]) << 16
                        | quint32(bytes[14]) << 8 | quint32(bytes[15]));
}

QString clientEndpoint(const QHostAddress &address, quint16 port)
{
    const QHostAddress unmapped = unmappedAddress(address);
    return (unmapped.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]:%2")
                                                                 : QStringLiteral("%1:%2"))
            .arg(unmapped.toString())
            .arg(port);
}

namespace {

constexpr qint64 refusalLogIntervalMs = 60 * 1000;
constexpr int refusalLogEntries = 256;

}

bool ClientAllowList::parse(const QString &text, ClientAllowList *list, QString *badEntry)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    ClientAllowList parsed;
    const QStringList entries = text.split(separators, Qt::SkipEmptyParts);
    // Separators alone say nothing: no list, rather than everyone.
    if (entries.isEmpty() && !text.trimmed().isEmpty()) {
        if (badEntry)
            *badEntry = text.trimmed();
        *list = nobody();
        return false;
    }
    for (const QString &entry : entries) {
        // A full address, or a full address and a prefix length in decimal digits: never
        // QHostAddress::parseSubnet's shorthand, where "10" is 10.0.0.0/8 and "/0" everyone.
        const int slash = entry.indexOf(QLatin1Char('/'));
        const QString prefix = slash < 0 ? QString() : entry.mid(slash + 1);
        QHostAddress address;
        const bool valid = parseIpAddress(slash < 0 ? entry : entry.left(slash), &address)
                && (slash < 0 || (isDecimalNumber(prefix) && prefix.size() <= 3));
        const int bits = address.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32;
        QPair<QHostAddress, int> network(address, slash < 0 ? bits : prefix.toInt());
        if (!valid || network.second > bits) {
            if (badEntry)
                *badEntry = entry;
            *list = nobody();
            return false;
        }
        // A network of mapped addresses, ::ffff:0:0/96 and within, is that IPv4 network.
        if (isMappedIPv4(network.first) && network.second >= 96)
            network = qMakePair(unmappedAddress(network.first), network.second - 96);
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
    const QHostAddress client = unmappedAddress(address);
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
