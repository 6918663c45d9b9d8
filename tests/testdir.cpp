#include "tests/testdir.h"

#include "app/gatewaysettings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

#include <cstdio>

TestDir::TestDir()
    : dir(QDir::tempPath() + QStringLiteral("/vqgateway-test-XXXXXX"))
{
    const QString root = dir.path();
    for (const char *sub : {"home", "config", "data", "cache", "runtime"})
        QDir(root).mkpath(QLatin1String(sub));
    QFile::setPermissions(root + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", QFile::encodeName(root + QStringLiteral("/home")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/data")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root + QStringLiteral("/cache")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root + QStringLiteral("/runtime")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, root + QStringLiteral("/config"));
    // The update check must only ever reach this machine; port 9 refuses at once.
    qputenv("VQGATEWAY_UPDATE_URL", "http://127.0.0.1:9/none.xml");
}

TestDir::~TestDir()
{
    if (!dir.autoRemove())
        std::fprintf(stderr, "test files kept in %s\n", qPrintable(dir.path()));
}

void TestDir::noteResult()
{
    if (QTest::currentTestFailed())
        dir.setAutoRemove(false);
}

void TestDir::resetSettings()
{
    GatewaySettings settings;
    settings.clear();
    settings.setIpAddress(QStringLiteral("127.0.0.1"));
}
