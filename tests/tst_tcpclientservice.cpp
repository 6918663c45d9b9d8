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

// The device link's address checks and framing; no address here reaches a socket.
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
                                "192.168.1.:10500 192.168.1.0"};
        QStringList results;
        for (const QString &c : cases) {
            const QString address = c.section(QLatin1Char(' '), 0, 0);
            QString written;
            const DeviceAddressCheck check
                    = checkDeviceAddress(address.section(QLatin1Char(':'), 0, 0),
                                         address.section(QLatin1Char(':'), 1).toUInt(), &written);
            results.append(address + ' '
                           + (check == DeviceAddressCheck::EmptyOrBadPort    ? "E"
                                      : check == DeviceAddressCheck::Invalid ? "I"
                                                                             : written));
            QVERIFY(written.isEmpty() || check == DeviceAddressCheck::Valid);
        }
        QCOMPARE(results, cases);
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
