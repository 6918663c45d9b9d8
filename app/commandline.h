#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

// What the command line asks for. Values given here override the stored settings for this run.
struct CommandLine
{
    enum Action { Run, ShowHelp, ShowVersion, ShowStatus, CheckConfig, Fail };
    Action action = Run;
    QString error; // one line saying what is wrong, for Fail
    bool headless = false;
    bool platformNamed = false; // Qt's own -platform option was given
    bool json = false; // the status as one JSON object
    bool all = false; // the status of every instance the user runs
    QString instance;
    // Settings for this run only, by key, checked and normalised.
    QVariantMap overrides;
};

// arguments include the program's name first, as main receives them.
CommandLine parseCommandLine(const QStringList &arguments);
QString commandLineHelp();
// 1 to 32 letters, digits, '-' and '_': safe in file names, registry keys and unit names.
bool isValidInstanceName(const QString &name);
