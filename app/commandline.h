#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for. Values given here override the stored settings for this run.
struct CommandLine
{
    enum Action { Run, ShowHelp, ShowVersion, Fail };
    Action action = Run;
    QString error; // one line saying what is wrong, for Fail
    bool headless = false;
    bool platformNamed = false; // Qt's own -platform option was given
    QString instance;
    QString deviceAddress; // normalised; empty when not given
    uint devicePort = 0;
    bool listenGiven = false;
    QString listenAddress; // empty for all local addresses
    uint listenPort = 0;
    bool logTraffic = false;
    QString deviceLineEnd; // "CRLF" or "LF"; empty when not given
    bool replyRouting = false;
};

// arguments include the program's name first, as main receives them.
CommandLine parseCommandLine(const QStringList &arguments);
QString commandLineHelp();
// 1 to 32 letters, digits, '-' and '_': safe in file names, registry keys and unit names.
bool isValidInstanceName(const QString &name);
