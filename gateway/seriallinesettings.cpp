#include "gateway/seriallinesettings.h"

#include "gateway/deviceaddress.h"

#include <QStringList>

namespace {

// Only the digits 0 to 9 count: other scripts' digits are no line setting.
int asciiDigit(QChar character)
{
    return character >= QLatin1Char('0') && character <= QLatin1Char('9')
            ? character.unicode() - '0'
            : -1;
}

}

bool SerialLineSettings::parse(const QString &text, QString *problem)
{
    const auto refuse = [problem](const char *why) {
        if (problem)
            *problem = QLatin1String(why);
        return false;
    };
    const QStringList parts = text.trimmed().split(QLatin1Char(','));
    if (parts.size() < 2 || parts.size() > 3)
        return refuse("the form is SPEED,BITS PARITY STOP with an optional ,rtscts or ,xonxoff");
    const QString speedText = parts.at(0).trimmed();
    const int parsedSpeed = speedText.size() <= 7 ? speedText.toInt() : 0;
    if (!isDecimalNumber(speedText) || parsedSpeed < 1 || parsedSpeed > highestSpeed)
        return refuse("the speed must be a number of bits per second from 1 to 4000000");
    const QString frame = parts.at(1).trimmed().toUpper();
    if (frame.size() != 3)
        return refuse("the frame must be three characters such as 8N1");
    const int parsedDataBits = asciiDigit(frame.at(0));
    if (parsedDataBits < 5 || parsedDataBits > 8)
        return refuse("the data bits must be 5 to 8");
    const int parityIndex = QStringLiteral("NEO").indexOf(frame.at(1));
    if (parityIndex < 0)
        return refuse("the parity must be N, E or O");
    const int parsedStopBits = asciiDigit(frame.at(2));
    if (parsedStopBits != 1 && parsedStopBits != 2)
        return refuse("the stop bits must be 1 or 2");
    FlowControl flow = FlowControl::None;
    if (parts.size() == 3) {
        const QString word = parts.at(2).trimmed().toLower();
        if (word == QLatin1String("rtscts"))
            flow = FlowControl::RtsCts;
        else if (word == QLatin1String("xonxoff"))
            flow = FlowControl::XonXoff;
        else
            return refuse("the flow control must be rtscts or xonxoff");
    }
    speed = parsedSpeed;
    dataBits = parsedDataBits;
    parity = Parity(parityIndex);
    stopBits = parsedStopBits;
    flowControl = flow;
    return true;
}

QString SerialLineSettings::text() const
{
    static const char *const flowWords[] = {"", ",rtscts", ",xonxoff"};
    return QStringLiteral("%1,%2%3%4%5")
            .arg(speed)
            .arg(dataBits)
            .arg(QLatin1Char("NEO"[int(parity)]))
            .arg(stopBits)
            .arg(QLatin1String(flowWords[int(flowControl)]));
}
