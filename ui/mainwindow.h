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
// switches the log level on two keys. It decides when the program ends: on Quit, at the end of
// the desktop session, or when it is closed with no tray to live in.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Shows the window, or leaves it in the tray when "StartMinimized" is on and there is a tray
    // to bring it back from.
    void showAtStart();
    // Makes the desktop start the program at login, or stops it; false when that failed.
    bool setRunAtLogin(bool enable);
    void bringToFront();
    const GatewayManager &gateway() const { return *gatewayManager; }

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
    void onDeviceKindChanged();
    void onSerialPortChanged(const QString &path);
    void onSerialSettingsChanged(const QString &text);
    void onAutoconnectChanged(bool checked);
    void onStartMinimizedChanged(bool checked);
    void onStartAtloginChanged(bool enable);
    void onLogTrafficChanged(bool checked);
    void onTrayAvailabilityChanged(bool available);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildTray();
    // Shows the fields of the chosen kind of device, and offers the serial ports present.
    void showDeviceKind(bool serial);
    void setDeviceFieldsEnabled(bool enabled);
    void requestUpdateDocument(bool userAsked);
    void fileIsReady(QNetworkReply *reply, bool userAsked, bool tooLarge);
    // Why the reply brought no update document; empty when it did.
    QString updateFailure(QNetworkReply *reply, bool tooLarge) const;
    void showInformation(const QString &text);
    // Writes one setting to the store at once; the first write that fails is reported.
    template<typename T>
    void store(void (GatewaySettings::*setter)(const T &), const T &value);
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
    bool storeFailureShown = false;
    // StartMinimized on, but shown because no tray was there at start.
    bool shownForLackOfTray = false;
    QNetworkAccessManager *networkManager = nullptr;
};
