#pragma once

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPushButton;
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
    QLabel *labelIpAddress;
    QLineEdit *ipAddress;
    QLabel *labelPort;
    QLineEdit *port;
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
