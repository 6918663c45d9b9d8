#include "gateway/clientallowlist.h"
#include "gateway/deviceaddress.h"
#include "gateway/device/deviceframing.h"
#include "tests/testsupport.h"

// The device link's address checks and framing, and the allowed clients; no address here
// reaches a socket.
class TestTcpClientService : public QObject
{
    Q_OBJECT

private slots:
    // E: empty or bad port, I: invalid, else the address as the link would use it. Only read
    // here: nothing is connected to.
    void checkAddress()
    {
        const QStringList cases{"192.168.1.140:0 E",
                                "192.168.1.140:65536 E",
                                "192.168.1.140:75036 E",
                                ":10500 E",
                                "...:10500 E",
                                "192.168.1:10500 I",
                                "192.168.1.1.1:10500 I",
                                "192.168.1.256:10500 I",
                                "192.168.1.99999999999:10500 I",
                                "000.000.000.000:10500 I",
                                "192.168.1.140:1 192.168.1.140",
                                "192.168.1.255:65535 192.168.1.255",
                                "010.000.000.001:10500 10.0.0.1",
                                "192.168.1.:10500 192.168.1.0",
                                "127.0.0.1x:10500 I",
                                "127.0.0.-1:10500 I",
                                "127.0.a.1:10500 I",
                                "127.0.0. 1:10500 I",
                                "127.0.0.1:20500:10500 I",
                                "[0:0::1]:10600 ::1",
                                "[::]:10600 I",
                                "localhost:10600 localhost",
                                "meter-2.Lab:5025 meter-2.Lab",
                                "3com.example:5025 3com.example",
                                "-meter.lab:5025 I",
                                "meter_1.lab:5025 I",
                                "meter..lab:5025 I",
                                "example.42:5025 I",
                                QString(64, 'a') + ".lab:5025 I"};
        QStringList results;
        for (const QString &c : cases) {
            const QString address = c.section(QLatin1Char(' '), 0, -2);
            QString written;
            const DeviceAddressCheck check
                    = checkDeviceAddress(address.section(QLatin1Char(':'), 0, -2),
                                         address.section(QLatin1Char(':'), -1).toUInt(), &written);
            results.append(address + ' '
                           + (check == DeviceAddressCheck::EmptyOrBadPort    ? "E"
                                      : check == DeviceAddressCheck::Invalid ? "I"
                                                                             : written));
            QVERIFY(written.isEmpty() || check == DeviceAddressCheck::Valid);
        }
        QCOMPARE(results, cases);
    }
    // "list | client -> served": an empty list serves everyone, IPv4 clients that arrive as
    // IPv6 are matched as IPv4, and a list with a bad entry serves nobody.
    void allowList()
    {
        const QString lab = QStringLiteral("127.0.0.1, 192.0.2.0/24 ::1 | ");
        const QStringList cases{
                " | 203.0.113.7 -> yes", lab + "192.0.2.99 -> yes",
                lab + "::ffff:192.0.2.99 -> yes", lab + "192.0.3.1 -> no", lab + "::1 -> yes",
                lab + "::2 -> no", "192.0.2.1 | 192.0.2.2 -> no", "bogus, ::1 | ::1 -> bad",
                "192.0.2.0/33 | 192.0.2.1 -> bad", "::/0 | 192.0.2.1 -> no", "::/0 | ::1 -> yes",
                "::ffff:192.0.2.0/120 | 192.0.2.7 -> yes",
                // Full addresses only: shorthand is malformed and serves nobody.
                "192.0.2.1, /0 | 203.0.113.7 -> bad", "/8 | 0.0.0.1 -> bad",
                "10 | 10.0.0.10 -> bad", "192.168.1 | 192.168.1.1 -> bad",
                "192.168.1. | 192.168.1.1 -> bad", "127.1 | 127.0.0.1 -> bad",
                "0x7f.0.0.1 | 127.0.0.1 -> bad", "192.0.2.0/+24 | 192.0.2.1 -> bad",
                "192.0.2.0/255.255.255.0 | 192.0.2.1 -> bad", ", | 192.0.2.1 -> bad",
                "010.0.0.1 | 10.0.0.1 -> yes", "192.0.2.9/24 | 192.0.2.1 -> yes",
                "0.0.0.0/0 | 203.0.113.7 -> yes"};
        for (const QString &c : cases) {
            ClientAllowList list;
            const bool parsed = ClientAllowList::parse(c.section(" | ", 0, 0), &list);
            const bool served
                    = list.allows(QHostAddress(c.section(" | ", 1).section(" -> ", 0, 0)));
            QCOMPARE(c.section(" -> ", 0, 0) + " -> "
                             + (!parsed          ? "bad"
                                        : served ? "yes"
                                                 : "no"),
                     c);
            QVERIFY(parsed || !served);
        }
        // A refused address is logged once a minute at most.
        RefusalLog log;
        const QHostAddress one(QStringLiteral("192.0.2.1")), other(QStringLiteral("192.0.2.2"));
        QCOMPARE(QVector<bool>({log.shouldLog(one, 0), log.shouldLog(one, 59999),
                                log.shouldLog(other, 100), log.shouldLog(one, 60000)}),
                 QVector<bool>({true, false, true, true}));
    }
    // "line end: read | read ... -> what each read emits | ... -> what stays -> overflows", # for
    // the most bytes kept without a line end, ~ for a NUL byte.
    void frame_data()
    {
        QTest::addColumn<QString>("row");
        for (const char *row :
             {"CRLF: A\r | \nB ->  | A\r\n -> B -> 0",
              "CRLF: one\r\ntwo\r\nthree\r\nfo -> one\r\ntwo\r\nthree\r\n -> fo -> 0",
              "CRLF: A\nB\r ->  -> A\nB\r -> 0", "CRLF: # ->  -> # -> 0",
              "CRLF: # | y | still the same line | END\r\nOK\r\n ->  |  |  | OK\r\n ->  -> 1",
              "CRLF: #y | z\r\nne | w\r\n ->  |  | new\r\n ->  -> 1",
              "CRLF: a\r\n#r -> a\r\n -> #r -> 0",
              "CRLF: #\r | \nA\r\n#y | z\r | \nB\r\n ->  | A\r\n |  | B\r\n ->  -> 2",
              "CRLF: ~\x80\xff\xc3\xa4\r\n -> ~\x80\xff\xc3\xa4\r\n ->  -> 0",
              "LF: A\r\nB\n | C -> A\r\nB\n |  -> C -> 0"})
            QTest::newRow(QByteArray(row).replace('\r', "\\r").replace('\n', "\\n"))
                    << QString::fromLatin1(row);
    }
    void frame()
    {
        QFETCH(QString, row);
        const auto bytes = [](const QString &field) {
            return field.toLatin1()
                    .replace('#', QByteArray(maxUnframedBytes, 'x'))
                    .replace('~', '\0');
        };
        const QStringList reads = row.section(" -> ", 0, 0).section(": ", 1).split(" | "),
                          emitted = row.section(" -> ", 1, 1).split(" | ");
        DeviceInputBuffer buffer;
        int overflows = 0;
        for (int i = 0; i < reads.size(); ++i) {
            const FramedInput input = frameDeviceInput(buffer, bytes(reads.at(i)),
                                                       row.startsWith("LF") ? DeviceLineEnd::Lf
                                                                            : DeviceLineEnd::CrLf);
            QCOMPARE(input.lines, bytes(emitted.at(i)));
            overflows += input.overflowed ? 1 : 0;
        }
        QCOMPARE(buffer.pending, bytes(row.section(" -> ", 2, 2)));
        QCOMPARE(overflows, row.section(" -> ", 3).toInt());
    }
};

QTEST_GUILESS_MAIN(TestTcpClientService)
#include "tst_tcpclientservice.moc"
