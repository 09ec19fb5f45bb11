#include "update/update_check.h"

#include "app/application.h"
#include "app/window.h"
#include "update/http_request_worker.h"
#include "update/update_dialog.h"
#include "update/updater.h"

#include "include/base/cef_logging.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

const char kDefaultUpgradeHost[] = "http://127.0.0.1:9";

namespace {

// A missing "code" counts as 0; any other value only when it is the number 0.
bool codeIsZero(const QJsonObject& answer)
{
    const QJsonValue code = answer.value(QStringLiteral("code"));
    return code.isUndefined() || (code.isDouble() && code.toDouble() == 0.0);
}

void refuseAnswer(const QString& reason)
{
    LOG(INFO) << "Update Error: the update check's answer is not taken: " << reason.toStdString();
}

} // namespace

QString upgradeServiceUrl(const QString& configured)
{
    const QString text = configured.trimmed().isEmpty() ? QString::fromLatin1(kDefaultUpgradeHost) : configured.trimmed();
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty()
        || !url.userInfo().isEmpty() || (!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery()
        || url.hasFragment())
        return QString();
    return url.adjusted(QUrl::RemovePath).toString() + QStringLiteral("/api/system/upgrade");
}

QPoint centredOn(const QPoint& pos, const QSize& size, const QSize& dialogSize)
{
    const QPoint centre = pos + QPoint((size.width() - 1) / 2, (size.height() - 1) / 2);
    return QPoint(centre.x() - dialogSize.width() / 2, centre.y() - dialogSize.height() / 2);
}

UpdateCheck::UpdateCheck(QObject* parent)
    : QObject(parent)
    , serviceUrl(upgradeServiceUrl(QString()))
{
}

UpdateCheck::~UpdateCheck()
{
    if (worker)
        worker->deleteLater();
    delete dialog;
}

void UpdateCheck::doCheck(const QString& version, const QString& fwversion)
{
    this->version = version;
    HttpRequestSpec input(serviceUrl, QStringLiteral("GET"));
    this->fwversion = fwversion;
    input.addVar(QStringLiteral("fwversion"), fwversion);
    input.addVar(QStringLiteral("version"), version);
    input.addVar(QStringLiteral("noencrypt"), QStringLiteral("1"));
    if (serviceUrl.isEmpty()) {
        LOG(INFO) << "Update Error: UpgradeUrl of conf.xml is not an http or https address of a host; no update check";
        return;
    }
    if (worker)
        worker->deleteLater();
    worker = new HttpRequestWorker(this);
    worker->timeoutMs = timeoutMs;
    worker->deadlineMs = deadlineMs;
    connect(worker, &HttpRequestWorker::on_execution_finished, this, &UpdateCheck::handle_doCheckUpdate);
    worker->execute(&input);
}

void UpdateCheck::handle_doCheckUpdate(HttpRequestWorker* worker)
{
    if (!worker)
        return;
    if (worker->errorCode != 0) {
        refuseAnswer(QStringLiteral("the request failed (%1): %2").arg(worker->errorCode).arg(worker->errorText));
        return;
    }
    QJsonParseError parsed;
    const QJsonDocument document = QJsonDocument::fromJson(QString::fromUtf8(worker->response).toUtf8(), &parsed);
    if (parsed.error != QJsonParseError::NoError) {
        refuseAnswer(QStringLiteral("the answer is no JSON (%1 at byte %2)").arg(parsed.errorString()).arg(parsed.offset));
        return;
    }
    if (!document.isObject()) {
        refuseAnswer(QStringLiteral("the answer is no JSON object"));
        return;
    }
    const QJsonObject answer = document.object();
    if (!codeIsZero(answer)) {
        // The value as the JSON text of an array's one item.
        const QByteArray code =
            QJsonDocument(QJsonArray{answer.value(QStringLiteral("code"))}).toJson(QJsonDocument::Compact);
        refuseAnswer(QStringLiteral("the answer's code is %1").arg(QString::fromUtf8(code.mid(1, code.size() - 2))));
        return;
    }

    ret = answer.value(QStringLiteral("ret")).toObject();
    const QString type = ret.value(QStringLiteral("type")).toString();
    g_updateDescription = ret.value(QStringLiteral("description")).toString();
    g_updateVersion = ret.value(QStringLiteral("cnumber")).toString();

    if (type == QLatin1String("0")) {
        delete dialog;
        dialog = new updateDlg(nullptr);
        if (Window* window = appMainWindow())
            dialog->move(centredOn(window->pos(), window->size(), dialog->size()));
        dialog->setInfo(ret, fwversion);
        if (runDialog)
            runDialog(*dialog);
        else
            dialog->exec();
    } else if (type == QLatin1String("1")) {
        g_updateArgList = updaterArguments(ret, fwversion, true);
        g_updateArgs = updaterArgumentText(g_updateArgList);
        g_runUpdaterOnExit = 1;
    }
}
