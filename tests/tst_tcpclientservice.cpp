#include "gateway/deviceaddress.h"
#include "gateway/deviceframing.h"
#include "tests/testsupport.h"

#include <QRandomGenerator>

struct AddressCase { const char *name; QString address; uint port; DeviceAddressCheck result; QString normalised; };
Q_DECLARE_METATYPE(AddressCase)

// One entry in emitted per read, empty when nothing is emitted; pending is what stays after the
// last read.
struct FramingCase { const char *name; DeviceLineEnd lineEnd; QList<QByteArray> reads, emitted; QByteArray pending; int overflows; };
Q_DECLARE_METATYPE(FramingCase)

// Pure checks of what the device link does with addresses and with what the device sends: none
// of these addresses ever reaches a socket.
class TestTcpClientService : public QObject
{
    Q_OBJECT

private slots:
    void checkAddress_data()
    {
        const auto bad = DeviceAddressCheck::EmptyOrBadPort, invalid = DeviceAddressCheck::Invalid, valid = DeviceAddressCheck::Valid;
        addRows<AddressCase>({{"port 10499", "192.168.1.140", 10499, bad, ""},
                              {"port 0", "192.168.1.140", 0, bad, ""},
                              {"port 65536", "192.168.1.140", 65536, bad, ""},
                              {"port 75036 (low bits 9500)", "192.168.1.140", 75036, bad, ""},
                              {"empty address", "", 10500, bad, ""},
                              {"empty masked field", "...", 10500, bad, ""},
                              {"three parts", "192.168.1", 10500, invalid, ""},
                              {"five parts", "192.168.1.1.1", 10500, invalid, ""},
                              {"part 256", "192.168.1.256", 10500, invalid, ""},
                              {"part beyond 32 bits", "192.168.1.99999999999", 10500, invalid, ""},
                              {"all zero", "000.000.000.000", 10500, invalid, ""},
                              {"port 10500", "192.168.1.140", 10500, valid, "192.168.1.140"},
                              {"port 65535, part 255", "192.168.1.255", 65535, valid, "192.168.1.255"},
                              {"leading zeros", "010.000.000.001", 10500, valid, "10.0.0.1"},
                              {"empty last part", "192.168.1.", 10500, valid, "192.168.1.0"}});
    }
    void checkAddress()
    {
        QFETCH(AddressCase, row);
        QString written;
        QCOMPARE(checkDeviceAddress(row.address, row.port, &written), row.result);
        QCOMPARE(written, row.normalised);
    }

    void frame_data()
    {
        const auto crlf = DeviceLineEnd::CrLf;
        const QByteArray limit(maxUnframedBytes, 'x'), binary("\x00\x80\xff\xc3\xa4\r\n", 7);
        addRows<FramingCase>({{"CR and LF in two reads", crlf, {"A\r", "\nB"}, {"", "A\r\n"}, "B", 0},
                              {"three lines and a half", crlf, {"one\r\ntwo\r\nthree\r\nfo"}, {"one\r\ntwo\r\nthree\r\n"}, "fo", 0},
                              {"lone LF is no line end", crlf, {"A\nB\r"}, {""}, "A\nB\r", 0},
                              {"limit without line end stays", crlf, {limit}, {""}, limit, 0},
                              {"one byte more drops the line whole", crlf, {limit, "y", "still the same line", "END\r\nOK\r\n"},
                               {"", "", "", "OK\r\n"}, "", 1},
                              {"dropping ends at the line end", crlf, {limit + "y", "z\r\nne"}, {"", ""}, "ne", 1},
                              {"long rest after a line end stays", crlf, {"a\r\n" + limit + "r"}, {"a\r\n"}, limit + "r", 0},
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

    // Wherever the reads split the stream, what is emitted plus what stays buffered is the
    // input, and every emission ends at a line end.
    void randomSplits()
    {
        QRandomGenerator random(11);
        const QByteArray alphabet("ab\r\n\x00\xff", 6);
        for (int round = 0; round < 1000; ++round) {
            const DeviceLineEnd lineEnd = round % 2 ? DeviceLineEnd::Lf : DeviceLineEnd::CrLf;
            QByteArray input, out;
            for (int i = random.bounded(400); i > 0; --i)
                input.append(alphabet.at(random.bounded(alphabet.size())));
            DeviceInputBuffer buffer;
            for (int at = 0; at < input.size();) {
                const int size = 1 + random.bounded(40);
                const FramedInput framed = frameDeviceInput(buffer, input.mid(at, size), lineEnd);
                QVERIFY(framed.lines.isEmpty() || framed.lines.endsWith(lineEnd == DeviceLineEnd::Lf ? "\n" : "\r\n"));
                out += framed.lines;
                at += size;
            }
            QCOMPARE(out + buffer.pending, input);
        }
    }
};

QTEST_GUILESS_MAIN(TestTcpClientService)
#include "tst_tcpclientservice.moc"
