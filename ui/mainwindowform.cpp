#include "ui/mainwindowform.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>

namespace {

QString formText(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

template<typename Widget>
Widget *place(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    auto *widget = new Widget(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QFrame *band(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    auto *frame = place<QFrame>(parent, name, x, y, w, h);
    frame->setFrameShape(QFrame::NoFrame);
    frame->setAutoFillBackground(true);
    return frame;
}

QLabel *label(QWidget *parent, const char *name, int x, int y, int w, int h, const char *text)
{
    auto *widget = place<QLabel>(parent, name, x, y, w, h);
    widget->setText(formText(text));
    return widget;
}

QPushButton *button(QWidget *parent, const char *name, int x, int y, int w, int h, const char *text,
                    const char *toolTip)
{
    auto *widget = place<QPushButton>(parent, name, x, y, w, h);
    widget->setText(formText(text));
    widget->setToolTip(formText(toolTip));
    widget->setFlat(false);
    widget->setMaximumHeight(32);
    return widget;
}

QCheckBox *checkBox(QWidget *parent, const char *name, int x, int y, int w, int h, const char *text)
{
    auto *widget = place<QCheckBox>(parent, name, x, y, w, h);
    widget->setText(formText(text));
    return widget;
}

}

void MainWindowForm::setupUi(QMainWindow *window)
{
    window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(394, 517);
    window->setWindowTitle(formText("VQ Gateway"));
    window->setAutoFillBackground(false);

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    QWidget *c = centralWidget;

    frameServerTitle = band(c, "frameServerTitle", -1, 0, 441, 25);
    labelTitleServer
            = label(frameServerTitle, "labelTitleServer", 10, 4, 301, 16, "Application Server");
    labelPortLocal = label(c, "labelPortLocal", 10, 35, 101, 24, "Local Port:");
    portLocal = place<QLineEdit>(c, "portLocal", 130, 37, 51, 22);
    btnListen = button(c, "btnListen", 260, 32, 121, 32, "Start",
                       "Connect/Disconnect the Corvane device");
    labelServerStatus = label(c, "labelServerStatus", 10, 65, 101, 19, "Status:");
    serverStatus = label(c, "serverStatus", 130, 65, 261, 20, "Disconnected");
    labelServerAddresses = label(c, "labelServerAddresses", 10, 92, 111, 19, "Local IP addresses:");
    labelServerBar = label(c, "labelServerBar", 124, 98, 16, 38, "");
    labelServerBar->setFrameShape(QFrame::VLine);
    labelServerBar->setFrameShadow(QFrame::Plain);
    labelServerAddresseList = label(c, "labelServerAddresseList", 140, 95, 241, 41, "");
    labelServerAddresseList->setFrameShape(QFrame::NoFrame);
    labelServerAddresseList->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    labelServerAddresseList->setWordWrap(true);

    frameDeviceTitle = band(c, "frameDeviceTitle", -1, 147, 441, 25);
    labelTitleDevice = label(c, "labelTitleDevice", 10, 150, 171, 16, "Device Connection");
    labelIpAddress = label(c, "labelIpAddress", 10, 186, 121, 24, "Remote IP address:");
    ipAddress = place<QLineEdit>(c, "ipAddress", 130, 186, 121, 22);
    ipAddress->setInputMask(QStringLiteral("000.000.000.000;_"));
    ipAddress->setText(QStringLiteral("..."));
    ipAddress->setMaximumWidth(150);
    labelPort = label(c, "labelPort", 10, 215, 81, 24, "Remote Port:");
    port = place<QLineEdit>(c, "port", 130, 215, 51, 22);
    radioNetwork = place<QRadioButton>(c, "radioNetwork", 190, 149, 85, 19);
    radioNetwork->setText(formText("Network"));
    radioNetwork->setChecked(true);
    radioSerial = place<QRadioButton>(c, "radioSerial", 290, 149, 85, 19);
    radioSerial->setText(formText("Serial"));
    labelSerialPort = label(c, "labelSerialPort", 10, 186, 121, 24, "Serial port:");
    serialPort = place<QComboBox>(c, "serialPort", 130, 186, 121, 22);
    serialPort->setEditable(true);
    serialPort->setInsertPolicy(QComboBox::NoInsert);
    serialPort->setToolTip(formText("A port present, or any path such as /dev/serial/by-id/..."));
    labelSerialSettings = label(c, "labelSerialSettings", 10, 215, 121, 24, "Line settings:");
    serialSettings = place<QLineEdit>(c, "serialSettings", 130, 215, 121, 22);
    serialSettings->setToolTip(
            formText("SPEED,BITS PARITY STOP[,rtscts|,xonxoff], such as 115200,8N1"));
    btnConnect = button(c, "btnConnect", 260, 183, 121, 32, "Connect",
                        "Connect/Disconnect the Corvane device");
    labelDeviceStatus = label(c, "labelDeviceStatus", 10, 237, 91, 32, "Status:");
    deviceStatus = label(c, "deviceStatus", 130, 242, 261, 21, "Disconnected");

    frameOptions = band(c, "frameOptions", -1, 273, 441, 25);
    labelTitleOptions = label(frameOptions, "labelTitleOptions", 10, 1, 171, 21, "Options");
    checkAutoconnect = checkBox(c, "checkAutoconnect", 10, 300, 381, 30,
                                "Automatically start the server and connect the device");
    checkStartMinimized
            = checkBox(c, "checkStartMinimized", 10, 326, 311, 30, "Start minimized to tray");
    checkStartAutoAtLogin = checkBox(c, "checkStartAutoAtLogin", 10, 352, 321, 30,
                                     "Open the application automatically on Startup");
    checkLog = checkBox(c, "checkLog", 10, 380, 151, 30, "Log traffic");
    btnViewLogFile
            = button(c, "btnViewLogFile", 260, 380, 121, 32, "View Logfile", "View the Logfile");

    frameFooter = band(c, "frameFooter", -1, 421, 241, 21);
    labelVersion = label(frameFooter, "labelVersion", 10, 0, 131, 16, "Version 1.0.0");
    labelVersion->setTextFormat(Qt::PlainText);
    labelVersion->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    logoVQ = place<QLabel>(c, "logoVQ", 248, 420, 140, 21);
    logoVQ->setPixmap(QPixmap(QStringLiteral(":/Bitmaps/logo-banc-VQ-140.png")));
    logoVQ->setScaledContents(false);
    logoVQ->setMaximumWidth(140);
    logoVQ->setOpenExternalLinks(true);

    // The device band's title and choice lie above its band.
    labelTitleDevice->raise();
    radioNetwork->raise();
    radioSerial->raise();

    window->setCentralWidget(centralWidget);

    menuBar = new QMenuBar(window);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    menuBar->setGeometry(0, 0, 394, 21);
    menuFile = new QMenu(menuBar);
    menuFile->setObjectName(QStringLiteral("menuFile"));
    menuFile->setTitle(formText("File"));
    actionQuit = new QAction(window);
    actionQuit->setObjectName(QStringLiteral("actionQuit"));
    actionQuit->setText(formText("Quit"));
    actionQuit->setShortcut(QKeySequence(formText("Ctrl+Q")));
    actionQuit->setMenuRole(QAction::QuitRole);
    menuFile->addAction(actionQuit);
    menuBar->addAction(menuFile->menuAction());
    window->setMenuBar(menuBar);

    QWidget::setTabOrder(portLocal, btnListen);
    QWidget::setTabOrder(btnListen, radioNetwork);
    QWidget::setTabOrder(radioNetwork, radioSerial);
    QWidget::setTabOrder(radioSerial, ipAddress);
    QWidget::setTabOrder(ipAddress, port);
    QWidget::setTabOrder(port, serialPort);
    QWidget::setTabOrder(serialPort, serialSettings);
    QWidget::setTabOrder(serialSettings, btnConnect);
    QWidget::setTabOrder(btnConnect, checkAutoconnect);
    QWidget::setTabOrder(checkAutoconnect, checkStartAutoAtLogin);
    QWidget::setTabOrder(checkStartAutoAtLogin, checkStartMinimized);
}
