#include "platform/autostart.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace Platform {

namespace {

QString entryName(const QString &instance)
{
    return instance.isEmpty() ? QStringLiteral("VQGateway")
                              : QStringLiteral("VQGateway-") + instance;
}

}

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
    // The value is a string first: every backslash is escaped once more, and a line break would
    // end the key.
    return quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
            .replace(QLatin1Char('\n'), QLatin1String("\\n"))
            .replace(QLatin1Char('\r'), QLatin1String("\\r"));
}

QString autostartEntry(const QString &programPath, const QString &instance)
{
    // An instance name holds letters, digits, '-' and '_' only: nothing to quote.
    const QString arguments
            = instance.isEmpty() ? QString() : QStringLiteral(" --instance ") + instance;
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=VQ Gateway\n"
                          "Comment=Lets several client applications drive one networked device\n"
                          "Exec=%1\n"
                          "Icon=vqgateway\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
            .arg(desktopExecArgument(programPath) + arguments);
}

QString autostartEntryPath(const QString &instance)
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
            .filePath(QStringLiteral("autostart/%1.desktop").arg(entryName(instance)));
}

bool setRunAtLogin(bool enable, const QString &programPath, const QString &instance)
{
#ifdef Q_OS_WIN
    QSettings runKey(
            QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
            QSettings::NativeFormat);
    const QString program = QDir::toNativeSeparators(programPath);
    if (!enable)
        runKey.remove(entryName(instance));
    else if (instance.isEmpty())
        runKey.setValue(entryName(instance), program);
    else
        runKey.setValue(entryName(instance),
                        QStringLiteral("\"%1\" --instance %2").arg(program, instance));
    runKey.sync();
    return runKey.status() == QSettings::NoError;
#else
    const QString path = autostartEntryPath(instance);
    if (!enable)
        return !QFileInfo::exists(path) || QFile::remove(path);
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Text)
            && file.write(autostartEntry(programPath, instance).toUtf8()) >= 0 && file.commit();
#endif
}

}
