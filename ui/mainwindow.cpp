#include "ui/mainwindow.h"

#include "VqLog/vqlog.h"
#include "app/version.h"
#include "gateway/deviceaddress.h"
#include "gateway/seriallinesettings.h"
#include "gateway/statustext.h"
#include "platform/autostart.h"
#include "platform/qtcompat.h"
#include "ui/about.h"
#include "ui/localaddresses.h"
#include "ui/mainwindowform.h"
#include "ui/portvalidator.h"
#include "ui/systemtraywatcher.h"
#include "ui/updatecheck.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QJsonArray>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPortInfo>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

#include <memory>

namespace {

constexpr int updateTimeoutMs = 15000;

QPalette paletteWith(QPalette::ColorRole role, const QColor &colour)
{
    QPalette palette;
    palette.setBrush(QPalette::All, role, QBrush(colour, Qt::SolidPattern));
    return palette;
}

void applyFont(const QList<QWidget *> &widgets, int pixelSize, bool bold = false)
{
    for (QWidget *widget : widgets) {
        QFont font = QLabel().font();
        font.setFamily(QStringLiteral("Lucida Sans Unicode"));
        font.setPixelSize(pixelSize);
        if (bold) {
            font.setBold(true);
        }
        widget->setFont(font);
    }
}

void shrinkToFit(QLabel *label)
{
    if (label->text().isEmpty() || !Compat::pixmapOf(label).isNull())
        return;
    QFont font = label->font();
    const int room = label->contentsRect().width();
    while (font.pixelSize() > 6 && QFontMetrics(font).horizontalAdvance(label->text()) > room)
        font.setPixelSize(font.pixelSize() - 1);
    label->setFont(font);
}

// The port fields hold decimal numbers; anything else counts as 0.
uint portFromText(const QString &text)
{
    return text.toUInt();
}

}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new MainWindowForm)
{
    ui->setupUi(this);
    const QString instance = GatewaySettings::instanceName();
    if (!instance.isEmpty())
        setWindowTitle(QStringLiteral("%1 - %2").arg(QLatin1String(productName), instance));
    setFixedSize(390, 440);
    applyPalettesAndFonts();
    // Loaded before the change signals are connected, so loading writes nothing back.
    loadSettings();
    ui->labelVersion->setText(QStringLiteral("Version: ") + QLatin1String(productVersion));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    ui->menuBar->hide();
    ui->port->setValidator(new PortValidator(1, highestPort, this));
    ui->portLocal->setValidator(new PortValidator(1, highestPort, this));
    connectControls();
    trayNoticeShown = settings.noTrayWarning();
    buildTray();
    fillLocalAddresses();

    gatewayManager = new GatewayManager;
    qRegisterMetaType<VQDEVICE_STATUS>("VQDEVICE_STATUS");
    connect(gatewayManager, &GatewayManager::connectionStateChanged, this,
            &MainWindow::onDeviceConnectionStateChanged);
    qRegisterMetaType<VQSERVER_STATUS>("VQSERVER_STATUS");
    connect(gatewayManager, &GatewayManager::serverStateChanged, this,
            &MainWindow::onServerStateChanged);

    // Sees the level keys before the fields do, and a quit the desktop asks for.
    QCoreApplication::instance()->installEventFilter(this);
    // The window ends the program itself: a dialog closed while the window is in the tray must
    // not.
    QApplication::setQuitOnLastWindowClosed(false);

    networkManager = new QNetworkAccessManager(this);
    requestUpdateDocument(false);
}

MainWindow::~MainWindow()
{
    delete networkManager;
    if (trayIcon) {
        trayIcon->setVisible(false);
        delete showHideAction;
        delete checkUpdatesAction;
        delete quitAction;
        delete aboutAction;
        delete trayMenu;
        delete trayIcon;
    }
    delete gatewayManager;
}

void MainWindow::showAtStart()
{
    if (settings.startMinimized()) {
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            LOG_INFO << "Application started minimized";
            return;
        }
        // Hidden without a tray, the window could never be shown again.
        LOG_INFO << "No system tray available: window shown instead of starting minimized";
        shownForLackOfTray = true;
    }
    show();
}

// The icon is made whether or not a tray is there: Qt puts it into a tray that appears later.
void MainWindow::buildTray()
{
    trayIcon = new QSystemTrayIcon(this);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::onTrayIconActivation);
    trayMenu = new QMenu(this);
    showHideAction = new QAction(tr("Show/Hide"), trayIcon);
    checkUpdatesAction = new QAction(tr("Check for Updates..."), trayIcon);
    aboutAction = new QAction(tr("About..."), trayIcon);
    quitAction = new QAction(tr("Quit"), trayIcon);
    connect(showHideAction, &QAction::triggered, this, &MainWindow::onShowHide);
    connect(checkUpdatesAction, &QAction::triggered, this, &MainWindow::onCheckForUpdates);
    connect(aboutAction, &QAction::triggered, this, &MainWindow::onAbout);
    connect(quitAction, &QAction::triggered, this, &MainWindow::onQuit);
    trayMenu->addAction(showHideAction);
    trayMenu->addAction(checkUpdatesAction);
    trayMenu->addAction(aboutAction);
    trayMenu->addSeparator();
    trayMenu->addAction(quitAction);
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setIcon(QIcon(QStringLiteral("://Bitmaps/Gateway.png")));
    trayIcon->setToolTip(windowTitle());
    trayIcon->setVisible(true);
    connect(new SystemTrayWatcher(this), &SystemTrayWatcher::availabilityChanged, this,
            &MainWindow::onTrayAvailabilityChanged);
}

void MainWindow::onTrayAvailabilityChanged(bool available)
{
    if (available) {
        LOG_INFO << "System tray available";
        // Started minimised before the desktop's tray was there, as at login: it goes there now.
        if (shownForLackOfTray && isVisible())
            hide();
    } else {
        LOG_INFO << "System tray gone";
        // Left hidden in a tray that is gone, the window could never be shown again.
        if (!isVisible())
            bringToFront();
    }
    shownForLackOfTray = false;
}

void MainWindow::applyPalettesAndFonts()
{
    paletteWindow = paletteWith(QPalette::Window, QColor(60, 60, 60));
    paletteTitleBar = paletteWith(QPalette::Window, QColor(237, 134, 55));
    paletteWhiteText = paletteWith(QPalette::WindowText, QColor(255, 255, 255));
    paletteGreenText = paletteWith(QPalette::WindowText, QColor(0, 255, 0));
    paletteRedText = paletteWith(QPalette::WindowText, QColor(255, 0, 0));

    setPalette(paletteWindow);
    for (QWidget *band :
         {ui->frameServerTitle, ui->frameDeviceTitle, ui->frameOptions, ui->frameFooter})
        band->setPalette(paletteTitleBar);
    const QList<QWidget *> whiteText{ui->labelServerBar,        ui->labelServerAddresseList,
                                     ui->labelServerAddresses,  ui->labelVersion,
                                     ui->labelTitleServer,      ui->labelTitleDevice,
                                     ui->labelTitleOptions,     ui->labelServerStatus,
                                     ui->labelIpAddress,        ui->labelPort,
                                     ui->labelPortLocal,        ui->checkAutoconnect,
                                     ui->checkStartMinimized,   ui->checkLog,
                                     ui->checkStartAutoAtLogin, ui->labelDeviceStatus,
                                     ui->deviceStatus,          ui->serverStatus};
    for (QWidget *widget : whiteText)
        widget->setPalette(paletteWhiteText);

    applyFont({ui->labelServerAddresses, ui->labelServerStatus, ui->labelIpAddress, ui->labelPort,
               ui->labelPortLocal, ui->labelDeviceStatus, ui->deviceStatus, ui->serverStatus,
               ui->btnViewLogFile, ui->btnConnect, ui->btnListen, ui->checkAutoconnect,
               ui->checkStartMinimized, ui->checkStartAutoAtLogin, ui->checkLog},
              12);
    applyFont({ui->ipAddress, ui->port, ui->portLocal, ui->labelServerAddresseList}, 11);
    applyFont({ui->labelVersion}, 10);
    applyFont({ui->labelTitleServer, ui->labelTitleDevice, ui->labelTitleOptions}, 13, true);
    // The named font exists on Windows only; where a wider one stands in, a label whose text
    // would be cut gets a smaller size instead, and the controls stay where they are.
    for (QLabel *label : findChildren<QLabel *>())
        shrinkToFit(label);

    for (QPushButton *button : {ui->btnViewLogFile, ui->btnConnect, ui->btnListen}) {
        button->setMaximumHeight(26);
        button->setFixedHeight(26);
        button->setFixedWidth(115);
    }
    ui->btnConnect->move(263, 183);
    ui->btnListen->move(263, 34);
}

void MainWindow::loadSettings()
{
    const QString address = settings.ipAddress();
    // The mask edits IPv4 only: a host name or an IPv6 address is shown, and edited, as text.
    if (!isDottedDecimal(address))
        ui->ipAddress->setInputMask(QString());
    ui->ipAddress->setText(address);
    ui->port->setText(QString::number(settings.port()));
    const QString serialPort = settings.serialPort();
    ui->serialPort->setEditText(serialPort);
    ui->serialSettings->setText(settings.serialSettings());
    ui->radioSerial->setChecked(!serialPort.isEmpty());
    showDeviceKind(!serialPort.isEmpty());
    ui->portLocal->setText(QString::number(settings.portLocal()));
    ui->checkAutoconnect->setChecked(settings.autoconnect());
    ui->checkStartMinimized->setChecked(settings.startMinimized());
    ui->checkStartAutoAtLogin->setChecked(settings.startAtLogin());
    ui->checkLog->setChecked(settings.logTraffic());
    ui->btnViewLogFile->setEnabled(settings.logTraffic());
}

void MainWindow::connectControls()
{
    connect(ui->actionQuit, &QAction::triggered, this, &MainWindow::onQuit);
    connect(ui->btnConnect, &QPushButton::clicked, this, &MainWindow::onConnectClicked);
    connect(ui->btnViewLogFile, &QPushButton::clicked, this, &MainWindow::onViewLogClicked);
    connect(ui->btnListen, &QPushButton::clicked, this, &MainWindow::onListenClicked);
    connect(ui->ipAddress, &QLineEdit::textChanged, this, &MainWindow::onIpAddressChanged);
    connect(ui->port, &QLineEdit::textChanged, this, &MainWindow::onPortChanged);
    connect(ui->portLocal, &QLineEdit::textChanged, this, &MainWindow::onPortLocalChanged);
    connect(ui->radioSerial, &QRadioButton::toggled, this, &MainWindow::onDeviceKindChanged);
    connect(ui->serialPort, &QComboBox::currentTextChanged, this, &MainWindow::onSerialPortChanged);
    connect(ui->serialSettings, &QLineEdit::textChanged, this,
            &MainWindow::onSerialSettingsChanged);
    connect(ui->checkAutoconnect, &QCheckBox::toggled, this, &MainWindow::onAutoconnectChanged);
    connect(ui->checkStartMinimized, &QCheckBox::toggled, this,
            &MainWindow::onStartMinimizedChanged);
    connect(ui->checkStartAutoAtLogin, &QCheckBox::toggled, this,
            &MainWindow::onStartAtloginChanged);
    connect(ui->checkLog, &QCheckBox::toggled, this, &MainWindow::onLogTrafficChanged);
}

void MainWindow::fillLocalAddresses()
{
    ui->labelServerAddresseList->setText(localAddressList(QNetworkInterface::allAddresses()));
}

void MainWindow::onQuit()
{
    quitRequested = true;
    close();
    // The window may have been hidden in the tray, and then its close ends nothing by itself.
    QCoreApplication::quit();
}

void MainWindow::onAbout()
{
    About about(QLatin1String(productName), QLatin1String(productVersion),
                QPixmap(QStringLiteral(":/Bitmaps/Gateway.png")), QStringLiteral("#0095ff"),
                QStringLiteral(":/Licenses/"), this);
    about.exec();
}

void MainWindow::onTrayIconActivation(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Unknown)
        onShowHide();
}

void MainWindow::onShowHide()
{
    if (isVisible())
        hide();
    else
        bringToFront();
}

void MainWindow::bringToFront()
{
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::onCheckForUpdates()
{
    if (!isVisible())
        bringToFront();
    requestUpdateDocument(true);
}

void MainWindow::requestUpdateDocument(bool userAsked)
{
    QNetworkRequest request(updateDocumentUrl());
    // Uncompressed, so that the size limit holds for the document itself; a redirect is not
    // followed, wherever it points.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(updateTimeoutMs);
    QNetworkReply *reply = networkManager->get(request);
    // The document is small: a server sending more is abandoned as soon as it has, and no more
    // than that is read from it meanwhile.
    reply->setReadBufferSize(maxUpdateDocumentBytes + 1);
    const auto tooLarge = std::make_shared<bool>(false);
    connect(reply, &QNetworkReply::downloadProgress, reply,
            [reply, tooLarge](qint64 received, qint64) {
                if (received <= maxUpdateDocumentBytes || *tooLarge)
                    return;
                *tooLarge = true;
                reply->abort();
            });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, userAsked, tooLarge] { fileIsReady(reply, userAsked, *tooLarge); });
}

QString MainWindow::updateFailure(QNetworkReply *reply, bool tooLarge) const
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (tooLarge)
        return tr("the answer is larger than %1 KiB").arg(maxUpdateDocumentBytes / 1024);
    if (reply->error() == QNetworkReply::OperationCanceledError
        || reply->error() == QNetworkReply::TimeoutError)
        return tr("no answer within %1 seconds").arg(updateTimeoutMs / 1000);
    if (status >= 300 && status < 400)
        return tr("the server redirects to %1")
                .arg(QString::fromUtf8(reply->rawHeader("Location")));
    if (status != 0 && status != 200)
        return tr("the server answered with HTTP status %1 %2")
                .arg(status)
                .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
    return reply->error() == QNetworkReply::NoError ? QString() : reply->errorString();
}

void MainWindow::fileIsReady(QNetworkReply *reply, bool userAsked, bool tooLarge)
{
    reply->deleteLater();
    const QString ownVersion = QLatin1String(productVersion);
    QString failure = updateFailure(reply, tooLarge);
    const UpdateDocument document = failure.isEmpty()
            ? readUpdateDocument(reply->read(maxUpdateDocumentBytes + 1), ownVersion)
            : UpdateDocument();
    if (failure.isEmpty()
        && document.id.compare(QLatin1String(updateProductId), Qt::CaseInsensitive) != 0)
        failure = tr("the answer is not the update document of %1").arg(QLatin1String(productName));
    if (!failure.isEmpty()) {
        LOG_INFO << "Update check failed:" << failure;
        if (userAsked)
            showInformation(tr("The check for updates failed: %1.").arg(failure.toHtmlEscaped()));
        return;
    }
    const UpdateDecision decision
            = decideUpdate(document, ownVersion, userAsked, settings.lastVersionDisplayed());
    if (decision.notice == UpdateNotice::UpToDate)
        showInformation(tr("  Your software is up to date.   "));
    else if (decision.notice == UpdateNotice::Available)
        showInformation(
                availabilityText(QLatin1String(productName), document.version, document.url));
    if (decision.storeVersion)
        store(&GatewaySettings::setLastVersionDisplayed, document.version);
}

template<typename T>
void MainWindow::store(void (GatewaySettings::*setter)(const T &), const T &value)
{
    (settings.*setter)(value);
    // Written at once, so that a store that cannot be written is noticed while the user can
    // still do something about it.
    settings.sync();
    if (settings.status() == QSettings::NoError || storeFailureShown)
        return;
    storeFailureShown = true;
    LOG_ERROR << "Settings cannot be written to" << settings.fileName();
    QMessageBox::warning(this, QLatin1String(productName),
                         tr("The settings cannot be stored in %1: changes made now are lost when "
                            "the program ends.")
                                 .arg(settings.fileName()));
}

void MainWindow::showInformation(const QString &text)
{
    QMessageBox box(QMessageBox::Information, QLatin1String(productName), text, QMessageBox::Ok,
                    this);
    box.setTextFormat(Qt::RichText);
    box.setTextInteractionFlags(Qt::TextBrowserInteraction);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

bool MainWindow::switchLevelForKey(QKeyEvent *event)
{
    int stored;
    VqLog::Level level;
    const char *logged;
    QString shown;
    if (event->matches(QKeySequence::AddTab)) {
        stored = 0;
        level = VqLog::Trace;
        logged = "Trace level enabled manually";
        shown = tr("  Detailed Trace Level now enabled!   ");
    } else if (event->matches(QKeySequence::New)) {
        // Back to normal stores Debug, the setting's default, while this run goes on at Info.
        stored = 1;
        level = VqLog::Info;
        logged = "Info level enabled manually";
        shown = tr("  Normal Trace Level now enabled!   ");
    } else {
        return false;
    }
    store(&GatewaySettings::setLoggingLevel, stored);
    VqLog::Logger::instance().setLoggingLevel(level);
    LOG_INFO << logged;
    showInformation(shown);
    return true;
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    switchLevelForKey(event);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The desktop session ends, or the system asks the program to quit otherwise: the window
    // closes for good rather than into the tray.
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit)
        quitRequested = true;
    // The clients as they are at the moment the user looks.
    if (watched == ui->serverStatus && event->type() == QEvent::ToolTip) {
        const QJsonObject status = gatewayManager->status();
        QString text = clientTable(status.value(QStringLiteral("clients")).toArray()).trimmed();
        if (status.contains(QStringLiteral("observers")))
            text += QStringLiteral("\nObservers %1/%2")
                            .arg(status.value(QStringLiteral("observers")).toArray().size())
                            .arg(MaxClientConnections);
        QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), text, ui->serverStatus);
        return true;
    }
    if (watched == ui->deviceStatus && event->type() == QEvent::ToolTip) {
        const QJsonObject status = gatewayManager->status();
        const QJsonObject device = status.value(QStringLiteral("device")).toObject();
        const QString holder = holderText(status);
        QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(),
                           deviceText(device) + QLatin1Char('\n') + deviceUpOrDown(device)
                                   + (holder.isEmpty() ? QString() : QLatin1Char('\n') + holder),
                           ui->deviceStatus);
        return true;
    }
    const bool field = watched == ui->ipAddress || watched == ui->port || watched == ui->portLocal;
    if (field && event->type() == QEvent::KeyPress
        && switchLevelForKey(static_cast<QKeyEvent *>(event)))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::changeEvent(QEvent *event)
{
    // Only a tray can bring a hidden window back; without one a minimised window stays in the
    // task bar.
    if (event->type() == QEvent::WindowStateChange && isMinimized()
        && QSystemTrayIcon::isSystemTrayAvailable())
        QTimer::singleShot(50, this, &QWidget::hide);
    QMainWindow::changeEvent(event);
}

void MainWindow::onDeviceConnectionStateChanged(VQDEVICE_STATUS state, QString info)
{
    ui->deviceStatus->setText(info);
    const QString connectText = QStringLiteral("Connect");
    const QString disconnectText = QStringLiteral("Disconnect");
    switch (state) {
    case VQDEVICE_CONNECTING:
        ui->btnConnect->setText(disconnectText);
        ui->btnConnect->setEnabled(false);
        setDeviceFieldsEnabled(false);
        ui->deviceStatus->setPalette(paletteWhiteText);
        break;
    case VQDEVICE_CONNECTED:
        ui->btnConnect->setText(disconnectText);
        ui->btnConnect->setEnabled(true);
        ui->deviceStatus->setPalette(paletteGreenText);
        break;
    case VQDEVICE_ERROR:
    case VQDEVICE_DISCONNECTED:
        ui->btnConnect->setText(connectText);
        ui->btnConnect->setEnabled(true);
        setDeviceFieldsEnabled(true);
        ui->deviceStatus->setPalette(state == VQDEVICE_ERROR ? paletteRedText : paletteWhiteText);
        break;
    }
}

void MainWindow::onServerStateChanged(VQSERVER_STATUS state, QString info)
{
    ui->serverStatus->setText(info);
    switch (state) {
    case VQSERVER_IDLE:
    case VQSERVER_ERROR:
        ui->btnListen->setText(QStringLiteral("Start"));
        ui->btnListen->setEnabled(true);
        ui->portLocal->setEnabled(true);
        ui->serverStatus->setPalette(state == VQSERVER_ERROR ? paletteRedText : paletteWhiteText);
        break;
    case VQSERVER_STARTED:
        ui->btnListen->setText(QStringLiteral("Stop"));
        ui->btnListen->setEnabled(true);
        ui->portLocal->setEnabled(false);
        ui->serverStatus->setPalette(paletteGreenText);
        break;
    }
    fillLocalAddresses();
}

void MainWindow::onConnectClicked()
{
    if (ui->btnConnect->text().compare(QLatin1String("Connect"), Qt::CaseInsensitive) != 0) {
        gatewayManager->closeDeviceConnection();
        return;
    }
    DeviceTarget target;
    target.address = ui->ipAddress->text();
    target.port = portFromText(ui->port->text());
    if (ui->radioSerial->isChecked()) {
        target.serialPort = ui->serialPort->currentText().trimmed();
        target.serialSettings = ui->serialSettings->text();
    }
    if (ui->radioSerial->isChecked() && target.serialPort.isEmpty())
        onDeviceConnectionStateChanged(VQDEVICE_ERROR, QStringLiteral("No serial port chosen"));
    else
        gatewayManager->connectDevice(target);
}

void MainWindow::showDeviceKind(bool serial)
{
    if (serial) {
        // The ports present now, by their lasting names first; the field takes any path.
        const QString typed = ui->serialPort->currentText();
        QStringList paths;
        const QDir byId(QStringLiteral("/dev/serial/by-id"));
        for (const QString &name : byId.entryList(QDir::System | QDir::Files))
            paths.append(byId.filePath(name));
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            paths.append(info.systemLocation());
        const QSignalBlocker blocker(ui->serialPort);
        ui->serialPort->clear();
        ui->serialPort->addItems(paths);
        ui->serialPort->setEditText(typed);
    }
    for (QWidget *widget : std::initializer_list<QWidget *>{ui->labelIpAddress, ui->ipAddress,
                                                            ui->labelPort, ui->port})
        widget->setVisible(!serial);
    for (QWidget *widget : std::initializer_list<QWidget *>{
                 ui->labelSerialPort, ui->serialPort, ui->labelSerialSettings, ui->serialSettings})
        widget->setVisible(serial);
}

void MainWindow::setDeviceFieldsEnabled(bool enabled)
{
    for (QWidget *widget :
         std::initializer_list<QWidget *>{ui->ipAddress, ui->port, ui->serialPort,
                                          ui->serialSettings, ui->radioNetwork, ui->radioSerial})
        widget->setEnabled(enabled);
}

void MainWindow::onDeviceKindChanged()
{
    const bool serial = ui->radioSerial->isChecked();
    showDeviceKind(serial);
    // The device is serial while a serial port is stored.
    store(&GatewaySettings::setSerialPort,
          serial ? ui->serialPort->currentText().trimmed() : QString());
}

void MainWindow::onSerialPortChanged(const QString &path)
{
    if (ui->radioSerial->isChecked())
        store(&GatewaySettings::setSerialPort, path.trimmed());
}

// Line settings are stored once the field holds usable ones, not while they are being typed.
void MainWindow::onSerialSettingsChanged(const QString &text)
{
    SerialLineSettings line;
    if (line.parse(text))
        store(&GatewaySettings::setSerialSettings, text.trimmed());
}

void MainWindow::onListenClicked()
{
    if (ui->btnListen->text().compare(QLatin1String("Start"), Qt::CaseInsensitive) == 0)
        gatewayManager->startServer(portFromText(ui->portLocal->text()));
    else
        gatewayManager->closeServer();
}

void MainWindow::onViewLogClicked()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(GatewaySettings::logFilePath()));
}

void MainWindow::onIpAddressChanged(QString ip)
{
    store(&GatewaySettings::setIpAddress, ip);
}

// A port is stored once the field holds one, not while it is still being typed.
void MainWindow::onPortChanged(QString port)
{
    if (ui->port->hasAcceptableInput())
        store(&GatewaySettings::setPort, portFromText(port));
}

void MainWindow::onPortLocalChanged(QString port)
{
    if (ui->portLocal->hasAcceptableInput())
        store(&GatewaySettings::setPortLocal, portFromText(port));
}

void MainWindow::onAutoconnectChanged(bool checked)
{
    store(&GatewaySettings::setAutoconnect, checked);
}

void MainWindow::onStartMinimizedChanged(bool checked)
{
    store(&GatewaySettings::setStartMinimized, checked);
}

void MainWindow::onLogTrafficChanged(bool checked)
{
    store(&GatewaySettings::setLogTraffic, checked);
    ui->btnViewLogFile->setEnabled(ui->checkLog->isChecked());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Qt 5 closes every window while the desktop session ends; refusing would hold it up.
    if (!isVisible() || quitRequested || QCoreApplication::closingDown()
        || qApp->isSavingSession()) {
        QMainWindow::closeEvent(event);
        return;
    }
    // Without a tray to live in, closing the window ends the program.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        QMainWindow::closeEvent(event);
        QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
        return;
    }
    if (!trayNoticeShown) {
        QMessageBox::information(
                this, tr("VQ Gateway"),
                tr("The program will keep running in the system tray. To terminate the program, "
                   "choose <b>Quit</b> in the context menu of the system tray entry. If not "
                   "visible,Please check the system tray hidden icons."));
        trayNoticeShown = true;
        store(&GatewaySettings::setNoTrayWarning, true);
    }
    hide();
    event->ignore();
}

void MainWindow::onStartAtloginChanged(bool enable)
{
    store(&GatewaySettings::setStartAtLogin, enable);
    if (setRunAtLogin(enable))
        return;
    const QString entry = Platform::autostartEntryPath(GatewaySettings::instanceName());
    LOG_ERROR << (enable ? "Could not write the autostart entry"
                         : "Could not remove the autostart entry")
              << entry;
    QMessageBox::warning(this, QLatin1String(productName),
                         (enable ? tr("Start at login could not be set up: %1 cannot be written.")
                                 : tr("Start at login could not be ended: %1 cannot be removed."))
                                 .arg(entry));
    if (enable)
        ui->checkStartAutoAtLogin->setChecked(false);
}

bool MainWindow::setRunAtLogin(bool enable)
{
    return Platform::setRunAtLogin(enable, QCoreApplication::applicationFilePath(),
                                   GatewaySettings::instanceName());
}
