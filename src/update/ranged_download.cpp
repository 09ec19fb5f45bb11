#include "update/ranged_download.h"

#include "app/file_package.h"
#include "update/replace_files.h"

#include <QFileInfo>
#include <QMutexLocker>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QThread>
#include <QUrl>

namespace {

// "bytes <first>-<last>/<size>" of a 206 answer; size -1 for "*".
bool parseContentRange(const QByteArray& value, qint64* first, qint64* last, qint64* size)
{
    static const QRegularExpression range(QStringLiteral("^\\s*bytes\\s+(\\d+)-(\\d+)/(\\d+|\\*)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = range.match(QString::fromLatin1(value));
    if (!m.hasMatch())
        return false;
    bool ok1 = false, ok2 = false, ok3 = true;
    *first = m.captured(1).toLongLong(&ok1);
    *last = m.captured(2).toLongLong(&ok2);
    *size = m.captured(3) == QLatin1String("*") ? -1 : m.captured(3).toLongLong(&ok3);
    return ok1 && ok2 && ok3 && *first <= *last && (*size < 0 || *last < *size);
}

// N of "bytes */N", the Content-Range of a 416 answer; -1 when it is not of that form.
qint64 unsatisfiedRangeSize(const QByteArray& value)
{
    static const QRegularExpression range(QStringLiteral("^\\s*bytes\\s+\\*/(\\d+)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = range.match(QString::fromLatin1(value));
    bool ok = false;
    const qint64 size = m.hasMatch() ? m.captured(1).toLongLong(&ok) : -1;
    return ok ? size : -1;
}

} // namespace

QString downloadFileName(const QString& url)
{
    static const QRegularExpression lastSegment(QStringLiteral("/([^/\\?]+)(\\?|$)"));
    return lastSegment.match(url).captured(1);
}

bool isDownloadUrl(const QString& url)
{
    const QString scheme = QUrl(url, QUrl::TolerantMode).scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool isSafeDownloadName(const QString& name)
{
    if (!FilePackage::isSafeEntryName(name) || name.contains(QLatin1Char('/')))
        return false;
    for (const QChar c : name)
        if (c.category() == QChar::Other_Control)
            return false;
    return true;
}

RangedDownload::RangedDownload(QThread* thread, const QString& url, QObject* parent)
    : QObject(parent)
    , url(url)
{
    moveToThread(thread);
    manager.moveToThread(thread);
    file.moveToThread(thread);
    connect(thread, &QThread::started, this, &RangedDownload::start);
}

RangedDownload::~RangedDownload()
{
    if (reply) {
        reply->disconnect(this);
        delete reply;
    }
}

qint64 RangedDownload::got() const
{
    QMutexLocker locker(&m_lock);
    return m_got;
}

qint64 RangedDownload::total() const
{
    QMutexLocker locker(&m_lock);
    return m_total;
}

void RangedDownload::prepareTarget(const QString& target)
{
    m_target = target;
    if (target.isEmpty()) {
        m_refused = true;
        return;
    }
    file.setFileName(partPath());
    const QFileInfo part(partPath());
    qint64 keep = 0;
    if (part.exists() || part.isSymLink()) {
        const qint64 size = part.size();
        if (part.isFile() && size < MaxResumeSize) {
            keep = size - size % BlockSize;
            if (keep > 0 && keep != size && !file.resize(keep))
                keep = 0;
        }
        if (keep == 0)
            QFile::remove(partPath());
    }
    QMutexLocker locker(&m_lock);
    m_got = keep;
}

void RangedDownload::start()
{
    if (m_refused) {
        logInfo(QStringLiteral("Update Error: refused to download '%1'").arg(url));
        m_ended = true;
        emit downLoadFailed();
        return;
    }
    sendRequest();
}

void RangedDownload::sendRequest()
{
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setRawHeader("Range", "bytes=" + QByteArray::number(got()) + '-');
    // Byte offsets count the resource itself, never a compressed form of it.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (stallTimeoutMs > 0)
        request.setTransferTimeout(stallTimeoutMs);
    if (reply) {
        reply->disconnect(this);
        reply->deleteLater();
    }
    m_judged = false;
    m_expected = -1;
    reply = manager.get(request);
    // The network layer stops reading while this much waits; partReadable writes it out.
    reply->setReadBufferSize(ReadBufferSize);
    connect(reply, &QNetworkReply::downloadProgress, this, &RangedDownload::partFinished);
    connect(reply, &QNetworkReply::errorOccurred, this, &RangedDownload::partFailed);
    connect(reply, &QNetworkReply::metaDataChanged, this, &RangedDownload::partMetaGot);
    connect(reply, &QNetworkReply::readyRead, this, &RangedDownload::partReadable);
    connect(reply, &QNetworkReply::finished, this, &RangedDownload::partEnded);
}

void RangedDownload::partMetaGot()
{
    if (!reply || m_ended)
        return;
    static const QRegularExpression sizePart(QStringLiteral("/(\\d+)([^\\d]|$)"));
    for (const QNetworkReply::RawHeaderPair& header : reply->rawHeaderPairs()) {
        if (QString::fromUtf8(header.first).toLower() != QLatin1String("content-range"))
            continue;
        const QRegularExpressionMatch m = sizePart.match(QString::fromUtf8(header.second));
        if (m.hasMatch()) {
            QMutexLocker locker(&m_lock);
            m_total = m.captured(1).toLongLong();
        }
    }
    judge();
}

void RangedDownload::partFinished(qint64 got, qint64 total)
{
    if (!reply || m_ended || !judge() || !m_judged)
        return;
    {
        QMutexLocker locker(&m_lock);
        if (m_got == 0 && m_total == 0)
            m_total = total;
    }
    logInfo(QStringLiteral("Update Info:part %1 of %2").arg(got).arg(total));
    emit finishPart(got, total);
    if (!appendAvailable())
        return;
    // A cut answer without a length is reported with its count as the total: only the end of an
    // answer that had no error completes the file.
    if (total >= 0 && got == total && reply->error() == QNetworkReply::NoError)
        complete(false);
}

void RangedDownload::partFailed(QNetworkReply::NetworkError e)
{
    if (!reply || m_ended || !judge())
        return;
    // Bytes that came before the error may still be reported after it: an answer that was under
    // way ends when the reply has finished.
    if (!m_judged)
        transferFailed(e);
}

void RangedDownload::partReadable()
{
    if (reply && !m_ended && judge() && m_judged)
        appendAvailable();
}

void RangedDownload::partEnded()
{
    if (!reply || m_ended)
        return;
    if (!judge())
        return;
    if (reply->error() != QNetworkReply::NoError) {
        // The bytes that arrived before the error are the next ones of the resource.
        if (!m_judged || appendAvailable())
            transferFailed(reply->error());
        return;
    }
    if (!m_judged) {
        transferFailed(QNetworkReply::ProtocolFailure);
        return;
    }
    if (appendAvailable())
        complete(false);
}

bool RangedDownload::judge()
{
    if (m_judged)
        return true;
    const QVariant attribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!attribute.isValid())
        return true; // no answer yet, or none at all: then the error decides
    m_judged = true;
    const int status = attribute.toInt();
    const QByteArray range = reply->rawHeader("Content-Range");
    const qint64 kept = got();
    if (status == 200) {
        // The whole resource, also when a part of it was asked for.
        if (kept > 0)
            restart();
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        m_expected = length.isValid() ? length.toLongLong() : -1;
        m_rangesServed = reply->rawHeader("Accept-Ranges").trimmed().toLower() == "bytes";
        return m_expected < 0 || fits(m_expected);
    }
    if (status == 206) {
        qint64 first = 0, last = 0, size = 0;
        if (!parseContentRange(range, &first, &last, &size)) {
            logInfo(QStringLiteral("Update Error: no valid Content-Range in a partial answer: '%1'")
                        .arg(QString::fromLatin1(range)));
            fail();
            return false;
        }
        if (first != kept) {
            if (first != 0) {
                logInfo(QStringLiteral("Update Error: the part starts at byte %1 instead of %2").arg(first).arg(kept));
                fail();
                return false;
            }
            restart();
        }
        m_expected = size >= 0 ? size : last + 1;
        m_rangesServed = true;
        return fits(m_expected);
    }
    if (status == 416) {
        // Nothing lies beyond the kept part: complete only when the resource is exactly that long.
        const qint64 size = unsatisfiedRangeSize(range);
        if (size >= 0 && size == kept) {
            m_expected = size;
            complete(true);
        } else {
            logInfo(QStringLiteral("Update Error: range not satisfiable: the resource has %1 bytes, %2 are kept")
                        .arg(size)
                        .arg(kept));
            fail();
        }
        return false;
    }
    logInfo(QStringLiteral("Update Error:Bad HTTP status received in partFinished():%1").arg(status));
    fail();
    return false;
}

void RangedDownload::restart()
{
    file.resize(0);
    QMutexLocker locker(&m_lock);
    m_got = 0;
    m_total = 0;
}

bool RangedDownload::appendAvailable()
{
    if (!file.isOpen() && !file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        logInfo(QStringLiteral("Update Error: Could not open output file '%1' for appending").arg(file.fileName()));
        fail();
        return false;
    }
    // A reply that ended in an error may have closed.
    const QByteArray bytes = reply->isOpen() ? reply->readAll() : QByteArray();
    if (bytes.isEmpty())
        return true;
    if (got() + bytes.size() > maxSize) {
        logInfo(QStringLiteral("Update Error: '%1' would exceed the %2 bytes a download may have").arg(url).arg(maxSize));
        fail();
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        logInfo(QStringLiteral("Update Error: could not write to '%1': %2").arg(file.fileName(), file.errorString()));
        fail();
        return false;
    }
    QMutexLocker locker(&m_lock);
    m_got += bytes.size();
    return true;
}

void RangedDownload::complete(bool rangeWasWhole)
{
    if (!release())
        return;
    QString error;
    // A file shorter than the answer said is a cut transfer: it stays to be resumed.
    bool resumable = false;
    if (!file.isOpen() && !file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        error = QStringLiteral("Update Error: Could not open output file '%1' for appending").arg(file.fileName());
    } else {
        file.close();
        const qint64 size = QFileInfo(partPath()).size();
        if (file.error() != QFileDevice::NoError) {
            error = QStringLiteral("Update Error: could not write to '%1': %2").arg(file.fileName(), file.errorString());
        } else if (m_expected >= 0 && size != m_expected) {
            error = QStringLiteral("Update Error: '%1' holds %2 bytes, the answer gave %3")
                        .arg(file.fileName())
                        .arg(size)
                        .arg(m_expected);
            resumable = size < m_expected && canResume();
        } else if (!replaceFile(partPath(), m_target)) {
            error = QStringLiteral("Update Error: could not rename '%1' to '%2'").arg(partPath(), m_target);
        }
    }
    if (!error.isEmpty()) {
        logInfo(error);
        file.close();
        if (!resumable)
            discardOutput();
        emit downLoadFailed();
        return;
    }
    downloaded(rangeWasWhole);
}

void RangedDownload::fail()
{
    if (!release())
        return;
    file.close();
    discardOutput();
    emit downLoadFailed();
}

void RangedDownload::transferFailed(int error)
{
    if (!release())
        return;
    file.close();
    logInfo(QStringLiteral("Update Error: failed to download part starting from %1, error %2").arg(got()).arg(error));
    if (!canResume())
        discardOutput();
    emit downLoadFailed();
}

bool RangedDownload::canResume() const { return resumable && m_rangesServed && got() >= BlockSize; }

bool RangedDownload::fits(qint64 size)
{
    if (size > maxSize) {
        logInfo(QStringLiteral("Update Error: '%1' has %2 bytes, more than the %3 a download may have").arg(url).arg(size).arg(maxSize));
        fail();
        return false;
    }
    const QStorageInfo disk(QFileInfo(partPath()).absolutePath());
    const qint64 needed = size - got();
    if (disk.isValid() && needed > disk.bytesAvailable()) {
        logInfo(QStringLiteral("Update Error: '%1' needs %2 more bytes, the disk has %3 free")
                    .arg(url)
                    .arg(needed)
                    .arg(disk.bytesAvailable()));
        fail();
        return false;
    }
    return true;
}

bool RangedDownload::release()
{
    if (m_ended)
        return false;
    m_ended = true;
    if (reply) {
        QNetworkReply* r = reply;
        reply = nullptr;
        // Deleting a running reply stops its transfer without another report.
        r->disconnect(this);
        r->deleteLater();
    }
    return true;
}
