#pragma once

#include <QString>
#include <QTemporaryDir>

// A temporary home for one test program: HOME, the XDG directories and the settings store all
// point into it, so no test touches the real home directory. It is kept when a test failed.
class TestDir
{
public:
    TestDir();
    ~TestDir();

    QString path() const { return dir.path(); }
    QString filePath(const QString &name) const { return dir.filePath(name); }
    // Empties the settings store and points the device address at this machine, so that
    // nothing a test starts can reach the default device address.
    static void resetSettings();
    // Call from every test class's cleanup(): remembers a failure so the directory stays.
    void noteResult();

private:
    QTemporaryDir dir;
};
