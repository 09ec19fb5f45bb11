// A page's file download into a folder below the program folder; it answers the page's query
// when it ends.
#pragma once

#include "include/wrapper/cef_message_router.h"

#include <QObject>
#include <QString>

class wrapFileDownload : public QObject {
    Q_OBJECT
public:
    explicit wrapFileDownload(QObject* parent = nullptr);
    ~wrapFileDownload() override;

    void setCallback(CefRefPtr<CefMessageRouterBrowserSide::Callback> callback);
    // The download of url into appDirPath() + relativeDir.
    void start(const QString& url, const QString& relativeDir);

    QString url;
    QString relativeDir;
    CefRefPtr<CefMessageRouterBrowserSide::Callback> callback;
};
