#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Stands in for the desktop's opener (QDesktopServices::setUrlHandler) and keeps what it was
// asked to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls.append(url); }
};
