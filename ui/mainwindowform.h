#pragma once

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QWidget;

// The main window's widgets, with their object names, texts and places.
class MainWindowForm
{
public:
    void setupUi(QMainWindow *window);

    QWidget *centralWidget;
    QFrame *frameServerTitle;
    QLabel *labelTitleServer;
    QLabel *labelPortLocal;
    QLineEdit *portLocal;
    QPushButton *btnListen;
    QLabel *labelServerStatus;
    QLabel *serverStatus;
    QLabel *labelServerAddresses;
    QLabel *labelServerBar;
    QLabel *labelServerAddresseList;
    QFrame *frameDeviceTitle;
    QLabel *labelTitleDevice;
    QRadioButton *radioNetwork;
    QRadioButton *radioSerial;
    QLabel *labelIpAddress;
    QLineEdit *ipAddress;
    QLabel *labelPort;
    QLineEdit *port;
    // In the places of the two above, for a serial device.
    QLabel *labelSerialPort;
    QComboBox *serialPort;
    QLabel *labelSerialSettings;
    QLineEdit *serialSettings;
    QPushButton *btnConnect;
    QLabel *labelDeviceStatus;
    QLabel *deviceStatus;
    QFrame *frameOptions;
    QLabel *labelTitleOptions;
    QCheckBox *checkAutoconnect;
    QCheckBox *checkStartMinimized;
    QCheckBox *checkStartAutoAtLogin;
    QCheckBox *checkLog;
    QPushButton *btnViewLogFile;
    QFrame *frameFooter;
    QLabel *labelVersion;
    QLabel *logoVQ;
    QMenuBar *menuBar;
    QMenu *menuFile;
    QAction *actionQuit;
};
