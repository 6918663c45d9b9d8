#include "gateway/deviceaddress.h"

#include <QTest>

Q_DECLARE_METATYPE(DeviceAddressCheck)

// Pure checks: none of these addresses ever reaches a socket.
class TestDeviceAddress : public QObject
{
    Q_OBJECT

private slots:
    void check_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<uint>("port");
        QTest::addColumn<DeviceAddressCheck>("result");
        QTest::addColumn<QString>("normalised");

        const auto bad = DeviceAddressCheck::EmptyOrBadPort;
        const auto invalid = DeviceAddressCheck::Invalid;
        const auto valid = DeviceAddressCheck::Valid;
        QTest::newRow("port 10499") << "192.168.1.140" << 10499u << bad << "";
        QTest::newRow("port 0") << "192.168.1.140" << 0u << bad << "";
        QTest::newRow("port 65536") << "192.168.1.140" << 65536u << bad << "";
        QTest::newRow("port 75036 (low bits 9500)") << "192.168.1.140" << 75036u << bad << "";
        QTest::newRow("empty address") << "" << 10500u << bad << "";
        QTest::newRow("empty masked field") << "..." << 10500u << bad << "";
        QTest::newRow("three parts") << "192.168.1" << 10500u << invalid << "";
        QTest::newRow("five parts") << "192.168.1.1.1" << 10500u << invalid << "";
        QTest::newRow("part above 255") << "192.168.1.300" << 10500u << invalid << "";
        QTest::newRow("part beyond 32 bits") << "192.168.1.99999999999" << 10500u << invalid << "";
        QTest::newRow("all zero") << "0.0.0.0" << 10500u << invalid << "";
        QTest::newRow("all zero with leading zeros") << "000.000.000.000" << 10500u << invalid << "";
        QTest::newRow("port 10500") << "192.168.1.140" << 10500u << valid << "192.168.1.140";
        QTest::newRow("port 65535") << "192.168.1.140" << 65535u << valid << "192.168.1.140";
        QTest::newRow("leading zeros") << "010.000.000.001" << 10500u << valid << "10.0.0.1";
        QTest::newRow("masked leading zeros") << "192.168.001.010" << 10500u << valid << "192.168.1.10";
        QTest::newRow("empty last part") << "192.168.1." << 10500u << valid << "192.168.1.0";
        QTest::newRow("loopback") << "127.000.000.001" << 10500u << valid << "127.0.0.1";
    }

    void check()
    {
        QFETCH(QString, address);
        QFETCH(uint, port);
        QFETCH(DeviceAddressCheck, result);
        QFETCH(QString, normalised);
        QString written;
        QCOMPARE(checkDeviceAddress(address, port, &written), result);
        QCOMPARE(written, normalised);
    }
};

QTEST_GUILESS_MAIN(TestDeviceAddress)
#include "tst_deviceaddress.moc"
