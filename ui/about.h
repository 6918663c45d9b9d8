#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>

#include <memory>

class AboutForm;

// The product's name, version, icon and rights, the open-source components it uses, and the
// two licence pages it carries.
class About : public QDialog
{
    Q_OBJECT

public:
    About(const QString &productName, const QString &version, const QPixmap &icon,
          const QString &linkColor, const QString &licensePath, QWidget *parent = nullptr);
    ~About() override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void onLinkActivated(const QString &link);

private:
    std::unique_ptr<AboutForm> ui;
    QString licensePath;
    QPixmap iconPixmap;
};
