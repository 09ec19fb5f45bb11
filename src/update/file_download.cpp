#include "update/file_download.h"

#include "app/application.h"
#include "app/window.h"

#include <QDir>
#include <QHash>
#include <QThread>

namespace {

// The running downloads by their cleaned target path; GUI thread only.
QHash<QString, wrapFileDownload*>& activeDownloads()
{
    static QHash<QString, wrapFileDownload*> active;
    return active;
}

void forget(wrapFileDownload* download)
{
    QHash<QString, wrapFileDownload*>& active = activeDownloads();
    for (auto it = active.begin(); it != active.end();)
        it = it.value() == download ? active.erase(it) : std::next(it);
}

// Waits for a thread that was told to quit and deletes it; a thread that does not stop in time is
// left to delete itself.
void finishThread(QThread* thread)
{
    if (thread->wait(wrapFileDownload::StopWaitMs))
        delete thread;
}

} // namespace

wrapFileDownload::wrapFileDownload(QObject* parent)
    : QObject(parent)
{
}

wrapFileDownload::~wrapFileDownload()
{
    forget(this);
    if (downloader) {
        // The downloader, its reply and its manager go on their own thread as its loop ends.
        downloader->deleteLater();
        downloader = nullptr;
        thread->quit();
        finishThread(thread);
        thread = nullptr;
        for (const QPointer<wrapFileDownload>& joined : m_joined)
            if (joined)
                joined->answer(false, QString());
    }
    if (m_stopping)
        finishThread(m_stopping);
    answer(false, QString());
}

void wrapFileDownload::setCallback(CefRefPtr<CefMessageRouterBrowserSide::Callback> callback)
{
    this->callback = callback;
}

void wrapFileDownload::start(const QString& url, const QString& relativeDir)
{
    this->url = url;
    this->relativeDir = relativeDir;
    const QString name = downloadFileName(url);
    if (!name.isEmpty()) {
        if (wrapFileDownload* running = activeDownloads().value(QDir::cleanPath(appDirPath() + relativeDir + name))) {
            if (running->url == url)
                running->m_joined.append(this);
            else
                answer(false, QString());
            return;
        }
    }
    thread = new QThread;
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    downloader = new commonFileDownloader(thread, url, relativeDir);
    downloader->stallTimeoutMs = stallTimeoutMs;
    downloader->maxSize = maxSize;
    m_target = downloader->targetPath();
    if (!m_target.isEmpty())
        activeDownloads().insert(QDir::cleanPath(m_target), this);
    connect(downloader, &RangedDownload::downLoadFinished, this, &wrapFileDownload::on_downloadfileFinished);
    connect(downloader, &RangedDownload::downLoadFailed, this, &wrapFileDownload::on_downloadfileFaild);
    thread->start();
}

void wrapFileDownload::on_downloadfileFinished() { end(true); }

void wrapFileDownload::on_downloadfileFaild() { end(false); }

void wrapFileDownload::end(bool success)
{
    if (!downloader)
        return;
    forget(this);
    downloader->deleteLater();
    downloader = nullptr;
    m_stopping = thread;
    thread->quit();
    thread = nullptr;
    answer(success, m_target);
    for (const QPointer<wrapFileDownload>& joined : m_joined)
        if (joined)
            joined->answer(success, m_target);
    m_joined.clear();
}

void wrapFileDownload::answer(bool success, const QString& path)
{
    if (!callback)
        return;
    const CefRefPtr<CefMessageRouterBrowserSide::Callback> cb = callback;
    callback = nullptr;
    if (success)
        Window::replySuccess(cb, path);
    else
        Window::replyFailure(cb, 0, QStringLiteral("downloadFaild"));
}
