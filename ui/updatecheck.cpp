#include "ui/updatecheck.h"

#include <QXmlStreamReader>

namespace {

// A placeholder under the reserved .invalid domain until the maker's host is known, so that no
// request reaches a third party by accident.
const char *const builtInUpdateUrl
        = "http://updates.velquor.invalid/~ftp-xml/product_update_1004.xml";

// Reads to the element's end, so that the walk goes on after it whatever it held; an element
// without text leaves the value as it was.
void readText(QXmlStreamReader &reader, QString *value)
{
    const QString text = reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
    if (!text.isEmpty())
        *value = text;
}

// The number in front of a version part, and what follows it.
QPair<qulonglong, QString> splitPart(const QString &part)
{
    int digits = 0;
    while (digits < part.size() && part.at(digits) >= QLatin1Char('0')
           && part.at(digits) <= QLatin1Char('9'))
        ++digits;
    return {part.left(digits).toULongLong(), part.mid(digits)};
}

QString escapeAttribute(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&#39;"));
}

}

QUrl updateDocumentUrl()
{
    const QByteArray fromEnvironment = qgetenv("VQGATEWAY_UPDATE_URL");
    return QUrl(fromEnvironment.isEmpty() ? QString::fromLatin1(builtInUpdateUrl)
                                          : QString::fromUtf8(fromEnvironment));
}

UpdateDocument readUpdateDocument(const QByteArray &body, const QString &ownVersion)
{
    UpdateDocument document;
    document.version = ownVersion;
    QXmlStreamReader reader(body);
    reader.readNext();
    // Elements of other names are entered; the walk ends at the first end tag it meets while
    // looking for the next element.
    while (!reader.atEnd() && reader.readNextStartElement()) {
        if (reader.name() == QLatin1String("Id"))
            readText(reader, &document.id);
        if (reader.name() == QLatin1String("Name"))
            readText(reader, &document.name);
        if (reader.name() == QLatin1String("Version"))
            readText(reader, &document.version);
        if (reader.isStartElement() && reader.name() == QLatin1String("Url"))
            readText(reader, &document.url);
    }
    return document;
}

int compareVersions(const QString &a, const QString &b)
{
    const QStringList left = a.split(QLatin1Char('.')), right = b.split(QLatin1Char('.'));
    for (int i = 0; i < qMax(left.size(), right.size()); ++i) {
        const auto one = splitPart(left.value(i)), other = splitPart(right.value(i));
        if (one.first != other.first)
            return one.first < other.first ? -1 : 1;
        if (const int text = one.second.compare(other.second, Qt::CaseInsensitive))
            return text;
    }
    return 0;
}

UpdateDecision decideUpdate(const UpdateDocument &document, const QString &ownVersion,
                            bool userAsked, const QString &lastVersionDisplayed)
{
    UpdateDecision decision;
    if (document.id.compare(QLatin1String(updateProductId), Qt::CaseInsensitive) != 0)
        return decision;
    if (compareVersions(document.version, ownVersion) <= 0) {
        if (userAsked)
            decision.notice = UpdateNotice::UpToDate;
        return decision;
    }
    if (userAsked || compareVersions(document.version, lastVersionDisplayed) > 0)
        decision.notice = UpdateNotice::Available;
    decision.storeVersion = true;
    return decision;
}

QString availabilityText(const QString &product, const QString &version, const QString &link)
{
    const QString scheme = QUrl(link).scheme().toLower();
    const bool linkable = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    const QString here = linkable
            ? QStringLiteral("<a href='%1'>here</a>").arg(escapeAttribute(link))
            : QStringLiteral("here (%1)").arg(link.toHtmlEscaped());
    return product + QStringLiteral(" v") + version.toHtmlEscaped()
            + QStringLiteral(" is available on Velquor website. Please click ") + here
            + QStringLiteral(" for more information.");
}
