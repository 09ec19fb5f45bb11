#include "update/http_request_worker.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

namespace {

const char kCrlf[] = "\r\n";
const char kTooLarge[] = "tm_tooLarge";
const char kPastDeadline[] = "tm_pastDeadline";

// key=value pairs in key order, joined by "&", each side percent-encoded as UTF-8.
QByteArray formPairs(const QMap<QString, QString>& vars)
{
    QByteArray pairs;
    for (auto it = vars.constBegin(); it != vars.constEnd(); ++it) {
        if (!pairs.isEmpty())
            pairs += '&';
        pairs += QUrl::toPercentEncoding(it.key()) + '=' + QUrl::toPercentEncoding(it.value());
    }
    return pairs;
}

bool hasControlCharacter(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    return false;
}

char hexDigit(int v) { return "0123456789ABCDEF"[v & 15]; }

} // namespace

HttpRequestSpec::HttpRequestSpec() { reset(); }

HttpRequestSpec::HttpRequestSpec(const QString& url, const QString& method)
{
    reset();
    this->url = url;
    this->method = method;
}

void HttpRequestSpec::reset()
{
    layout = HttpVarLayoutNotSet;
    url.clear();
    method = QStringLiteral("GET");
}

void HttpRequestSpec::addVar(const QString& key, const QString& value) { vars.insert(key, value); }

void HttpRequestSpec::addFile(const QString& variableName, const QString& localFileName,
    const QString& requestFileName, const QString& mimeType)
{
    files.append({variableName, localFileName, requestFileName, mimeType});
}

HttpRequestWorker::HttpRequestWorker(QObject* parent)
    : QObject(parent)
    , manager(new QNetworkAccessManager(this))
{
    connect(manager, &QNetworkAccessManager::finished, this, &HttpRequestWorker::on_manager_finished);
}

HttpRequestWorker::~HttpRequestWorker() { manager->deleteLater(); }

QString HttpRequestWorker::encodeHeaderAttribute(const QString& name, const QString& value)
{
    const QByteArray bytes = value.toUtf8();
    QByteArray plain;
    QByteArray extended;
    bool needsExtended = false;
    for (const char ch : bytes) {
        const uchar b = uchar(ch);
        if (b == '\\' || b == '/' || b < 0x20 || b > 0x7E)
            needsExtended = true;
        else if (b == '"')
            plain += "\\\"";
        else
            plain += ch;
        if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) {
            extended += ch;
        } else {
            extended += '%';
            extended += hexDigit(b >> 4);
            extended += hexDigit(b);
        }
    }
    if (plain.isEmpty())
        needsExtended = true;
    QString result = name + QStringLiteral("=\"") + QString::fromLatin1(plain) + QLatin1Char('"');
    if (needsExtended)
        result += QStringLiteral("; ") + name + QStringLiteral("*=utf-8''") + QString::fromLatin1(extended);
    return result;
}

QByteArray HttpRequestWorker::makeBoundary() const
{
    QByteArray random(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
    return QByteArrayLiteral("__-----------------------") + random.toHex();
}

QByteArray HttpRequestWorker::multipartBody(HttpRequestSpec* input, QByteArray* boundary) const
{
    // Each part's header lines and content; the boundary is chosen once they are known.
    QList<QPair<QByteArray, QByteArray>> parts;
    for (auto it = input->vars.constBegin(); it != input->vars.constEnd(); ++it) {
        const QByteArray head = "Content-Disposition: form-data; " + encodeHeaderAttribute(QStringLiteral("name"), it.key()).toUtf8()
            + kCrlf + "Content-Type: text/plain" + kCrlf + kCrlf;
        parts.append({head, it.value().toUtf8()});
    }
    for (HttpRequestFilePart& part : input->files) {
        const QFileInfo info(part.localFileName);
        // A MIME type goes into a header line as it is: one holding a line break would add lines.
        if (part.variableName.isEmpty() || part.localFileName.isEmpty() || !info.exists() || !info.isFile()
            || !info.isReadable() || hasControlCharacter(part.mimeType))
            continue;
        QFile file(part.localFileName);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        if (part.requestFileName.isEmpty()) {
            part.requestFileName = info.fileName();
            if (part.requestFileName.isEmpty())
                part.requestFileName = QStringLiteral("file");
        }
        QByteArray head = QStringLiteral("Content-Disposition: form-data; %1; %2")
                              .arg(encodeHeaderAttribute(QStringLiteral("name"), part.variableName),
                                  encodeHeaderAttribute(QStringLiteral("filename"), part.requestFileName))
                              .toUtf8()
            + kCrlf;
        if (!part.mimeType.isEmpty())
            head += "Content-Type: " + part.mimeType.toUtf8() + kCrlf;
        head += QByteArrayLiteral("Content-Transfer-Encoding: binary") + kCrlf + kCrlf;
        parts.append({head, file.readAll()});
        file.close();
    }

    // A boundary that a part holds would end that part early.
    auto heldByAPart = [&parts](const QByteArray& b) {
        for (const auto& part : parts)
            if (part.first.contains(b) || part.second.contains(b))
                return true;
        return false;
    };
    do
        *boundary = makeBoundary();
    while (heldByAPart(*boundary));

    QByteArray body;
    for (const auto& part : parts)
        body += "--" + *boundary + kCrlf + part.first + part.second + kCrlf;
    body += "--" + *boundary + "--";
    return body;
}

void HttpRequestWorker::execute(HttpRequestSpec* input)
{
    QByteArray body;
    response.clear();
    errorCode = 0;
    errorText.clear();

    if (!input->files.isEmpty())
        input->layout = HttpVarLayoutMultipart;
    if (input->layout == HttpVarLayoutNotSet)
        input->layout = input->method == QLatin1String("GET") || input->method == QLatin1String("HEAD") ? HttpVarLayoutQuery
                                                                                                      : HttpVarLayoutUrlEncoded;

    QByteArray boundary;
    if (input->layout == HttpVarLayoutQuery || input->layout == HttpVarLayoutUrlEncoded) {
        const QByteArray pairs = formPairs(input->vars);
        if (input->layout == HttpVarLayoutUrlEncoded) {
            body = pairs;
        } else if (!input->vars.isEmpty()) {
            // A URL that has a query already gets the pairs added to it.
            QString separator = QStringLiteral("?");
            if (input->url.contains(QLatin1Char('?')))
                separator = input->url.endsWith(QLatin1Char('?')) || input->url.endsWith(QLatin1Char('&')) ? QString() : QStringLiteral("&");
            input->url += separator + QString::fromLatin1(pairs);
        }
    } else {
        body = multipartBody(input, &boundary);
    }

    QNetworkRequest request(QUrl(input->url, QUrl::TolerantMode));
    request.setRawHeader("User-Agent", "Agent name goes here");
    // A redirect is not followed: the answer must come from the address asked.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (timeoutMs > 0)
        request.setTransferTimeout(timeoutMs);
    if (input->layout == HttpVarLayoutUrlEncoded)
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    else if (input->layout != HttpVarLayoutQuery)
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("multipart/form-data; boundary=" + boundary));

    QNetworkReply* reply;
    if (input->method == QLatin1String("GET"))
        reply = manager->get(request);
    else if (input->method == QLatin1String("POST"))
        reply = manager->post(request, body);
    else if (input->method == QLatin1String("PUT"))
        reply = manager->put(request, body);
    else if (input->method == QLatin1String("HEAD"))
        reply = manager->head(request);
    else if (input->method == QLatin1String("DELETE"))
        reply = manager->deleteResource(request);
    else
        reply = manager->sendCustomRequest(request, input->method.toLatin1(), body);

    // An answer over the limit is aborted as soon as it is known to be too large.
    const qint64 limit = maxResponseSize;
    auto tooLarge = [reply, limit](qint64 size) {
        if (limit < 0 || size <= limit || reply->property(kTooLarge).toBool())
            return;
        reply->setProperty(kTooLarge, true);
        reply->abort();
    };
    const bool head = input->method == QLatin1String("HEAD");
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, tooLarge, head] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (!head && length.isValid())
            tooLarge(length.toLongLong());
    });
    connect(reply, &QNetworkReply::readyRead, reply, [reply, tooLarge] { tooLarge(reply->bytesAvailable()); });
    // An answer that keeps trickling in is ended all the same.
    if (deadlineMs > 0)
        QTimer::singleShot(deadlineMs, reply, [reply] {
            if (reply->isRunning()) {
                reply->setProperty(kPastDeadline, true);
                reply->abort();
            }
        });
}

void HttpRequestWorker::on_manager_finished(QNetworkReply* reply)
{
    errorCode = reply->error();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->property(kTooLarge).toBool()) {
        errorText = QStringLiteral("the answer is larger than %1 bytes").arg(maxResponseSize);
    } else if (reply->property(kPastDeadline).toBool()) {
        errorText = QStringLiteral("no whole answer within %1 ms").arg(deadlineMs);
    } else if (errorCode == QNetworkReply::OperationCanceledError && timeoutMs > 0) {
        // Only the transfer time-out cancels a running request here.
        errorText = QStringLiteral("no answer data for %1 ms").arg(timeoutMs);
    } else if (errorCode != QNetworkReply::NoError) {
        errorText = reply->errorString();
    } else if (status >= 300 && status < 400) {
        errorCode = QNetworkReply::ProtocolFailure;
        errorText = QStringLiteral("HTTP %1 to '%2' not followed")
                        .arg(status)
                        .arg(QString::fromUtf8(reply->rawHeader("Location")));
    } else {
        response = reply->readAll();
    }
    reply->deleteLater();
    emit on_execution_finished(this);
}
