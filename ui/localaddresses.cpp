#include "ui/localaddresses.h"

#include <QStringList>

QString localAddressList(const QList<QHostAddress> &addresses)
{
    static const QPair<QHostAddress, int> linkLocal
            = QHostAddress::parseSubnet(QStringLiteral("169.254.0.0/16"));
    QStringList shown;
    for (const QHostAddress &address : addresses) {
        if (shown.size() == maxShownLocalAddresses)
            break;
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isInSubnet(linkLocal))
            shown.append(address.toString());
    }
    return shown.join(QStringLiteral(", "));
}
