#include "platform/osname.h"
#include "ui/localaddresses.h"

#include <QTest>

// Pure checks: none of these addresses reaches a socket.
class TestLocalAddresses : public QObject
{
    Q_OBJECT

private slots:
    void filter_data()
    {
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QString>("shown");
        QTest::newRow("none") << QStringList{} << "";
        QTest::newRow("only link-local") << QStringList{"169.254.10.20"} << "";
        QTest::newRow("IPv6 left out") << QStringList{"::1", "fe80::1", "127.0.0.1"} << "127.0.0.1";
        QTest::newRow("six of eight, link-local dropped")
            << QStringList{"127.0.0.1", "169.254.1.1", "198.51.100.1", "198.51.100.2", "203.0.113.3",
                           "203.0.113.4", "203.0.113.5", "203.0.113.6"}
            << "127.0.0.1, 198.51.100.1, 198.51.100.2, 203.0.113.3, 203.0.113.4, 203.0.113.5";
        QTest::newRow("next to link-local") << QStringList{"169.253.255.255", "169.255.0.1"}
                                            << "169.253.255.255, 169.255.0.1";
    }

    void filter()
    {
        QFETCH(QStringList, addresses);
        QFETCH(QString, shown);
        QList<QHostAddress> list;
        for (const QString &text : addresses)
            list.append(QHostAddress(text));
        QCOMPARE(localAddressList(list), shown);
    }

    void windowsVersionNames_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("name");
        QTest::newRow("XP") << 0x0030 << "Windows XP";
        QTest::newRow("7") << 0x0090 << "Windows 7";
        QTest::newRow("8.1") << 0x00b0 << "Windows 8.1";
        QTest::newRow("10") << 0x00c0 << "Windows 10";
        QTest::newRow("newer") << 0x00d0 << "Unknown Windows operating system.";
    }

    void windowsVersionNames()
    {
        QFETCH(int, value);
        QFETCH(QString, name);
        QCOMPARE(Platform::windowsVersionName(value), name);
    }
};

QTEST_GUILESS_MAIN(TestLocalAddresses)
#include "tst_localaddresses.moc"
