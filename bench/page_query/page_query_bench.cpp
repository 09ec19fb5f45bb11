// Median round trip of a page query (page script -> native answer -> page callback):
// a bare web-channel echo against the same trip through the runtime layer, in one
// engine and one run. Run by hand: bench_page_query [rounds]
#include "include/cef_app.h"
#include "include/cef_browser.h"
#include "include/cef_client.h"
#include "include/cef_render_process_handler.h"
#include "include/cef_scheme.h"
#include "include/cef_stream.h"
#include "include/wrapper/cef_message_router.h"
#include "include/wrapper/cef_stream_resource_handler.h"
#include "cef_extras/qt_backend.h"
#include "cefqt/engine.h"
#include "cef_recording_client.h"
#include "wait.h"

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>

namespace {

bool waitFor(const std::function<bool()>& done, int ms)
{
    return test_support::waitFor(done, ms, 2);
}

double median(QList<double> v)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    const int n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Receives the timings the page measured (milliseconds, one per round trip).
class Sink : public QObject {
    Q_OBJECT
public:
    QList<double> times;
    bool done = false;
public slots:
    QString echo(const QString& text) { return text; }
    void report(const QString& json)
    {
        for (const QJsonValue& v : QJsonDocument::fromJson(json.toUtf8()).array())
            times.append(v.toDouble());
        done = true;
    }
};

// Page that times `rounds` sequential echo calls over a plain web channel.
QString bareLoop(int rounds)
{
    return QString(R"(
      new QWebChannel(qt.webChannelTransport, function (ch) {
        var sink = ch.objects.sink, times = [], i = 0;
        function next() {
          if (i++ === %1) { sink.report(JSON.stringify(times)); return; }
          var t0 = performance.now();
          sink.echo("ping", function (r) { times.push(performance.now() - t0); next(); });
        }
        next();
      });)").arg(rounds);
}

QList<double> runBare(int rounds)
{
    QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    file.open(QIODevice::ReadOnly);
    QWebEnginePage page(cefqt::Profile());
    QWebChannel channel;
    Sink sink;
    channel.registerObject(QStringLiteral("sink"), &sink);
    page.setWebChannel(&channel);
    QWebEngineScript script;
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setSourceCode(QString::fromUtf8(file.readAll()) + bareLoop(rounds));
    page.scripts().insert(script);
    page.setHtml(QStringLiteral("<html><body>bare</body></html>"), QUrl(QStringLiteral("velmora://settings/")));
    if (!waitFor([&] { return sink.done; }, 60000))
        std::fprintf(stderr, "bare echo: timed out\n");
    return sink.times;
}

// ---- through the runtime layer --------------------------------------------------------

class BenchApp : public CefApp, public CefRenderProcessHandler {
public:
    CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() override { return this; }
    void OnWebKitInitialized() override { router_ = CefMessageRouterRendererSide::Create(CefMessageRouterConfig()); }
    void OnContextCreated(CefRefPtr<CefBrowser> b, CefRefPtr<CefFrame> f, CefRefPtr<CefV8Context> c) override
    {
        router_->OnContextCreated(b, f, c);
    }
    void OnContextReleased(CefRefPtr<CefBrowser> b, CefRefPtr<CefFrame> f, CefRefPtr<CefV8Context> c) override
    {
        router_->OnContextReleased(b, f, c);
    }
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> b, CefProcessId p, CefRefPtr<CefProcessMessage> m) override
    {
        return router_->OnProcessMessageReceived(b, p, m);
    }

private:
    CefRefPtr<CefMessageRouterRendererSide> router_;
    IMPLEMENT_REFCOUNTING(BenchApp);
};

// Answers "ping" at once (UI thread); "report:<json>" carries the page's timings.
class BenchClient : public CefClient, public CefMessageRouterBrowserSide::Handler {
public:
    BenchClient()
    {
        router_ = CefMessageRouterBrowserSide::Create(CefMessageRouterConfig());
        router_->AddHandler(this, false);
    }
    ~BenchClient() override { router_->RemoveHandler(this); }
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> b, CefProcessId p, CefRefPtr<CefProcessMessage> m) override
    {
        return router_->OnProcessMessageReceived(b, p, m);
    }
    bool OnQuery(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int64, const CefString& request, bool,
                 CefRefPtr<Callback> callback) override
    {
        const QString r = QString::fromStdString(request.ToString());
        if (r.startsWith(QLatin1String("report:"))) {
            std::lock_guard<std::mutex> l(m_);
            for (const QJsonValue& v : QJsonDocument::fromJson(r.mid(7).toUtf8()).array())
                times_.append(v.toDouble());
            done_ = true;
        }
        callback->Success(r == QLatin1String("ping") ? CefString("pong") : CefString());
        return true;
    }
    bool done()
    {
        std::lock_guard<std::mutex> l(m_);
        return done_;
    }
    QList<double> times()
    {
        std::lock_guard<std::mutex> l(m_);
        return times_;
    }
    void reset()
    {
        std::lock_guard<std::mutex> l(m_);
        times_.clear();
        done_ = false;
    }

private:
    std::mutex m_;
    QList<double> times_;
    bool done_ = false;
    CefRefPtr<CefMessageRouterBrowserSide> router_;
    IMPLEMENT_REFCOUNTING(BenchClient);
};

std::string layerPage(int rounds)
{
    return QString(R"(<html><body>layer<script>
      var times = [], i = 0;
      function next() {
        if (i++ === %1) { cefQuery({request: "report:" + JSON.stringify(times)}); return; }
        var t0 = performance.now();
        cefQuery({request: "ping", onSuccess: function () { times.push(performance.now() - t0); next(); }});
      }
      next();
    </script></body></html>)").arg(rounds).toStdString();
}

QList<double> runLayer(CefRefPtr<BenchClient> client)
{
    client->reset();
    CefWindowInfo info;
    info.SetAsWindowless(0, false);
    CefBrowserHost::CreateBrowser(info, client.get(), "velmora://bench/page.html", CefBrowserSettings());
    if (!waitFor([&] { return client->done(); }, 60000))
        std::fprintf(stderr, "layer query: timed out\n");
    return client->times();
}

} // namespace

#include "page_query_bench.moc"

int main(int argc, char** argv)
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int rounds = argc > 1 ? std::max(10, atoi(argv[1])) : 500;
    QTemporaryDir cache;
    CefRefPtr<BenchApp> benchApp = new BenchApp;
    CefMainArgs args(argc, argv);
    CefSettings settings;
    settings.no_sandbox = 1;
    settings.multi_threaded_message_loop = 1;
    CefString(&settings.cache_path) = cache.path().toStdString() + "/Cache";
    cefqt::InstallBackend();
    CefInitialize(args, settings, benchApp.get(), nullptr);
    CefRefPtr<test_support::SiteFactory> factory = new test_support::SiteFactory;
    factory->Put("/page.html", layerPage(rounds));
    CefRegisterSchemeHandlerFactory("velmora", "bench", factory.get());
    int rc = 0;
    {
        QApplication app(argc, argv);
        CefRefPtr<BenchClient> client = new BenchClient;
        // Warm-up of both paths, then alternate runs of each.
        runBare(20);
        runLayer(client);
        QList<double> bare, layer;
        for (int round = 0; round < 2; ++round) {
            bare += runBare(rounds);
            layer += runLayer(client);
        }
        const double b = median(bare), l = median(layer);
        std::printf("bare web-channel echo : %d round trips, median %.3f ms\n", int(bare.size()), b);
        std::printf("page query (layer)    : %d round trips, median %.3f ms\n", int(layer.size()), l);
        if (bare.isEmpty() || layer.isEmpty() || b <= 0) {
            std::printf("ratio layer/bare      : n/a\n");
            rc = 1;
        } else {
            std::printf("ratio layer/bare      : %.2f\n", l / b);
        }
    }
    CefShutdown();
    return rc;
}
