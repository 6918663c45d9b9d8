#include "platform/licencedirectory.h"
#include "platform/qtcompat.h"
#include "tests/testsupport.h"
#include "ui/about.h"

#include <QDesktopServices>
#include <QDir>
#include <QLabel>

struct LinkCase { const char *name; QString label, link, file; };
Q_DECLARE_METATYPE(LinkCase)

class TestAbout : public QObject
{
    Q_OBJECT

    TestDir dir;
    UrlCatcher catcher;

    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void initTestCase()
    {
        for (const char *scheme : {"file", "https", "mailto"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), &catcher, "open");
    }
    void cleanup() { dir.noteResult(); }

    // Each licence link opens a fresh copy of its page in a directory only the user can enter,
    // even when the copy was changed since; every other link does nothing.
    void licencePages_data()
    {
        addRows<LinkCase>({{"agreement", "label_EULA", "#browse_EULA", "VQ_EULA.html"},
                           {"lgpl", "label_LGPL", "#browse_LGPL", "lgpl.html"},
                           {"other anchor", "label_EULA", "#browse_other", ""},
                           {"web link", "label_LGPL", "https://example.invalid/", ""}});
    }
    void licencePages()
    {
        QFETCH(LinkCase, row);
        About about(QStringLiteral("VQ Gateway"), QStringLiteral("01.01.01"), QPixmap(QStringLiteral(":/Bitmaps/Gateway.png")),
                    QStringLiteral("#0095ff"), QStringLiteral(":/Licenses/"));
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QCOMPARE(about.findChild<QLabel *>(QStringLiteral("label_Name"))->text() + " "
                     + about.findChild<QLabel *>(QStringLiteral("label_Version"))->text(), QStringLiteral("VQ Gateway 01.01.01"));
        QVERIFY(!Compat::pixmapOf(about.findChild<QLabel *>(QStringLiteral("label"))).isNull());
        const QString target = QDir(Platform::licenceCopyDirectory()).filePath(row.file);
        QVERIFY(target.startsWith(dir.path()));
        QCOMPARE(int(QFile::permissions(Platform::licenceCopyDirectory()) & 0x7077), 0x7000); // the owner's alone
        catcher.urls.clear();
        for (int click = 0; click < 2; ++click) {
            emit about.findChild<QLabel *>(row.label)->linkActivated(row.link);
            if (row.file.isEmpty())
                continue;
            const QByteArray page = contents(QStringLiteral(":/Licenses/") + row.file);
            QVERIFY(page.startsWith("<h3 align=\"center\">") && page.count("\n") == page.count("\r\n"));
            QCOMPARE(contents(target), page);
            QFile changed(target);
            QVERIFY(changed.open(QIODevice::WriteOnly | QIODevice::Truncate) && changed.write("changed") == 7);
        }
        QCOMPARE(catcher.urls, row.file.isEmpty() ? QList<QUrl>() : (QList<QUrl>{QUrl::fromLocalFile(target), QUrl::fromLocalFile(target)}));
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
