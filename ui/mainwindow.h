#pragma once

#include "app/gatewaysettings.h"
#include "gateway/gatewaymanager.h"

#include <QMainWindow>
#include <QPalette>

#include <memory>

class MainWindowForm;

// The program's window: drives the gateway's two sides, shows their states, and stores every
// edit of a field or option at once.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private slots:
    void onQuit();
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
    void onLogTrafficChanged(int state);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void applyPalettesAndFonts();
    void loadSettings();
    void connectControls();
    void fillLocalAddresses();

    std::unique_ptr<MainWindowForm> ui;
    GatewayManager *gatewayManager = nullptr;
    QPalette paletteWindow;
    QPalette paletteTitleBar;
    QPalette paletteWhiteText;
    QPalette paletteGreenText;
    QPalette paletteRedText;
    GatewaySettings settings;
    bool quitRequested = false;
};
