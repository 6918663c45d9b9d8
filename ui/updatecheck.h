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
// Walks the document for "Id", "Name", "Version" and "Url"; a missing version reads as
// ownVersion, so that a document without one is never newer.
UpdateDocument readUpdateDocument(const QByteArray &body, const QString &ownVersion);
// Versions compare as text, ignoring case: "1.2" is newer than "01.01.01".
int compareVersions(const QString &a, const QString &b);
UpdateDecision decideUpdate(const UpdateDocument &document, const QString &ownVersion,
                            bool userAsked, const QString &lastVersionDisplayed);
// The rich text of the availability notice; what came from the server is escaped, and a link
// that is not http or https is shown as text.
QString availabilityText(const QString &product, const QString &version, const QString &link);
