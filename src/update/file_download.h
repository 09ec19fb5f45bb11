// A page's file download into a folder below the program folder; it answers the page's query
// once, on the GUI thread, when the download ends.
#pragma once

#include "update/commonfiledownloader.h"

#include "include/wrapper/cef_message_router.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QThread;

class wrapFileDownload : public QObject {
    Q_OBJECT
public:
    // The longest wait, at destruction, for a download thread to end.
    static constexpr int StopWaitMs = 10000;

    explicit wrapFileDownload(QObject* parent = nullptr);
    // A download still running is stopped and its query answered with the failure.
    ~wrapFileDownload() override;

    void setCallback(CefRefPtr<CefMessageRouterBrowserSide::Callback> callback);
    // The download of url into appDirPath() + relativeDir, on a thread of its own. While another
    // wrapper downloads the same address to the same file, this one answers with that one's result;
    // another address for that file fails at once.
    void start(const QString& url, const QString& relativeDir);

    QString url;
    QString relativeDir;
    // Both null before the start and after the end.
    QThread* thread = nullptr;
    commonFileDownloader* downloader = nullptr;
    // Null once answered.
    CefRefPtr<CefMessageRouterBrowserSide::Callback> callback;
    // Passed to the downloader at the start.
    int stallTimeoutMs = RangedDownload::DefaultStallTimeoutMs;
    qint64 maxSize = RangedDownload::DefaultMaxSize;

public slots:
    void on_downloadfileFinished();
    void on_downloadfileFaild();

private:
    // Answers this query and those of the wrappers that joined it, then lets the downloader go.
    void end(bool success);
    void answer(bool success, const QString& path);

    QString m_target;
    QList<QPointer<wrapFileDownload>> m_joined;
    // The thread after the end, until it has stopped and deleted itself.
    QPointer<QThread> m_stopping;
};
