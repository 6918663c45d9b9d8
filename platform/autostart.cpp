#include "platform/autostart.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace Platform {

QString desktopExecArgument(const QString &argument)
{
    QString quoted;
    for (const QChar c : argument) {
        // Inside double quotes, these four are preceded by a backslash.
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
            || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        // A lone percent sign would start a field code.
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted = QLatin1Char('"') + quoted + QLatin1Char('"');
    // The value is a string first: every backslash is escaped once more.
    return quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
}

QString autostartEntry(const QString &programPath)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=VQ Gateway\n"
                          "Comment=Lets several client applications drive one networked device\n"
                          "Exec=%1\n"
                          "Icon=vqgateway\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
            .arg(desktopExecArgument(programPath));
}

QString autostartEntryPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
            .filePath(QStringLiteral("autostart/VQGateway.desktop"));
}

void setRunAtLogin(bool enable, const QString &programPath)
{
#ifdef Q_OS_WIN
    QSettings runKey(
            QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
            QSettings::NativeFormat);
    if (enable)
        runKey.setValue(QStringLiteral("VQGateway"), QDir::toNativeSeparators(programPath));
    else
        runKey.remove(QStringLiteral("VQGateway"));
#else
    const QString path = autostartEntryPath();
    if (!enable) {
        QFile::remove(path);
        return;
    }
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    file.write(autostartEntry(programPath).toUtf8());
    file.commit();
#endif
}

}
