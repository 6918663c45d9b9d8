#include "gateway/deviceframing.h"

#include <QTest>

using Chunks = QList<QByteArray>;

class TestDeviceFraming : public QObject
{
    Q_OBJECT

private slots:
    void frame_data()
    {
        QTest::addColumn<Chunks>("reads");
        QTest::addColumn<Chunks>("emitted");     // one entry per read, empty when nothing is emitted
        QTest::addColumn<QByteArray>("pending"); // left over after the last read
        QTest::addColumn<int>("overflows");

        QTest::newRow("CR and LF in two reads") << Chunks{"A\r", "\nB"} << Chunks{"", "A\r\n"} << QByteArray("B") << 0;
        QTest::newRow("three lines and a half") << Chunks{"one\r\ntwo\r\nthree\r\nfo"}
                                                << Chunks{"one\r\ntwo\r\nthree\r\n"} << QByteArray("fo") << 0;
        QTest::newRow("half line completed") << Chunks{"fo", "ur\r\n"} << Chunks{"", "four\r\n"} << QByteArray() << 0;
        QTest::newRow("lone LF is no line end") << Chunks{"A\nB\r"} << Chunks{""} << QByteArray("A\nB\r") << 0;
        QTest::newRow("128 bytes stay") << Chunks{QByteArray(128, 'x')} << Chunks{""} << QByteArray(128, 'x') << 0;
        QTest::newRow("129th byte discards") << Chunks{QByteArray(128, 'x'), "y"} << Chunks{"", ""} << QByteArray() << 1;
        QTest::newRow("reading goes on after a discard")
            << Chunks{QByteArray(129, 'x'), "OK\r\n"} << Chunks{"", "OK\r\n"} << QByteArray() << 1;
        QTest::newRow("300-byte line passes whole")
            << Chunks{QByteArray(300, 'z') + "\r\n"} << Chunks{QByteArray(300, 'z') + "\r\n"} << QByteArray() << 0;
        QTest::newRow("long rest after a line end stays")
            << Chunks{"a\r\n" + QByteArray(200, 'r')} << Chunks{"a\r\n"} << QByteArray(200, 'r') << 0;
        const QByteArray binary("\x00\x80\xff\xc3\xa4\r\n", 7);
        QTest::newRow("NUL and high bytes unchanged") << Chunks{binary} << Chunks{binary} << QByteArray() << 0;
    }

    void frame()
    {
        QFETCH(Chunks, reads);
        QFETCH(Chunks, emitted);
        QFETCH(QByteArray, pending);
        QFETCH(int, overflows);

        QByteArray buffer;
        int overflowCount = 0;
        for (int i = 0; i < reads.size(); ++i) {
            const FramedInput input = frameDeviceInput(buffer, reads.at(i));
            QCOMPARE(input.lines, emitted.at(i));
            overflowCount += input.overflowed ? 1 : 0;
        }
        QCOMPARE(buffer, pending);
        QCOMPARE(overflowCount, overflows);
    }
};

QTEST_GUILESS_MAIN(TestDeviceFraming)
#include "tst_deviceframing.moc"
