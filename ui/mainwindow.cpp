#include "ui/mainwindow.h"

#include "app/version.h"
#include "ui/localaddresses.h"
#include "ui/mainwindowform.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QNetworkInterface>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

namespace {

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
            font.setWeight(75);
        }
        widget->setFont(font);
    }
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
    setFixedSize(390, 440);
    applyPalettesAndFonts();
    // Loaded before the change signals are connected, so loading writes nothing back.
    loadSettings();
    ui->labelVersion->setText(QStringLiteral("Version: ") + QLatin1String(productVersion));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    ui->menuBar->hide();
    connectControls();
    fillLocalAddresses();

    gatewayManager = new GatewayManager;
    qRegisterMetaType<VQDEVICE_STATUS>("VQDEVICE_STATUS");
    connect(gatewayManager, &GatewayManager::connectionStateChanged, this,
            &MainWindow::onDeviceConnectionStateChanged);
    qRegisterMetaType<VQSERVER_STATUS>("VQSERVER_STATUS");
    connect(gatewayManager, &GatewayManager::serverStateChanged, this, &MainWindow::onServerStateChanged);
}

MainWindow::~MainWindow()
{
    delete gatewayManager;
}

void MainWindow::applyPalettesAndFonts()
{
    paletteWindow = paletteWith(QPalette::Window, QColor(60, 60, 60));
    paletteTitleBar = paletteWith(QPalette::Window, QColor(237, 134, 55));
    paletteWhiteText = paletteWith(QPalette::WindowText, QColor(255, 255, 255));
    paletteGreenText = paletteWith(QPalette::WindowText, QColor(0, 255, 0));
    paletteRedText = paletteWith(QPalette::WindowText, QColor(255, 0, 0));

    setPalette(paletteWindow);
    for (QWidget *band : {ui->frameServerTitle, ui->frameDeviceTitle, ui->frameOptions, ui->frameFooter})
        band->setPalette(paletteTitleBar);
    const QList<QWidget *> whiteText{ui->labelServerBar, ui->labelServerAddresseList, ui->labelServerAddresses,
                                     ui->labelVersion, ui->labelTitleServer, ui->labelTitleDevice,
                                     ui->labelTitleOptions, ui->labelServerStatus, ui->labelIpAddress,
                                     ui->labelPort, ui->labelPortLocal, ui->checkAutoconnect,
                                     ui->checkStartMinimized, ui->checkLog, ui->checkStartAutoAtLogin,
                                     ui->labelDeviceStatus, ui->deviceStatus, ui->serverStatus};
    for (QWidget *widget : whiteText)
        widget->setPalette(paletteWhiteText);

    applyFont({ui->labelServerAddresses, ui->labelServerStatus, ui->labelIpAddress, ui->labelPort,
             ui->labelPortLocal, ui->labelDeviceStatus, ui->deviceStatus, ui->serverStatus, ui->btnViewLogFile,
             ui->btnConnect, ui->btnListen, ui->checkAutoconnect, ui->checkStartMinimized,
             ui->checkStartAutoAtLogin, ui->checkLog},
            12);
    applyFont({ui->ipAddress, ui->port, ui->portLocal, ui->labelServerAddresseList}, 11);
    applyFont({ui->labelVersion}, 10);
    applyFont({ui->labelTitleServer, ui->labelTitleDevice, ui->labelTitleOptions}, 13, true);

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
    ui->ipAddress->setText(settings.ipAddress());
    ui->port->setText(QString::number(settings.port()));
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
    connect(ui->checkAutoconnect, &QCheckBox::stateChanged, this, &MainWindow::onAutoconnectChanged);
    connect(ui->checkStartMinimized, &QCheckBox::stateChanged, this, &MainWindow::onStartMinimizedChanged);
    connect(ui->checkLog, &QCheckBox::stateChanged, this, &MainWindow::onLogTrafficChanged);
}

void MainWindow::fillLocalAddresses()
{
    ui->labelServerAddresseList->setText(localAddressList(QNetworkInterface::allAddresses()));
}

void MainWindow::onQuit()
{
    quitRequested = true;
    close();
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
        ui->ipAddress->setEnabled(false);
        ui->port->setEnabled(false);
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
        ui->ipAddress->setEnabled(true);
        ui->port->setEnabled(true);
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
    if (ui->btnConnect->text().compare(QLatin1String("Connect"), Qt::CaseInsensitive) == 0)
        gatewayManager->connectDevice(ui->ipAddress->text(), portFromText(ui->port->text()));
    else
        gatewayManager->closeDeviceConnection();
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
    const QString path = QDir(QStandardPaths::writableLocation(QStandardPaths::DataLocation))
                             .filePath(QLatin1String(logFileName));
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void MainWindow::onIpAddressChanged(QString ip)
{
    settings.setIpAddress(ip);
}

void MainWindow::onPortChanged(QString port)
{
    settings.setPort(portFromText(port));
}

void MainWindow::onPortLocalChanged(QString port)
{
    settings.setPortLocal(portFromText(port));
}

void MainWindow::onAutoconnectChanged(int state)
{
    settings.setAutoconnect(state != 0);
}

void MainWindow::onStartMinimizedChanged(int state)
{
    settings.setStartMinimized(state != 0);
}

void MainWindow::onLogTrafficChanged(int state)
{
    settings.setLogTraffic(state != 0);
    ui->btnViewLogFile->setEnabled(ui->checkLog->isChecked());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Without a tray to live in, closing the window ends the program.
    QMainWindow::closeEvent(event);
}
