#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// What the update document says about the product it describes.
struct UpdateDocument
{
    QString id;
    QString name;
    QString version;
    QString url;
};

enum class UpdateNotice { Nothing, UpToDate, Available };

struct UpdateDecision
{
    UpdateNotice notice = UpdateNotice::Nothing;
    bool storeVersion = false; // the document's version becomes "LastVersionDisplayed"
};

constexpr const char *updateProductId = "1004";
constexpr qint64 maxUpdateDocumentBytes = 64 * 1024;

// The update server's document address; VQGATEWAY_UPDATE_URL replaces it when set.
QUrl updateDocumentUrl();
// Walks the document for "Id", "Name", "Version" and "Url", their texts trimmed; a missing or
// empty version reads as ownVersion, so that a document without one is never newer.
UpdateDocument readUpdateDocument(const QByteArray &body, const QString &ownVersion);
// Versions compare part by part, the dot-separated parts as numbers ("1.10" is newer than "1.9",
// "01.01.01" the same as "1.1.1", a missing part counts as 0); text after a part's digits
// compares as text, ignoring case.
int compareVersions(const QString &a, const QString &b);
UpdateDecision decideUpdate(const UpdateDocument &document, const QString &ownVersion,
                            bool userAsked, const QString &lastVersionDisplayed);
// The rich text of the availability notice; what came from the server is escaped, and a link
// that is not http or https is shown as text.
QString availabilityText(const QString &product, const QString &version, const QString &link);
