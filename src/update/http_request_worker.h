// One HTTP request with its variables as a URL query, a URL-encoded form or a multipart form, and
// its end reported through a signal.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// How the variables of a request travel.
enum HttpVarLayout {
    HttpVarLayoutNotSet = 0, // resolved by HttpRequestWorker::execute
    HttpVarLayoutQuery = 1,
    HttpVarLayoutUrlEncoded = 2,
    HttpVarLayoutMultipart = 3,
};

// A file field of a multipart body.
struct HttpRequestFilePart {
    QString variableName;
    QString localFileName; // the file sent
    QString requestFileName; // the name announced to the server
    QString mimeType;
};

struct HttpRequestSpec {
    HttpRequestSpec();
    HttpRequestSpec(const QString& url, const QString& method);

    // Layout 0, no URL, method "GET"; variables and files stay.
    void reset();
    // Stores value under key, replacing an earlier value.
    void addVar(const QString& key, const QString& value);
    void addFile(const QString& variableName, const QString& localFileName, const QString& requestFileName,
        const QString& mimeType);

    QString url;
    QString method; // compared exactly
    int layout = HttpVarLayoutNotSet;
    QMap<QString, QString> vars; // sent in ascending key order
    QList<HttpRequestFilePart> files;
};

class HttpRequestWorker : public QObject {
    Q_OBJECT
public:
    // Answers larger than this are aborted.
    static constexpr qint64 DefaultMaxResponseSize = 1024 * 1024;

    explicit HttpRequestWorker(QObject* parent = nullptr);
    ~HttpRequestWorker() override;

    // Starts the request and returns at once; the end arrives as on_execution_finished. Writes the
    // resolved layout, the URL with its query (layout 1) and default request file names (layout 3)
    // back into input.
    void execute(HttpRequestSpec* input);

    // name="value" for a multipart header line; a value that plain ASCII cannot carry also gets
    // name*=utf-8''<percent-encoded UTF-8>.
    static QString encodeHeaderAttribute(const QString& name, const QString& value);

    // Body of the last reply that ended without error.
    QByteArray response;
    // The network error of the last reply, 0 when it ended without error.
    int errorCode = 0;
    QString errorText;
    QNetworkAccessManager* manager = nullptr;

    // A request without any answer data for this long ends with an error; 0: no time-out.
    int timeoutMs = 0;
    // A request whose answer has not ended this long after it was sent ends with an error; 0: none.
    int deadlineMs = 0;
    qint64 maxResponseSize = DefaultMaxResponseSize;

signals:
    void on_execution_finished(HttpRequestWorker* worker);

public slots:
    void on_manager_finished(QNetworkReply* reply);

protected:
    // The separator of a multipart body.
    virtual QByteArray makeBoundary() const;

private:
    QByteArray multipartBody(HttpRequestSpec* input, QByteArray* boundary) const;
};
