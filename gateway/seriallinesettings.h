#pragma once

#include <QString>

// How a serial line is set up, as written after --serial and in SerialSettings:
// "SPEED,BITS PARITY STOP" with an optional flow control, such as "115200,8N1" or
// "9600,7E2,xonxoff". Parsed without the serial port module, so that the settings and the
// command line check it where they read it.
struct SerialLineSettings
{
    enum class Parity { None, Even, Odd };
    enum class FlowControl { None, RtsCts, XonXoff };

    static constexpr int highestSpeed = 4000000;

    int speed = 115200;
    int dataBits = 8;
    Parity parity = Parity::None;
    int stopBits = 1;
    FlowControl flowControl = FlowControl::None;

    // False for a text that is none, with why in problem (such as "the data bits must be 5 to
    // 8"); the settings are left as they were.
    bool parse(const QString &text, QString *problem = nullptr);
    // The settings written as parse reads them: "115200,8N1", "9600,7E2,rtscts".
    QString text() const;

    bool operator==(const SerialLineSettings &other) const { return text() == other.text(); }
};
