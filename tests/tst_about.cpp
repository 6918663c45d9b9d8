#include "platform/licencedirectory.h"
#include "tests/testsupport.h"
#include "ui/about.h"

#include <QDesktopServices>
#include <QDir>
#include <QLabel>

class TestAbout : public QObject
{
    Q_OBJECT

    TestDir dir;

    static QByteArray contents(const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void cleanup() { dir.noteResult(); }

    // Each licence link opens a fresh copy of its page, even one changed since, in a directory
    // only the user can enter; every other link does nothing.
    void licencePages() {
        UrlCatcher catcher;
        for (const char *scheme : {"file", "https", "mailto"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), &catcher, "open");
        About about(QStringLiteral("VQ Gateway"), QStringLiteral("01.01.01"), QPixmap(QStringLiteral(":/Bitmaps/Gateway.png")),
                    QStringLiteral("#0095ff"), QStringLiteral(":/Licenses/"));
        const QDir copies(Platform::licenceCopyDirectory());
        QVERIFY(copies.path().startsWith(dir.path()));
        QCOMPARE(int(QFile::permissions(copies.path()) & 0x7077), 0x7000);
        QList<QUrl> expected;
        for (const char *link : {"EULA #browse_EULA VQ_EULA.html", "LGPL #browse_LGPL lgpl.html", "LGPL #browse_LGPL lgpl.html",
                                 "EULA #browse_other", "LGPL https://example.invalid/"}) {
            const QStringList part = QString::fromLatin1(link).split(QLatin1Char(' '));
            emit about.findChild<QLabel *>("label_" + part[0])->linkActivated(part[1]);
            if (part.size() < 3)
                continue;
            expected.append(QUrl::fromLocalFile(copies.filePath(part[2])));
            const QByteArray page = contents(":/Licenses/" + part[2]);
            QVERIFY(page.startsWith("<h3 align=\"center\">") && page.count("\n") == page.count("\r\n"));
            QCOMPARE(contents(copies.filePath(part[2])), page);
            QFile changed(copies.filePath(part[2]));
            QVERIFY(changed.open(QIODevice::WriteOnly | QIODevice::Truncate) && changed.write("changed") == 7);
        }
        QCOMPARE(catcher.urls, expected);
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
