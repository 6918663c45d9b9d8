#include "app/commandline.h"

#include "gateway/deviceaddress.h"
#include "gateway/listenendpoint.h"

#include <QCommandLineParser>
#include <QHostAddress>
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
            "  --headless                 Run without window or tray; start the server and connect "
            "the\n"
            "                             device at once, and retry every 5 s after an error.\n"
            "  --instance NAME            A separate gateway with its own settings, log and "
            "guard.\n"
            "  --device ADDRESS:PORT      The device for this run (port 10500 or above).\n"
            "  --listen [ADDRESS:]PORT    The local port, and address, for client applications.\n"
            "  --log-traffic              Log every relayed message for this run.\n"
            "  --device-line-end crlf|lf  Where the device's lines end (CR LF unless said "
            "otherwise).\n"
            "  --reply-routing            Send each client the replies to its own commands "
            "only.\n\n"
            "Values given here are used for this run only and never stored.\n");
}

CommandLine parseCommandLine(const QStringList &arguments)
{
    CommandLine result;
    // Qt's own "-platform NAME" is for the application object, not for this parser.
    QStringList ours;
    for (int i = 0; i < arguments.size(); ++i) {
        if (i > 0
            && (arguments.at(i) == QLatin1String("-platform")
                || arguments.at(i) == QLatin1String("--platform"))) {
            result.platformNamed = true;
            ++i;
        } else {
            ours.append(arguments.at(i));
        }
    }
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption headless(QStringLiteral("headless"));
    const QCommandLineOption instance(QStringLiteral("instance"), QString(),
                                      QStringLiteral("NAME"));
    const QCommandLineOption device(QStringLiteral("device"), QString(),
                                    QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption listen(QStringLiteral("listen"), QString(),
                                    QStringLiteral("[ADDRESS:]PORT"));
    const QCommandLineOption logTraffic(QStringLiteral("log-traffic"));
    const QCommandLineOption lineEnd(QStringLiteral("device-line-end"), QString(),
                                     QStringLiteral("crlf|lf"));
    const QCommandLineOption replyRouting(QStringLiteral("reply-routing"));
    QCommandLineParser parser;
    parser.addOptions(
            {help, version, headless, instance, device, listen, logTraffic, lineEnd, replyRouting});
    const auto fail = [&result](const QString &error) {
        result.action = CommandLine::Fail;
        result.error = error;
        return result;
    };
    if (!parser.parse(ours))
        return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("Unexpected argument '%1'.")
                            .arg(parser.positionalArguments().first()));
    if (parser.isSet(help)) {
        result.action = CommandLine::ShowHelp;
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::ShowVersion;
        return result;
    }
    result.headless = parser.isSet(headless);
    result.logTraffic = parser.isSet(logTraffic);
    result.replyRouting = parser.isSet(replyRouting);
    if (parser.isSet(lineEnd)) {
        result.deviceLineEnd = parser.value(lineEnd).toUpper();
        if (result.deviceLineEnd != QLatin1String("CRLF")
            && result.deviceLineEnd != QLatin1String("LF"))
            return fail(QStringLiteral("--device-line-end: '%1' is neither crlf nor lf.")
                                .arg(parser.value(lineEnd)));
    }
    if (parser.isSet(instance)) {
        result.instance = parser.value(instance);
        if (!isValidInstanceName(result.instance))
            return fail(
                    QStringLiteral("--instance: '%1' is not 1 to 32 letters, digits, '-' or '_'.")
                            .arg(result.instance));
    }
    if (parser.isSet(device)) {
        QString address;
        if (!splitEndpoint(parser.value(device), &address, &result.devicePort)
            || checkDeviceAddress(address, result.devicePort, &result.deviceAddress)
                    != DeviceAddressCheck::Valid)
            return fail(QStringLiteral("--device: '%1' is not ADDRESS:PORT with an IPv4 address "
                                       "and a port from 10500 to 65535.")
                                .arg(parser.value(device)));
    }
    if (parser.isSet(listen)) {
        result.listenGiven = true;
        quint16 port = 0;
        if (!parseListenEndpoint(parser.value(listen), &result.listenAddress, &port))
            return fail(QStringLiteral("--listen: '%1' is not [ADDRESS:]PORT with a port from 1 to "
                                       "65535.")
                                .arg(parser.value(listen)));
        result.listenPort = port;
    }
    return result;
}
