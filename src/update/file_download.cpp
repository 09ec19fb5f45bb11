#include "update/file_download.h"

wrapFileDownload::wrapFileDownload(QObject* parent)
    : QObject(parent)
{
}

wrapFileDownload::~wrapFileDownload() = default;

void wrapFileDownload::setCallback(CefRefPtr<CefMessageRouterBrowserSide::Callback> callback)
{
    this->callback = callback;
}

void wrapFileDownload::start(const QString& url, const QString& relativeDir)
{
    this->url = url;
    this->relativeDir = relativeDir;
}
