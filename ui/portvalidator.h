#pragma once

#include <QValidator>

// Lets a port field hold only what is a port from lowest to highest, or can still become one as
// the user types on: digits, no leading zero.
class PortValidator : public QValidator
{
    Q_OBJECT

public:
    PortValidator(uint lowest, uint highest, QObject *parent = nullptr);

    State validate(QString &input, int &pos) const override;

private:
    uint lowest;
    uint highest;
};
