#include "gateway/clientallowlist.h"
#include "gateway/deviceaddress.h"
#include "gateway/deviceframing.h"
#include "tests/testsupport.h"

// What each read emits ("" for nothing) and what stays buffered after the last.
struct FramingCase
{
    const char *name;
    DeviceLineEnd lineEnd;
    QList<QByteArray> reads, emitted;
    QByteArray pending;
    int overflows;
};
Q_DECLARE_METATYPE(FramingCase)

// The device link's address checks and framing, and the allowed clients; no address here
// reaches a socket.
class TestTcpClientService : public QObject
{
    Q_OBJECT

private slots:
    // E: empty or bad port, I: invalid, else the address connected to.
    void checkAddress()
    {
        const QStringList cases{"192.168.1.140:10499 E",
                                "192.168.1.140:0 E",
                                "192.168.1.140:65536 E",
                                "192.168.1.140:75036 E",
                                ":10500 E",
                                "...:10500 E",
                                "192.168.1:10500 I",
                                "192.168.1.1.1:10500 I",
                                "192.168.1.256:10500 I",
                                "192.168.1.99999999999:10500 I",
                                "000.000.000.000:10500 I",
                                "192.168.1.140:10500 192.168.1.140",
                                "192.168.1.255:65535 192.168.1.255",
                                "010.000.000.001:10500 10.0.0.1",
                                "192.168.1.:10500 192.168.1.0",
                                "127.0.0.1x:10500 I",
                                "127.0.0.-1:10500 I",
                                "127.0.a.1:10500 I",
                                "127.0.0. 1:10500 I",
                                "127.0.0.1:20500:10500 I"};
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
        const QStringList cases{" | 203.0.113.7 -> yes",
                                lab + "192.0.2.99 -> yes",
                                lab + "::ffff:192.0.2.99 -> yes",
                                lab + "192.0.3.1 -> no",
                                lab + "::1 -> yes",
                                lab + "::2 -> no",
                                "192.0.2.1 | 192.0.2.2 -> no",
                                "bogus, ::1 | ::1 -> bad",
                                "192.0.2.0/33 | 192.0.2.1 -> bad"};
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
    void frame_data()
    {
        const auto crlf = DeviceLineEnd::CrLf;
        const QByteArray limit(maxUnframedBytes, 'x'), binary("\x00\x80\xff\xc3\xa4\r\n", 7);
        addRows<FramingCase>(
                {{"CR and LF in two reads", crlf, {"A\r", "\nB"}, {"", "A\r\n"}, "B", 0},
                 {"three lines and a half",
                  crlf,
                  {"one\r\ntwo\r\nthree\r\nfo"},
                  {"one\r\ntwo\r\nthree\r\n"},
                  "fo",
                  0},
                 {"lone LF is no line end", crlf, {"A\nB\r"}, {""}, "A\nB\r", 0},
                 {"limit without line end stays", crlf, {limit}, {""}, limit, 0},
                 {"one byte more drops the line whole",
                  crlf,
                  {limit, "y", "still the same line", "END\r\nOK\r\n"},
                  {"", "", "", "OK\r\n"},
                  "",
                  1},
                 {"dropping ends at the line end",
                  crlf,
                  {limit + "y", "z\r\nne"},
                  {"", ""},
                  "ne",
                  1},
                 {"long rest after a line end stays",
                  crlf,
                  {"a\r\n" + limit + "r"},
                  {"a\r\n"},
                  limit + "r",
                  0},
                 {"NUL and high bytes unchanged", crlf, {binary}, {binary}, "", 0},
                 {"LF device", DeviceLineEnd::Lf, {"A\r\nB\n", "C"}, {"A\r\nB\n", ""}, "C", 0}});
    }
    void frame()
    {
        QFETCH(FramingCase, row);
        DeviceInputBuffer buffer;
        int overflows = 0;
        for (int i = 0; i < row.reads.size(); ++i) {
            const FramedInput input = frameDeviceInput(buffer, row.reads.at(i), row.lineEnd);
            QCOMPARE(input.lines, row.emitted.at(i));
            overflows += input.overflowed ? 1 : 0;
        }
        QCOMPARE(buffer.pending, row.pending);
        QCOMPARE(overflows, row.overflows);
    }
};

QTEST_GUILESS_MAIN(TestTcpClientService)
#include "tst_tcpclientservice.moc"
