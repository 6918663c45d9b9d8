#include "ui/about.h"

#include "platform/licencedirectory.h"
#include "ui/aboutform.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QVersionNumber>
#include <QUrl>

namespace {

QString link(const QString &target, const QString &text, const QString &colour)
{
    return QStringLiteral("<a href=\"%1\"><span style=\" text-decoration: underline; "
                          "color:%2;\">%3</span></a>")
            .arg(target, colour, text);
}

}

About::About(const QString &productName, const QString &version, const QPixmap &icon,
             const QString &linkColor, const QString &licensePath, QWidget *parent)
    : QDialog(parent)
    , ui(new AboutForm)
    , licensePath(licensePath)
    , iconPixmap(icon)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // The Qt library the program runs with, whose sources are to be offered.
    const QVersionNumber qt = QVersionNumber::fromString(QLatin1String(qVersion()));
    const QString qtMinor = QStringLiteral("%1.%2").arg(qt.majorVersion()).arg(qt.minorVersion());
    const QString sources = QStringLiteral("download.qt.io/archive/qt/%1/").arg(qtMinor);
    ui->label_QT5->setText(link(QStringLiteral("https://www.qt.io/"),
                                QStringLiteral("Qt%1 Library").arg(qt.majorVersion()), linkColor));
    ui->label_LGPL->setText(
            link(QStringLiteral("#browse_LGPL"), QStringLiteral("(LGPL v3)"), linkColor));
    ui->label_11->setText(
            tr("Qt %1 SDK source code from The Qt Company: ").arg(QLatin1String(qVersion())));
    ui->label_QT5Code->setText(link(QStringLiteral("https://") + sources, sources, linkColor));
    ui->label_VQ_techsupport->setText(link(QStringLiteral("mailto:support@velquor.invalid"),
                                           QStringLiteral("Velquor"), linkColor));
    ui->label_EULA->setText(link(QStringLiteral("#browse_EULA"),
                                 QStringLiteral("View End-User License Agreement"), linkColor));

    connect(ui->label_EULA, &QLabel::linkActivated, this, &About::onLinkActivated);
    connect(ui->label_LGPL, &QLabel::linkActivated, this, &About::onLinkActivated);

    ui->label_Version->setText(version);
    ui->label_Name->setText(productName);
    setStyleSheet(QStringLiteral("QDialog {background-color: #3c3c3c; alternate-background-color: "
                                 "#ED8637;} QLabel {color: white;}"));
}

About::~About() = default;

void About::resizeEvent(QResizeEvent *event)
{
    ui->label->setPixmap(iconPixmap.scaled(ui->label->width(), ui->label->height(),
                                           Qt::KeepAspectRatio, Qt::SmoothTransformation));
    QDialog::resizeEvent(event);
}

void About::onLinkActivated(const QString &link)
{
    QString fileName;
    if (link == QLatin1String("#browse_EULA"))
        fileName = QStringLiteral("VQ_EULA.html");
    else if (link == QLatin1String("#browse_LGPL"))
        fileName = QStringLiteral("lgpl.html");
    else
        return;

    const QString target = QDir(Platform::licenceCopyDirectory()).filePath(fileName);
    // The earlier copy is read-only, as the resource it came from: make it removable first. A
    // link put in its place is removed itself; what it points to is left alone.
    QFile earlier(target);
    if (!QFileInfo(target).isSymLink())
        earlier.setPermissions(QFileDevice::ReadOther | QFileDevice::WriteOther
                               | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    earlier.remove();
    QFile::copy(licensePath + fileName, target);
    QDesktopServices::openUrl(QUrl::fromLocalFile(target));
}
