// The resumable ranged download that the page downloads and the update package share. The bytes go
// to "<target>.part", which keeps the whole 102400-byte blocks of an earlier attempt; the request
// asks for the rest, and the part file becomes the target only once the whole resource is in it.
// The object is made on one thread and runs on a thread of its own, with a network manager of its
// own; each download ends exactly once, by downLoadFinished or downLoadFailed.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QString>

class QThread;

// The file name in a download URL: capture 1 of the first match of "/([^/\?]+)(\?|$)", the last
// path segment before the query for an ordinary URL; "" when nothing matches.
QString downloadFileName(const QString& url);

// Whether a download may fetch url: http and https only.
bool isDownloadUrl(const QString& url);

// A name that a download may create inside its folder: one part, neither "." nor "..", and none of
// "/", "\", ":" or control characters.
bool isSafeDownloadName(const QString& name);

class RangedDownload : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 BlockSize = 102400;
    // Part files of this size or more are not resumed.
    static constexpr qint64 MaxResumeSize = 2147483647;
    static constexpr int DefaultStallTimeoutMs = 30000;
    // The largest file a download may write; a larger answer fails and leaves no file.
    static constexpr qint64 DefaultMaxSize = 1024 * 1024 * 1024;
    // What the network layer holds of an answer before the bytes are written.
    static constexpr qint64 ReadBufferSize = 256 * 1024;

    ~RangedDownload() override;

    // Bytes of the part file that belong to the download, and the resource's size as the answer
    // gave it. Any thread.
    qint64 got() const;
    qint64 total() const;
    // "" when the download was refused.
    const QString& targetPath() const { return m_target; }
    QString partPath() const { return m_target + QStringLiteral(".part"); }

    const QString url;
    // A transfer that receives nothing for this long fails (0: never); set before the thread starts.
    int stallTimeoutMs = DefaultStallTimeoutMs;
    // Set before the thread starts.
    qint64 maxSize = DefaultMaxSize;

signals:
    // The current transfer's received and announced byte counts (-1: no length).
    void finishPart(qint64 got, qint64 total);
    void downLoadFinished();
    void downLoadFailed();

public slots:
    void start();
    void sendRequest();
    void partMetaGot();
    void partFinished(qint64 got, qint64 total);
    void partFailed(QNetworkReply::NetworkError e);

protected:
    // Moves itself and its manager to thread and runs start when the thread starts.
    RangedDownload(QThread* thread, const QString& url, QObject* parent);

    // Sets the target and keeps the whole blocks of a part file already there (the rest of it is
    // cut off; a part file without a whole block, or too large, is deleted). "" refuses the download:
    // it fails at its start, touching nothing. On the constructing thread.
    void prepareTarget(const QString& target);
    // Removes what the download wrote after a failure that leaves nothing to resume.
    virtual void discardOutput() = 0;
    // The target holds the whole resource; rangeWasWhole: the server had nothing beyond the kept part.
    virtual void downloaded(bool rangeWasWhole) = 0;
    virtual void logInfo(const QString& text) const = 0;

    // Ends the download as failed: the reply released, the part file closed, the output discarded.
    void fail();

    QNetworkAccessManager manager;
    QNetworkReply* reply = nullptr;
    QFile file;
    // False when no later download can go on from the part file (a made-up file name).
    bool resumable = true;

private slots:
    // Bytes are taken as they come: progress reports are spaced out and an aborted reply drops
    // what it holds.
    void partReadable();
    void partEnded();

private:
    // Whether the current reply goes on. The status decides once per reply, at the first of its
    // signals that carries one; a status that ends the download ends it here.
    bool judge();
    // Starts the part file over: the answer holds the resource from its first byte.
    void restart();
    // Appends what the reply holds to the part file; false once the download has failed.
    bool appendAvailable();
    // The part file is checked, closed and renamed to the target.
    void complete(bool rangeWasWhole);
    // Lets the reply go; false when the download had already ended.
    bool release();
    // A failure that keeps the part file for a later resume, when one can go on from it.
    void transferFailed(int error);
    // Whether a later request can go on from the part file: it holds a whole block, and the server
    // serves ranges as far as its answer tells.
    bool canResume() const;
    // Fails the download when the file would exceed maxSize or the free disk space; false then.
    bool fits(qint64 size);

    QString m_target;
    bool m_refused = false;
    bool m_ended = false;
    bool m_judged = false;
    // The size the part file must reach, -1 when the answer does not tell.
    qint64 m_expected = -1;
    // False once an answer of the server showed that it ignores ranges.
    bool m_rangesServed = true;
    mutable QMutex m_lock;
    qint64 m_got = 0;
    qint64 m_total = 0;
};
