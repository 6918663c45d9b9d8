#include "app/commandline.h"

#include "gateway/clientallowlist.h"
#include "gateway/deviceaddress.h"
#include "gateway/listenendpoint.h"
#include "gateway/seriallinesettings.h"

#include <QCommandLineParser>
#include <QRegularExpression>

bool isValidInstanceName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]{1,32}$"));
    return pattern.match(name).hasMatch();
}

QString commandLineHelp()
{
    return QStringLiteral(
            "Usage: vqgateway [options]\n"
            "Relays between up to five client applications and one device.\n\n"
            "  -h, --help                 Show this help and exit.\n"
            "  -v, --version              Show the version and exit.\n"
            "  --headless                 Run without window or tray; start the server and "
            "connect the\n"
            "                             device at once, and retry every 5 s after an error.\n"
            "  --instance NAME            A separate gateway with its own settings, log and "
            "guard.\n"
            "  --status                   Show what the running gateway (of --instance) is "
            "doing.\n"
            "  --all                      With --status: every instance this user runs, one line "
            "each.\n"
            "  --json                     With --status: the same as one JSON object (with "
            "--all, an\n"
            "                             array of them).\n"
            "  --check-config             Print the configuration the settings and these options "
            "give,\n"
            "                             and every problem in it; start nothing. Exit 2 when "
            "there\n"
            "                             is a problem.\n"
            "  --device ADDRESS:PORT      The device for this run: an IPv4 address, an IPv6 "
            "address in\n"
            "                             brackets or a host name, and a port from 1 to 65535;\n"
            "                             or the path of a serial port, such as /dev/ttyUSB0.\n"
            "  --serial SETTINGS          The serial port's line settings: SPEED,BITS PARITY "
            "STOP and\n"
            "                             ,rtscts or ,xonxoff for flow control, such as "
            "115200,8N1\n"
            "                             (the default) or 9600,7E2,xonxoff.\n"
            "  --listen [ADDRESS:]PORT    The local port, and address, for client "
            "applications.\n"
            "  --observe [ADDRESS:]PORT   A port for read-only observers of the device.\n"
            "  --allow LIST               The only client addresses and networks served, "
            "e.g.\n"
            "                             \"127.0.0.1, 192.168.10.0/24, ::1\".\n"
            "  --metrics [ADDRESS:]PORT   Serve Prometheus metrics (a port alone: on "
            "127.0.0.1).\n"
            "  --log-traffic              Log every relayed message for this run.\n"
            "  --device-line-end crlf|lf  Where the device's lines end (CR LF unless said "
            "otherwise).\n"
            "  --reply-routing            Send each client the replies to its own commands "
            "only.\n"
            "  --reply-end quiet|query|pattern\n"
            "                             How a routed reply ends: when the device is quiet, "
            "after\n"
            "                             one line for a query ('?'), or at a line that "
            "matches\n"
            "  --reply-end-pattern REGEX  this regular expression. Both imply --reply-routing, "
            "and\n"
            "                             --reply-end-pattern implies --reply-end pattern.\n"
            "  --when-device-down keep|close\n"
            "                             While the device link is down, keep the clients, or "
            "close\n"
            "                             them and refuse new ones until it is back.\n"
            "  --device-notices           Tell the clients, in a line, when the device link goes "
            "down\n"
            "                             and when it is back.\n"
            "  --hold MS                  Turns: a client whose line went keeps the device until "
            "it\n"
            "                             has been quiet for MS after its reply; the others' "
            "lines\n"
            "                             wait (0, the default: no turns).\n"
            "  --lock-command LINE        A client line that asks for the device alone, answered "
            "with\n"
            "                             LOCKED when it is the client's.\n"
            "  --unlock-command LINE      A client line that gives the device back, answered "
            "with\n"
            "                             UNLOCKED.\n"
            "  --event-pattern REGEX      Device lines that match go to every client, outside "
            "every\n"
            "                             reply.\n\n"
            "Values given here are used for this run only and never stored.\n");
}

namespace {

// Whether two "[ADDRESS:]PORT" endpoints of this run clash, the second a metrics one when asked
// (a port alone is on loopback); empty ones never do.
bool optionsClash(const QString &one, const QString &other, bool otherIsMetrics)
{
    QString oneAddress, otherAddress;
    quint16 onePort = 0, otherPort = 0;
    if (!parseListenEndpoint(one, &oneAddress, &onePort)
        || !parseListenEndpoint(other, &otherAddress, &otherPort))
        return false;
    if (otherIsMetrics && otherAddress.isEmpty())
        otherAddress = QStringLiteral("127.0.0.1");
    return endpointsClash(oneAddress, onePort, otherAddress, otherPort);
}

// A value option's name and what its value must be, for the error line.
struct ValueOption
{
    const char *name;
    const char *valueName;
    const char *expected;
};

const ValueOption valueOptions[] = {
        {"instance", "NAME", "1 to 32 letters, digits, '-' or '_'"},
        {"device", "ADDRESS:PORT",
         "ADDRESS:PORT with an IPv4 address, an [IPv6] address or a host name and a port from 1 "
         "to 65535, or the path of a serial port"},
        {"serial", "SETTINGS", "line settings like 115200,8N1 or 9600,7E2,rtscts"},
        {"listen", "[ADDRESS:]PORT", "[ADDRESS:]PORT with a port from 1 to 65535"},
        {"observe", "[ADDRESS:]PORT", "[ADDRESS:]PORT with a port from 1 to 65535"},
        {"metrics", "[ADDRESS:]PORT", "[ADDRESS:]PORT with a port from 1 to 65535"},
        {"allow", "LIST", "a list of addresses and networks"},
        {"device-line-end", "crlf|lf", "crlf or lf"},
        {"reply-end", "quiet|query|pattern", "quiet, query or pattern"},
        {"reply-end-pattern", "REGEX", "a regular expression"},
        {"when-device-down", "keep|close", "keep or close"},
        {"hold", "MS", "a number of ms from 0 to 600000"},
        {"lock-command", "LINE", "a line"},
        {"unlock-command", "LINE", "a line apart from the lock line"},
        {"event-pattern", "REGEX", "a regular expression"},
};

// Checks one option's value and puts what it sets into the overrides; false when it is bad.
bool takeValue(const QString &name, const QString &value, CommandLine *result)
{
    QVariantMap &set = result->overrides;
    QString address;
    quint16 port = 0;
    if (name == QLatin1String("instance")) {
        result->instance = value;
        return isValidInstanceName(value);
    }
    if (name == QLatin1String("device") && value.startsWith(QLatin1Char('/'))) {
        set.insert(QStringLiteral("SerialPort"), value);
        return true;
    }
    if (name == QLatin1String("serial")) {
        SerialLineSettings line;
        const bool usable = line.parse(value, &result->error);
        set.insert(QStringLiteral("SerialSettings"), line.text());
        return usable;
    }
    if (name == QLatin1String("device")) {
        uint devicePort = 0;
        QString normalised;
        // Brackets around an IPv6 address and nothing else: ::1:10600 could be either the
        // address ::1 and a port or one address without one.
        if (!splitEndpoint(value, &address, &devicePort)
            || value.startsWith(QLatin1Char('[')) != address.contains(QLatin1Char(':'))
            || checkDeviceAddress(address, devicePort, &normalised) != DeviceAddressCheck::Valid)
            return false;
        set.insert(QStringLiteral("IpAddress"), normalised);
        set.insert(QStringLiteral("Port"), devicePort);
        // A serial port in the settings gives way to the network device named here.
        set.insert(QStringLiteral("SerialPort"), QString());
        return true;
    }
    if (name == QLatin1String("listen")) {
        if (!parseListenEndpoint(value, &address, &port))
            return false;
        set.insert(QStringLiteral("ListenAddress"), address);
        set.insert(QStringLiteral("PortLocal"), uint(port));
        return true;
    }
    if (name == QLatin1String("observe") || name == QLatin1String("metrics")) {
        set.insert(name == QLatin1String("observe") ? QStringLiteral("ObserverListen")
                                                    : QStringLiteral("MetricsListen"),
                   value);
        return parseListenEndpoint(value, &address, &port);
    }
    if (name == QLatin1String("allow")) {
        ClientAllowList list;
        set.insert(QStringLiteral("AllowedClients"), value);
        return ClientAllowList::parse(value, &list) && !list.allowsEveryone();
    }
    if (name == QLatin1String("device-line-end")) {
        set.insert(QStringLiteral("DeviceLineEnd"), value.toUpper());
        return QStringList{"CRLF", "LF"}.contains(value.toUpper());
    }
    if (name == QLatin1String("reply-end")) {
        set.insert(QStringLiteral("ReplyEnd"), value.toLower());
        return QStringList{"quiet", "query", "pattern"}.contains(value.toLower());
    }
    if (name == QLatin1String("when-device-down")) {
        set.insert(QStringLiteral("WhenDeviceDown"), value.toLower());
        return QStringList{"keep", "close"}.contains(value.toLower());
    }
    if (name == QLatin1String("hold")) {
        bool ok = false;
        const int ms = value.toInt(&ok);
        set.insert(QStringLiteral("HoldMs"), ms);
        return ok && isDecimalNumber(value) && ms <= 600000;
    }
    if (name == QLatin1String("lock-command") || name == QLatin1String("unlock-command")) {
        const bool lock = name == QLatin1String("lock-command");
        set.insert(lock ? QStringLiteral("LockCommand") : QStringLiteral("UnlockCommand"), value);
        // The line is read without its line end; it cannot hold one.
        return !value.isEmpty() && !value.contains(QLatin1Char('\n'))
                && !value.contains(QLatin1Char('\r'))
                && (lock || value != set.value(QStringLiteral("LockCommand")).toString());
    }
    const bool events = name == QLatin1String("event-pattern");
    set.insert(events ? QStringLiteral("EventPattern") : QStringLiteral("ReplyEndPattern"), value);
    return !value.isEmpty() && QRegularExpression(value).isValid();
}

}

CommandLine parseCommandLine(const QStringList &arguments)
{
    CommandLine result;
    const auto fail = [&result](const QString &error) {
        result.action = CommandLine::Fail;
        result.error = error;
        return result;
    };
    // Qt's own "-platform NAME" is for the application object, not for this parser; Qt aborts
    // when it has no name.
    QStringList ours;
    for (int i = 0; i < arguments.size(); ++i) {
        if (i > 0
            && (arguments.at(i) == QLatin1String("-platform")
                || arguments.at(i) == QLatin1String("--platform"))) {
            if (arguments.value(i + 1).isEmpty()
                || arguments.at(i + 1).startsWith(QLatin1Char('-')))
                return fail(QStringLiteral("-platform needs the name of a Qt platform."));
            result.platformNamed = true;
            ++i;
        } else {
            ours.append(arguments.at(i));
        }
    }
    QCommandLineParser parser;
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QString()});
    parser.addOption({{QStringLiteral("v"), QStringLiteral("version")}, QString()});
    for (const char *flag : {"headless", "status", "json", "all", "check-config", "log-traffic",
                             "reply-routing", "device-notices"})
        parser.addOption({QLatin1String(flag), QString()});
    for (const ValueOption &option : valueOptions)
        parser.addOption({QLatin1String(option.name), QString(), QLatin1String(option.valueName)});
    if (!parser.parse(ours))
        return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("Unexpected argument '%1'.")
                            .arg(parser.positionalArguments().first()));
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))) {
        result.action = parser.isSet(QStringLiteral("help")) ? CommandLine::ShowHelp
                                                             : CommandLine::ShowVersion;
        return result;
    }
    for (const ValueOption &option : valueOptions) {
        const QString name = QLatin1String(option.name);
        if (parser.isSet(name) && !takeValue(name, parser.value(name), &result))
            return fail(QStringLiteral("--%1: '%2' is not %3%4.")
                                .arg(name, parser.value(name), QLatin1String(option.expected),
                                     result.error.isEmpty() ? QString()
                                                            : QStringLiteral(": ") + result.error));
    }
    if (parser.isSet(QStringLiteral("serial"))
        && result.overrides.value(QStringLiteral("SerialPort"), QStringLiteral("/"))
                   .toString()
                   .isEmpty())
        return fail(QStringLiteral("--serial goes with a serial port, not with a network "
                                   "--device."));
    if (parser.isSet(QStringLiteral("status")) && parser.isSet(QStringLiteral("check-config")))
        return fail(QStringLiteral("--check-config and --status go alone."));
    if (parser.isSet(QStringLiteral("status")))
        result.action = CommandLine::ShowStatus;
    else if (parser.isSet(QStringLiteral("json")) || parser.isSet(QStringLiteral("all")))
        return fail(QStringLiteral("--%1 goes with --status.")
                            .arg(parser.isSet(QStringLiteral("json")) ? QStringLiteral("json")
                                                                      : QStringLiteral("all")));
    if (parser.isSet(QStringLiteral("all")) && parser.isSet(QStringLiteral("instance")))
        return fail(QStringLiteral("--all and --instance go alone."));
    if (parser.isSet(QStringLiteral("check-config")))
        result.action = CommandLine::CheckConfig;
    result.json = parser.isSet(QStringLiteral("json"));
    result.all = parser.isSet(QStringLiteral("all"));
    result.headless = parser.isSet(QStringLiteral("headless"));
    QVariantMap &set = result.overrides;
    if (parser.isSet(QStringLiteral("log-traffic")))
        set.insert(QStringLiteral("LogTraffic"), true);
    if (parser.isSet(QStringLiteral("device-notices")))
        set.insert(QStringLiteral("DeviceNotices"), true);
    // A rule for routed replies asks for routing, and a pattern for the pattern rule.
    if (parser.isSet(QStringLiteral("reply-end-pattern"))) {
        if (set.value(QStringLiteral("ReplyEnd"), QStringLiteral("pattern")).toString()
            != QLatin1String("pattern"))
            return fail(QStringLiteral("--reply-end-pattern goes with --reply-end pattern only."));
        set.insert(QStringLiteral("ReplyEnd"), QStringLiteral("pattern"));
    }
    if (parser.isSet(QStringLiteral("reply-routing")) || set.contains(QStringLiteral("ReplyEnd")))
        set.insert(QStringLiteral("ReplyRouting"), true);
    // Two servers of this run on one port: the one that starts second would fail for ever.
    const QString endpoints[] = {parser.value(QStringLiteral("listen")),
                                 set.value(QStringLiteral("ObserverListen")).toString(),
                                 set.value(QStringLiteral("MetricsListen")).toString()};
    const char *const names[] = {"--listen", "--observe", "--metrics"};
    for (int one = 0; one < 3; ++one)
        for (int other = one + 1; other < 3; ++other)
            if (optionsClash(endpoints[one], endpoints[other], other == 2))
                return fail(QStringLiteral("%1 and %2 name the same port.")
                                    .arg(QLatin1String(names[one]), QLatin1String(names[other])));
    return result;
}
