#include "ui/portvalidator.h"

#include "gateway/deviceaddress.h"

namespace {

constexpr int maxPortDigits = 5;

}

PortValidator::PortValidator(uint lowest, uint highest, QObject *parent)
    : QValidator(parent)
    , lowest(lowest)
    , highest(highest)
{
}

QValidator::State PortValidator::validate(QString &input, int &) const
{
    if (input.isEmpty())
        return Intermediate;
    if (input.size() > maxPortDigits || input.at(0) == QLatin1Char('0') || !isDecimalNumber(input))
        return Invalid;
    const quint64 value = input.toULongLong();
    if (value >= lowest && value <= highest)
        return Acceptable;
    // The numbers that typing more digits can still reach.
    quint64 from = value, to = value;
    for (int digits = input.size(); digits < maxPortDigits; ++digits) {
        from = from * 10;
        to = to * 10 + 9;
        if (to >= lowest && from <= highest)
            return Intermediate;
    }
    return Invalid;
}
