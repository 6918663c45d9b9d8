#include "VqLog/debugoutputdestination.h"
#include "VqLog/filedestination.h"
#include "VqLog/vqlog.h"
#include "app/commandline.h"
#include "app/instancechannel.h"
#include "app/metricsexporter.h"
#include "app/qsingleapplication.h"
#include "app/servicereporter.h"
#include "app/version.h"
#include "gateway/gatewaymanager.h"
#include "gateway/gatewaysettings.h"
#include "gateway/statustext.h"
#include "platform/display.h"
#include "platform/instanceguard.h"
#include "platform/instancemutex.h"
#include "platform/osname.h"
#include "platform/shutdownsignals.h"
#include "ui/mainwindow.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageBox>

#include <cstdio>
#include <memory>

namespace {

QString guardKey(const QString &instance)
{
    const QString key = QStringLiteral("6c62e725-7d5a-4464-8f29-425316ac48e8");
    return instance.isEmpty() ? key : key + QLatin1Char('-') + instance;
}

// Every run starts with an empty log, written to the file and copied to the debug channel.
void startLogging()
{
    const QString logFilePath = GatewaySettings::logFilePath();
    QDir().mkpath(QFileInfo(logFilePath).path());
    VqLog::Logger &logger = VqLog::Logger::instance();
    // From 0 to 6, VqLog's Trace to Off: any other stored level reads as the default.
    logger.setLoggingLevel(VqLog::Level(GatewaySettings().loggingLevel()));
    QFile::remove(logFilePath);
    VqLog::DestinationPtr fileDestination
            = VqLog::createFileDestination(logFilePath, VqLog::RotationBySize, 20971520, 0);
    logger.addDestination(VqLog::createDebugOutputDestination(fileDestination));
    logger.addDestination(fileDestination);

    LOG_INFO << "---------------------------------------------------";
    LOG_INFO << "Program VQ Gateway version" << productVersion << "started";
    LOG_INFO << "Built with Qt" << QT_VERSION_STR << "running on Qt" << qVersion();
    LOG_INFO << "OS detected:" << Platform::operatingSystemName();
    // What this run uses, and every stored value it cannot use, once.
    const ConfigurationReport report = configurationReport(GatewaySettings());
    for (const QString &line : report.lines)
        LOG_INFO << qUtf8Printable(line);
    for (const QString &problem : report.problems)
        LOG_ERROR << qUtf8Printable(problem);
}

// Like "sshd -t": the configuration and its problems, and nothing started, guarded or deleted.
int checkConfiguration(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const ConfigurationReport report = configurationReport(GatewaySettings());
    for (const QString &line : report.lines + report.problems)
        std::printf("%s\n", qUtf8Printable(line));
    return report.problems.isEmpty() ? 0 : 2;
}

// What a running gateway offers besides its window: its status to the user's other programs
// through the instance's channel, and its metrics where the settings ask for them.
class StatusService
{
public:
    StatusService(const GatewayManager &manager, InstanceChannel &channel, const QString &instance)
        : metrics(manager, instance)
    {
        const QDateTime started = QDateTime::currentDateTime();
        channel.setHandler("status", [&manager, instance, started] {
            QJsonObject status = manager.status();
            status.insert(QStringLiteral("version"), QLatin1String(productVersion));
            status.insert(QStringLiteral("instance"), instance);
            status.insert(QStringLiteral("uptimeSeconds"),
                          double(started.secsTo(QDateTime::currentDateTime())));
            status.insert(QStringLiteral("startedAt"), isoDateTime(started));
            return QJsonDocument(status).toJson(QJsonDocument::Compact);
        });
        if (!channel.listen())
            LOG_ERROR << "Another start cannot reach this one:"
                      << InstanceChannel::socketPath(instance);
        metrics.serve(GatewaySettings().metricsListen());
    }

private:
    MetricsExporter metrics;
};

// Says why nothing answered, on the standard error stream.
int noneRunning(const QString &instance)
{
    QString refused;
    Platform::instanceDirectory(&refused);
    const QString name = instance.isEmpty() ? QString() : QStringLiteral("'%1' ").arg(instance);
    if (!refused.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(refused));
    else
        std::fprintf(stderr, "no VQ Gateway instance %sis running for this user\n",
                     qPrintable(name));
    return 1;
}

// Every instance that answers; a socket left by a crash answers nothing and is left out.
int showAllStatuses(const CommandLine &commandLine)
{
    QJsonArray statuses;
    for (const QString &instance : InstanceChannel::instanceNames()) {
        const QJsonObject status
                = QJsonDocument::fromJson(InstanceChannel::ask(instance, "status", 2000)).object();
        if (!status.isEmpty())
            statuses.append(status);
    }
    // A script reads an empty array, as it reads a full one.
    if (commandLine.json)
        std::printf("%s\n", QJsonDocument(statuses).toJson(QJsonDocument::Compact).constData());
    if (statuses.isEmpty())
        return commandLine.json ? 1 : noneRunning(QString());
    if (!commandLine.json)
        std::fputs(qPrintable(instanceTable(statuses)), stdout);
    return 0;
}

int showStatus(int argc, char *argv[], const CommandLine &commandLine)
{
    QCoreApplication app(argc, argv);
    if (commandLine.all)
        return showAllStatuses(commandLine);
    const QByteArray answer = InstanceChannel::ask(commandLine.instance, "status", 5000);
    const QJsonObject status = QJsonDocument::fromJson(answer).object();
    if (status.isEmpty())
        return noneRunning(commandLine.instance);
    std::fputs(commandLine.json ? answer.constData() : qPrintable(statusText(status)), stdout);
    if (commandLine.json)
        std::fputs("\n", stdout);
    return 0;
}

// "Application already running." and which one, since several may run side by side.
QString alreadyRunning(const QString &instance)
{
    return QStringLiteral("Application already running. Instance: %1")
            .arg(instance.isEmpty() ? QStringLiteral("default") : instance);
}

int runWithWindow(int argc, char *argv[], const QString &instance)
{
    QSingleApplication app(argc, argv, guardKey(instance));
    if (!app.lock()) {
        const QString refused = app.lockError();
        // The running instance comes to the front, where the user looks first.
        if (refused.isEmpty())
            InstanceChannel::ask(instance, "show", 3000);
        const QString text = !refused.isEmpty() ? refused
                                                : alreadyRunning(instance)
                        + QStringLiteral("\nPlease check the %1 (icon may be hidden).")
                                  .arg(Platform::systemTrayName());
        std::fputs(qPrintable(text + QLatin1Char('\n')), stderr);
        QMessageBox::critical(nullptr, QStringLiteral("Error"), text, QMessageBox::Ok);
        return 1;
    }
    Platform::publishInstanceMutex();
    Platform::quitOnTerminationRequest(&app);
    // A Linux program file carries no icon of its own.
    app.setWindowIcon(QIcon(QStringLiteral(":/Icons/vqgateway.png")));
    startLogging();
    LOG_INFO << "Creating main window";
    auto window = std::make_unique<MainWindow>();
    InstanceChannel channel(instance);
    channel.setHandler("show", [&window] {
        LOG_INFO << "Window brought to the front for another start";
        window->bringToFront();
        return QByteArray("shown");
    });
    const StatusService service(window->gateway(), channel, instance);
    window->showAtStart();
    const int exitCode = app.exec();
    LOG_INFO << "Closing main window";
    window.reset();
    LOG_INFO << "Program exited with return code" << exitCode;
    return exitCode;
}

// No widget is created on this path: it runs where no display can be reached.
int runHeadless(int argc, char *argv[], const QString &instance, bool chosenByItself)
{
    // Without widgets nothing needs GLib's main loop; Qt's own event loop wakes its threads at
    // less cost.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    InstanceGuard guard(guardKey(instance));
    if (!guard.tryLock()) {
        const QString refused = guard.error().isEmpty() ? alreadyRunning(instance) : guard.error();
        std::fputs(qPrintable(refused + QLatin1Char('\n')), stderr);
        return 1;
    }
    Platform::publishInstanceMutex();
    Platform::quitOnTerminationRequest(&app);
    startLogging();
    if (chosenByItself)
        LOG_INFO << "No display found: running without a window";
    LOG_INFO << "Running headless";
    auto manager = std::make_unique<GatewayManager>(nullptr, true);
    InstanceChannel channel(instance);
    auto service = std::make_unique<StatusService>(*manager, channel, instance);
    auto serviceManager = std::make_unique<ServiceReporter>(*manager);
    const int exitCode = app.exec();
    LOG_INFO << "Stopping the gateway";
    serviceManager.reset();
    service.reset();
    manager.reset();
    LOG_INFO << "Program exited with return code" << exitCode;
    return exitCode;
}

}

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine commandLine = parseCommandLine(arguments);
    switch (commandLine.action) {
    case CommandLine::ShowHelp:
        std::fputs(commandLineHelp().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::ShowVersion:
        std::printf("%s %s\n", productName, productVersion);
        return 0;
    case CommandLine::Fail:
        std::fprintf(stderr, "vqgateway: %s\n", commandLine.error.toLocal8Bit().constData());
        return 2;
    case CommandLine::ShowStatus:
        return showStatus(argc, argv, commandLine);
    case CommandLine::Run:
    case CommandLine::CheckConfig:
        break;
    }
    // Set before any store is opened: the instance's own store, and this run's values.
    GatewaySettings::setInstanceName(commandLine.instance);
    for (auto it = commandLine.overrides.cbegin(); it != commandLine.overrides.cend(); ++it)
        GatewaySettings::overrideForThisRun(it.key(), it.value());
    if (commandLine.action == CommandLine::CheckConfig)
        return checkConfiguration(argc, argv);

    if (commandLine.headless || !Platform::displayReachable(commandLine.platformNamed))
        return runHeadless(argc, argv, commandLine.instance, !commandLine.headless);
    return runWithWindow(argc, argv, commandLine.instance);
}
