#include "gateway/deviceframing.h"

#include <QRandomGenerator>
#include <QTest>

using Chunks = QList<QByteArray>;
Q_DECLARE_METATYPE(DeviceLineEnd)

class TestDeviceFraming : public QObject
{
    Q_OBJECT

private slots:
    void frame_data()
    {
        QTest::addColumn<DeviceLineEnd>("lineEnd");
        QTest::addColumn<Chunks>("reads");
        QTest::addColumn<Chunks>("emitted");     // one entry per read, empty when nothing is emitted
        QTest::addColumn<QByteArray>("pending"); // left over after the last read
        QTest::addColumn<int>("overflows");
        const auto crlf = DeviceLineEnd::CrLf;
        const QByteArray limit(maxUnframedBytes, 'x');
        QTest::newRow("CR and LF in two reads") << crlf << Chunks{"A\r", "\nB"} << Chunks{"", "A\r\n"} << QByteArray("B") << 0;
        QTest::newRow("three lines and a half") << crlf << Chunks{"one\r\ntwo\r\nthree\r\nfo"} << Chunks{"one\r\ntwo\r\nthree\r\n"} << QByteArray("fo") << 0;
        QTest::newRow("lone LF is no line end") << crlf << Chunks{"A\nB\r"} << Chunks{""} << QByteArray("A\nB\r") << 0;
        QTest::newRow("limit without line end stays") << crlf << Chunks{limit} << Chunks{""} << limit << 0;
        QTest::newRow("one byte more drops the line whole")
            << crlf << Chunks{limit, "y", "still the same line", "END\r\nOK\r\n"} << Chunks{"", "", "", "OK\r\n"} << QByteArray() << 1;
        QTest::newRow("dropping ends at the line end") << crlf << Chunks{limit + "y", "z\r\nne"} << Chunks{"", ""} << QByteArray("ne") << 1;
        QTest::newRow("9000-byte line in 1460-byte pieces")
            << crlf << Chunks{QByteArray(1460, 'a'), QByteArray(1460, 'b'), QByteArray(6080, 'c') + "\r\n"}
            << Chunks{"", "", QByteArray(1460, 'a') + QByteArray(1460, 'b') + QByteArray(6080, 'c') + "\r\n"} << QByteArray() << 0;
        QTest::newRow("long rest after a line end stays") << crlf << Chunks{"a\r\n" + limit + "r"} << Chunks{"a\r\n"} << limit + "r" << 0;
        const QByteArray binary("\x00\x80\xff\xc3\xa4\r\n", 7);
        QTest::newRow("NUL and high bytes unchanged") << crlf << Chunks{binary} << Chunks{binary} << QByteArray() << 0;
        QTest::newRow("LF device") << DeviceLineEnd::Lf << Chunks{"A\r\nB\n", "C"} << Chunks{"A\r\nB\n", ""} << QByteArray("C") << 0;
    }
    void frame()
    {
        QFETCH(DeviceLineEnd, lineEnd);
        QFETCH(Chunks, reads);
        QFETCH(Chunks, emitted);
        QFETCH(QByteArray, pending);
        QFETCH(int, overflows);
        DeviceInputBuffer buffer;
        int overflowCount = 0;
        for (int i = 0; i < reads.size(); ++i) {
            const FramedInput input = frameDeviceInput(buffer, reads.at(i), lineEnd);
            QCOMPARE(input.lines, emitted.at(i));
            overflowCount += input.overflowed ? 1 : 0;
        }
        QCOMPARE(buffer.pending, pending);
        QCOMPARE(overflowCount, overflows);
    }

    // Wherever the reads split the stream, what is emitted plus what stays buffered is the
    // input, and every emission ends at a line end.
    void randomSplits_data()
    {
        QTest::addColumn<DeviceLineEnd>("lineEnd");
        QTest::newRow("CR LF") << DeviceLineEnd::CrLf;
        QTest::newRow("LF") << DeviceLineEnd::Lf;
    }
    void randomSplits()
    {
        QFETCH(DeviceLineEnd, lineEnd);
        QRandomGenerator random(lineEnd == DeviceLineEnd::Lf ? 7 : 11);
        const QByteArray alphabet("ab\r\n\x00\xff", 6);
        for (int round = 0; round < 500; ++round) {
            QByteArray input;
            for (int i = random.bounded(400); i > 0; --i)
                input.append(alphabet.at(random.bounded(alphabet.size())));
            DeviceInputBuffer buffer;
            QByteArray out;
            for (int at = 0; at < input.size();) {
                const int size = 1 + random.bounded(40);
                const FramedInput framed = frameDeviceInput(buffer, input.mid(at, size), lineEnd);
                QVERIFY(framed.lines.isEmpty() || framed.lines.endsWith(lineEnd == DeviceLineEnd::Lf ? "\n" : "\r\n"));
                QVERIFY(!framed.overflowed);
                out += framed.lines;
                at += size;
            }
            QCOMPARE(out + buffer.pending, input);
        }
    }
};

QTEST_GUILESS_MAIN(TestDeviceFraming)
#include "tst_deviceframing.moc"
