#include "platform/licencedirectory.h"
#include "platform/qtcompat.h"
#include "tests/testsupport.h"
#include "ui/about.h"

#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QTest>

#include <memory>

class TestAbout : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDir> dir;
    std::unique_ptr<About> about;
    UrlCatcher catcher;

    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void click(const QString &label, const QString &link)
    {
        emit about->findChild<QLabel *>(label)->linkActivated(link);
    }

private slots:
    void initTestCase()
    {
        dir.reset(new TestDir);
        for (const char *scheme : {"file", "https", "mailto"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), &catcher, "open");
    }
    void init()
    {
        catcher.urls.clear();
        about.reset(new About(QStringLiteral("VQ Gateway"), QStringLiteral("01.01.01"), QPixmap(QStringLiteral(":/Bitmaps/Gateway.png")),
                              QStringLiteral("#0095ff"), QStringLiteral(":/Licenses/")));
    }
    void cleanup()
    {
        dir->noteResult();
        about.reset();
    }

    void showsNameVersionAndIcon()
    {
        about->show();
        QVERIFY(QTest::qWaitForWindowExposed(about.get()));
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("label_Name"))->text() + " "
                     + about->findChild<QLabel *>(QStringLiteral("label_Version"))->text(), QStringLiteral("VQ Gateway 01.01.01"));
        const QPixmap icon = Compat::pixmapOf(about->findChild<QLabel *>(QStringLiteral("label")));
        QVERIFY(!icon.isNull() && icon.width() <= 200 && icon.width() == icon.height());
    }

    // Each licence link opens a fresh copy of its page in a directory only the user can enter;
    // every other link does nothing.
    void licencePages_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("file");
        QTest::newRow("agreement") << "label_EULA" << "#browse_EULA" << "VQ_EULA.html";
        QTest::newRow("lgpl") << "label_LGPL" << "#browse_LGPL" << "lgpl.html";
        QTest::newRow("other anchor") << "label_EULA" << "#browse_other" << "";
        QTest::newRow("web link") << "label_LGPL" << "https://example.invalid/" << "";
    }
    void licencePages()
    {
        QFETCH(QString, label);
        QFETCH(QString, link);
        QFETCH(QString, file);
        const QString copyDir = Platform::licenceCopyDirectory();
        QVERIFY(copyDir.startsWith(dir->path()));
        QCOMPARE(QFile::permissions(copyDir) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        click(label, link);
        if (file.isEmpty()) {
            QVERIFY(catcher.urls.isEmpty());
            return;
        }
        const QString target = QDir(copyDir).filePath(file);
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(target)});
        const QByteArray page = contents(QStringLiteral(":/Licenses/") + file);
        QVERIFY(page.startsWith("<h3 align=\"center\">") && !page.contains("<body") && page.count("\n") == page.count("\r\n"));
        QCOMPARE(contents(target), page);
        // A second click replaces the copy, even one that was changed since.
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        QFile changed(target);
        QVERIFY(changed.open(QIODevice::WriteOnly | QIODevice::Truncate) && changed.write("changed") == 7);
        changed.close();
        click(label, link);
        QCOMPARE(catcher.urls.size(), 2);
        QCOMPARE(contents(target), page);
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
