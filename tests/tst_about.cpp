#include "platform/licencedirectory.h"
#include "tests/testdir.h"
#include "tests/urlcatcher.h"
#include "ui/about.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QUrl>

#include <memory>

class TestAbout : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDir> dir;
    std::unique_ptr<About> about;
    UrlCatcher catcher;

    QByteArray resource(const QString &name)
    {
        QFile file(QStringLiteral(":/Licenses/") + name);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

    void click(const char *labelName, const QString &link)
    {
        emit about->findChild<QLabel *>(QLatin1String(labelName))->linkActivated(link);
    }

private slots:
    void initTestCase()
    {
        dir.reset(new TestDir);
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "open");
    }
    void init()
    {
        catcher.urls.clear();
        about.reset(new About(QStringLiteral("VQ Gateway"), QStringLiteral("01.01.01"),
                              QPixmap(QStringLiteral(":/Bitmaps/Gateway.png")), QStringLiteral("#0095ff"),
                              QStringLiteral(":/Licenses/")));
    }
    void cleanup()
    {
        dir->noteResult();
        about.reset();
    }

    void dialog()
    {
        QCOMPARE(about->size(), QSize(550, 350));
        QCOMPARE(about->minimumSize(), QSize(550, 350));
        QCOMPARE(about->maximumSize(), QSize(550, 350));
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("label_Name"))->text(), QStringLiteral("VQ Gateway"));
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("label_Version"))->text(), QStringLiteral("01.01.01"));
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("label_EULA"))->text(),
                 QStringLiteral("<a href=\"#browse_EULA\"><span style=\" text-decoration: underline; "
                                "color:#0095ff;\">View End-User License Agreement</span></a>"));
        about->show();
        QVERIFY(QTest::qWaitForWindowExposed(about.get()));
        const QPixmap icon = about->findChild<QLabel *>(QStringLiteral("label"))->pixmap(Qt::ReturnByValue);
        QVERIFY(!icon.isNull());
        QVERIFY(icon.width() <= 200 && icon.height() <= 200);
        QCOMPARE(icon.width(), icon.height());
    }

    void licencePages_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("file");
        QTest::newRow("agreement") << "label_EULA" << "#browse_EULA" << "VQ_EULA.html";
        QTest::newRow("lgpl") << "label_LGPL" << "#browse_LGPL" << "lgpl.html";
    }

    void licencePages()
    {
        QFETCH(QString, label);
        QFETCH(QString, link);
        QFETCH(QString, file);
        const QString copyDir = Platform::licenceCopyDirectory();
        QVERIFY(copyDir.startsWith(dir->path()));
        const QFile::Permissions permissions = QFile::permissions(copyDir);
        QVERIFY(permissions.testFlag(QFile::ReadOwner) && permissions.testFlag(QFile::WriteOwner)
                && permissions.testFlag(QFile::ExeOwner));
        QCOMPARE(permissions & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                | QFile::WriteOther | QFile::ExeOther),
                 QFile::Permissions());
        const QString target = QDir(copyDir).filePath(file);

        click(label.toLatin1().constData(), link);
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(target)});
        QFile copy(target);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), resource(file));
        copy.close();

        // A second click replaces the copy, even one that was changed since.
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(copy.open(QIODevice::WriteOnly | QIODevice::Truncate));
        copy.write("changed");
        copy.close();
        click(label.toLatin1().constData(), link);
        QCOMPARE(catcher.urls.size(), 2);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), resource(file));
    }

    void licencePagesAreFragments_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("agreement") << "VQ_EULA.html";
        QTest::newRow("lgpl") << "lgpl.html";
    }

    void licencePagesAreFragments()
    {
        QFETCH(QString, file);
        const QByteArray page = resource(file);
        QVERIFY(page.startsWith("<h3 align=\"center\">"));
        QVERIFY(!page.contains("<html"));
        QVERIFY(!page.contains("<body"));
        QCOMPARE(page.count("\n"), page.count("\r\n"));
    }

    void otherLinksDoNothing()
    {
        click("label_EULA", QStringLiteral("#browse_other"));
        click("label_LGPL", QStringLiteral("https://example.invalid/"));
        QVERIFY(catcher.urls.isEmpty());
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
