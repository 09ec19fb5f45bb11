// The start-up check for a newer version of the program.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QPoint>
#include <QSize>
#include <QString>

#include <functional>

class HttpRequestWorker;
class updateDlg;

// The address that UpgradeUrl of conf.xml names without it: a closed local port, since the program
// has no update service of its own.
extern const char kDefaultUpgradeHost[];

// The update service's request URL for a configured "scheme://host[:port]" (http or https, an empty
// text meaning the default) with "/api/system/upgrade" appended; "" when the text is no such address.
QString upgradeServiceUrl(const QString& configured);

// The top-left corner that centres a window of dialogSize on a window at pos of size.
QPoint centredOn(const QPoint& pos, const QSize& size, const QSize& dialogSize);

class UpdateCheck : public QObject {
    Q_OBJECT
public:
    explicit UpdateCheck(QObject* parent = nullptr);
    ~UpdateCheck() override;

    // Asks the update service about version, for the firmware version fwversion. The answer arrives
    // in the event loop.
    void doCheck(const QString& version, const QString& fwversion);

    QString version;
    QString fwversion;
    HttpRequestWorker* worker = nullptr;
    updateDlg* dialog = nullptr;
    // "ret" of the last answer with code 0.
    QJsonObject ret;

    // The request URL, the default service's until changed (upgradeServiceUrl); empty: no request
    // is sent.
    QString serviceUrl;
    // A service that gives no answer data for this long is taken as failed.
    int timeoutMs = 30000;
    // A service whose whole answer has not come this long after the request is taken as failed.
    int deadlineMs = 60000;
    // Runs the dialog modally; exec() unless replaced.
    std::function<int(updateDlg&)> runDialog;

public slots:
    void handle_doCheckUpdate(HttpRequestWorker* worker);
};
