#include "VqLog/debugoutputdestination.h"
#include "VqLog/filedestination.h"
#include "VqLog/vqlog.h"
#include "app/gatewaysettings.h"
#include "app/qsingleapplication.h"
#include "app/version.h"
#include "platform/instancemutex.h"
#include "platform/osname.h"
#include "platform/shutdownsignals.h"
#include "ui/mainwindow.h"

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QMessageBox>
#include <QStandardPaths>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    QSingleApplication app(argc, argv);
    if (!app.lock()) {
        std::fputs("Application already running.\n", stderr);
        QMessageBox::critical(nullptr, QStringLiteral("Error"),
                              QStringLiteral("Application already running. Please check the Windows task tray (icon may be hidden)."),
                              QMessageBox::Ok);
        return 1;
    }
    Platform::publishInstanceMutex();
    Platform::quitOnTerminationRequest(&app);
    // A Linux program file carries no icon of its own.
    app.setWindowIcon(QIcon(QStringLiteral(":/Icons/vqgateway.png")));

    const QString logDirectory = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
    QDir().mkpath(logDirectory);
    GatewaySettings settings;
    VqLog::Logger &logger = VqLog::Logger::instance();
    logger.setLoggingLevel(VqLog::Level(settings.loggingLevel()));
    const QString logFilePath = QDir(logDirectory).filePath(QLatin1String(logFileName));
    // Every run starts with an empty log.
    QFile::remove(logFilePath);
    VqLog::DestinationPtr fileDestination =
        VqLog::createFileDestination(logFilePath, VqLog::RotationBySize, 20971520, 0);
    VqLog::DestinationPtr debugDestination = VqLog::createDebugOutputDestination(fileDestination);
    logger.addDestination(debugDestination);
    logger.addDestination(fileDestination);

    LOG_INFO << "---------------------------------------------------";
    LOG_INFO << "Program VQ Gateway version" << productVersion << "started";
    LOG_INFO << "Built with Qt" << QT_VERSION_STR << "running on Qt" << qVersion();
    LOG_INFO << "OS detected:" << Platform::operatingSystemName();
    LOG_INFO << "Creating main window";

    auto window = std::make_unique<MainWindow>();
    window->showAtStart();

    const int exitCode = app.exec();

    LOG_INFO << "Closing main window";
    window.reset();
    LOG_INFO << "Program exited with return code" << exitCode;
    return exitCode;
}
