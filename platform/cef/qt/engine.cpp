#include "cefqt/engine.h"
#include "cefqt/engine_page.h"

#include "include/base/cef_logging.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QMutex>
#include <QWebEngineDownloadItem>
#include <QMutexLocker>
#include <QPointer>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QtGlobal>

#include <atomic>
#include <mutex>

namespace cefqt {
namespace {

struct State {
    QMutex mutex;
    QList<QByteArray> schemes;
    QHash<QByteArray, ServeFn> servers;
    ProfileSettings settings;
    std::function<void(QWebEngineDownloadItem*)> downloadObserver;
    QWebEngineProfile* profile = nullptr;
};

State& state()
{
    static State* s = new State; // outlives every static destructor that may log
    return *s;
}

bool isEngineScheme(const QByteArray& s)
{
    static const char* const owned[] = {"http", "https", "file", "ftp", "data", "about", "blob", "javascript",
                                        "chrome", "qrc", "ws", "wss", "filesystem", "view-source", "mailto"};
    for (const char* o : owned)
        if (s == o)
            return true;
    return false;
}

// One handler per scheme; jobs are answered asynchronously through the server.
class SchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    SchemeHandler(const QByteArray& scheme, QObject* parent)
        : QWebEngineUrlSchemeHandler(parent), scheme_(scheme)
    {
    }

    void requestStarted(QWebEngineUrlRequestJob* job) override
    {
        ServeFn serve;
        {
            QMutexLocker lock(&state().mutex);
            serve = state().servers.value(scheme_);
        }
        if (!serve) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        ResourceRequest request;
        request.url = job->requestUrl();
        request.method = job->requestMethod();
        const QMap<QByteArray, QByteArray> headers = job->requestHeaders();
        for (auto it = headers.begin(); it != headers.end(); ++it)
            request.headers.append(qMakePair(it.key(), it.value()));

        // The answer may come from any thread; it is applied on this (GUI) thread and
        // only while the job still exists.
        struct Pending {
            std::atomic<bool> answered{false};
            CancelFn cancel;
        };
        auto pending = std::make_shared<Pending>();
        QPointer<QWebEngineUrlRequestJob> guard(job);
        ReplyFn reply = [guard, pending](ResourceReply r) {
            if (pending->answered.exchange(true))
                return;
            PostToGui([guard, r]() {
                if (!guard)
                    return;
                switch (r.kind) {
                case ResourceReply::Data: {
                    auto* buffer = new QBuffer(guard.data());
                    buffer->setData(r.body);
                    buffer->open(QIODevice::ReadOnly);
                    guard->reply(r.mimeType.isEmpty() ? QByteArray("text/html") : r.mimeType, buffer);
                    break;
                }
                case ResourceReply::Redirect:
                    guard->redirect(r.redirect);
                    break;
                case ResourceReply::NotFound:
                    guard->fail(QWebEngineUrlRequestJob::UrlNotFound);
                    break;
                case ResourceReply::Aborted:
                    guard->fail(QWebEngineUrlRequestJob::RequestAborted);
                    break;
                case ResourceReply::Failed:
                    guard->fail(QWebEngineUrlRequestJob::RequestFailed);
                    break;
                }
            });
        };
        QObject::connect(job, &QObject::destroyed, this, [pending]() {
            if (!pending->answered.exchange(true) && pending->cancel)
                pending->cancel();
        });
        pending->cancel = serve(request, reply);
    }

private:
    QByteArray scheme_;
};

} // namespace

void PrepareProcess(bool noSandbox)
{
    if (noSandbox)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Views without a display need the software scene graph.
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && !qEnvironmentVariableIsSet("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    if (!QCoreApplication::instance())
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

bool RegisterStandardScheme(const QByteArray& scheme)
{
    const QByteArray name = scheme.toLower();
    if (name.isEmpty() || isEngineScheme(name))
        return false;
    QMutexLocker lock(&state().mutex);
    if (state().schemes.contains(name))
        return true;
    if (QCoreApplication::instance()) {
        LOG(WARNING) << "scheme " << name.constData() << " registered after the application started: ignored";
        return false;
    }
    QWebEngineUrlScheme s(name);
    s.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    s.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed |
               QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(s);
    state().schemes.append(name);
    return true;
}

bool IsRegisteredScheme(const QByteArray& scheme)
{
    QMutexLocker lock(&state().mutex);
    return state().schemes.contains(scheme.toLower());
}

void SetProfileSettings(const ProfileSettings& settings)
{
    QMutexLocker lock(&state().mutex);
    state().settings = settings;
}

QString CachePathFromSettings(QString path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path.isEmpty() ? path : QDir::cleanPath(path);
}

namespace {

struct GuiTarget {
    std::mutex m;
    QCoreApplication* app = nullptr;
    bool tornDown = false;
};
GuiTarget& guiTarget()
{
    static GuiTarget* t = new GuiTarget; // used until process exit
    return *t;
}

void guiTeardownStarts()
{
    GuiTarget& t = guiTarget();
    std::lock_guard<std::mutex> l(t.m);
    t.app = nullptr;
    t.tornDown = true;
}

} // namespace

void NoteGuiApplication()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    GuiTarget& t = guiTarget();
    std::lock_guard<std::mutex> l(t.m);
    if (t.app || t.tornDown)
        return;
    t.app = app;
    qAddPostRoutine(&guiTeardownStarts);
}

void PostToGui(std::function<void()> fn)
{
    GuiTarget& t = guiTarget();
    std::lock_guard<std::mutex> l(t.m);
    QCoreApplication* app = t.app;
    if (!app) {
        if (t.tornDown)
            return;
        app = QCoreApplication::instance(); // not remembered yet
        if (!app)
            return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void SetSchemeServer(const QByteArray& scheme, ServeFn serve)
{
    QMutexLocker lock(&state().mutex);
    state().servers.insert(scheme.toLower(), std::move(serve));
}

void SetDownloadObserver(std::function<void(QWebEngineDownloadItem*)> observer)
{
    QMutexLocker lock(&state().mutex);
    state().downloadObserver = std::move(observer);
}

bool HasProfile()
{
    QMutexLocker lock(&state().mutex);
    return state().profile != nullptr;
}

QWebEngineProfile* Profile()
{
    ProfileSettings settings;
    QList<QByteArray> schemes;
    {
        QMutexLocker lock(&state().mutex);
        if (state().profile)
            return state().profile;
        settings = state().settings;
        schemes = state().schemes;
    }
    QWebEngineProfile* profile = nullptr;
    if (settings.cachePath.isEmpty()) {
        profile = new QWebEngineProfile(); // off the record: nothing on disk
    } else {
        QDir().mkpath(settings.cachePath);
        profile = new QWebEngineProfile(QStringLiteral("Default"));
        profile->setPersistentStoragePath(settings.cachePath);
        profile->setCachePath(settings.cachePath + QStringLiteral("/Cache"));
        profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        profile->setPersistentCookiesPolicy(settings.persistentCookies ? QWebEngineProfile::ForcePersistentCookies
                                                                       : QWebEngineProfile::NoPersistentCookies);
    }
    if (!settings.userAgent.isEmpty())
        profile->setHttpUserAgent(settings.userAgent);
    if (!settings.locale.isEmpty())
        profile->setHttpAcceptLanguage(settings.locale);
    for (const QByteArray& scheme : schemes)
        profile->installUrlSchemeHandler(scheme, new SchemeHandler(scheme, profile));
    QObject::connect(profile, &QWebEngineProfile::downloadRequested, profile, [](QWebEngineDownloadItem* item) {
        std::function<void(QWebEngineDownloadItem*)> observer;
        {
            QMutexLocker lock(&state().mutex);
            observer = state().downloadObserver;
        }
        if (observer)
            observer(item);
    });
    {
        QMutexLocker lock(&state().mutex);
        state().profile = profile;
    }
    return profile;
}

void ReleaseProfile()
{
    QWebEngineProfile* profile = nullptr;
    {
        QMutexLocker lock(&state().mutex);
        profile = state().profile;
        state().profile = nullptr;
    }
    delete profile;
}

} // namespace cefqt
