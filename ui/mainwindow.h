#pragma once

#include "gateway/gatewaysettings.h"
#include "gateway/gatewaymanager.h"

#include <QMainWindow>
#include <QPalette>
#include <QSystemTrayIcon>

#include <memory>

class MainWindowForm;
class QAction;
class QMenu;
class QNetworkAccessManager;
class QNetworkReply;

// The program's window: drives the gateway's two sides, shows their states, and stores every
// edit of a field or option at once. It lives in the system tray, checks for updates and
// switches the log level on two keys.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Shows the window, or leaves it in the tray when "StartMinimized" is on and there is a tray
    // to bring it back from.
    void showAtStart();
    // Makes the desktop start the program at login, or stops it.
    void setRunAtLogin(bool enable);

private slots:
    void onQuit();
    void onAbout();
    void onTrayIconActivation(QSystemTrayIcon::ActivationReason reason);
    void onShowHide();
    void onCheckForUpdates();
    void onDeviceConnectionStateChanged(VQDEVICE_STATUS state, QString info);
    void onServerStateChanged(VQSERVER_STATUS state, QString info);
    void onConnectClicked();
    void onViewLogClicked();
    void onListenClicked();
    void onIpAddressChanged(QString ip);
    void onPortChanged(QString port);
    void onPortLocalChanged(QString port);
    void onAutoconnectChanged(int state);
    void onStartMinimizedChanged(int state);
    void onStartAtloginChanged(int state);
    void onLogTrafficChanged(int state);
    void fileIsReady(QNetworkReply *reply);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildTray();
    void bringToFront();
    void requestUpdateDocument();
    void showInformation(const QString &text);
    // Ctrl+T and Ctrl+N: true when the key switched the log level.
    bool switchLevelForKey(QKeyEvent *event);
    void applyPalettesAndFonts();
    void loadSettings();
    void connectControls();
    void fillLocalAddresses();

    std::unique_ptr<MainWindowForm> ui;
    GatewayManager *gatewayManager = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayMenu = nullptr;
    QAction *aboutAction = nullptr;
    QAction *showHideAction = nullptr;
    QAction *quitAction = nullptr;
    QAction *checkUpdatesAction = nullptr;
    QPalette paletteWindow;
    QPalette paletteTitleBar;
    QPalette paletteWhiteText;
    QPalette paletteGreenText;
    QPalette paletteRedText;
    GatewaySettings settings;
    bool trayNoticeShown = false;
    bool quitRequested = false;
    bool updateCheckDone = false;
    QNetworkAccessManager *networkManager = nullptr;
};
