// Round trip of a page query (page script -> native answer -> page callback) through the
// runtime layer on QtWebEngine, against its floor: a bare web-channel echo in the same engine
// and run. The two sides alternate; each run's median round trip counts.
// Usage: bench_page_query [round trips per run (default 500)] [runs per side (default 7)]
// Prints the medians over the runs with their min and max, then the ratio; exits 1 when the
// ratio is above the target or a side could not be measured.
#include "include/cef_app.h"
#include "include/cef_browser.h"
#include "include/cef_client.h"
#include "include/cef_render_process_handler.h"
#include "include/cef_scheme.h"
#include "include/wrapper/cef_message_router.h"
#include "cef_extras/qt_backend.h"
#include "cefqt/engine.h"
#include "cef_recording_client.h"
#include "wait.h"

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

const double kTarget = 1.3; // layer median / bare median

bool waitFor(const std::function<bool()>& done)
{
    return test_support::waitFor(done, 60000, 1);
}

double median(QList<double> v)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    const int n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QList<double> fromJson(const QString& json)
{
    QList<double> times;
    for (const QJsonValue& v : QJsonDocument::fromJson(json.toUtf8()).array())
        times.append(v.toDouble());
    return times;
}

// ---- the floor: a bare web-channel echo ---------------------------------------------------

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
        times = fromJson(json);
        done = true;
    }
};

class BarePage {
public:
    BarePage() : page_(cefqt::Profile())
    {
        channel_.registerObject(QStringLiteral("sink"), &sink_);
        page_.setWebChannel(&channel_);
        QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
        file.open(QIODevice::ReadOnly);
        QWebEngineScript script;
        script.setInjectionPoint(QWebEngineScript::DocumentCreation);
        script.setWorldId(QWebEngineScript::MainWorld);
        script.setSourceCode(QString::fromUtf8(file.readAll()));
        page_.scripts().insert(script);
    }

    QList<double> run(int rounds)
    {
        sink_.done = false;
        sink_.times.clear();
        page_.setHtml(QString(R"(<html><body>bare<script>
            new QWebChannel(qt.webChannelTransport, function (ch) {
              var sink = ch.objects.sink, times = [], i = 0;
              function next() {
                if (i++ === %1) { sink.report(JSON.stringify(times)); return; }
                var t0 = performance.now();
                sink.echo("ping", function () { times.push(performance.now() - t0); next(); });
              }
              next();
            });</script></body></html>)").arg(rounds),
                      QUrl(QStringLiteral("velmora://bench/")));
        if (!waitFor([&] { return sink_.done; }))
            return {};
        return sink_.times;
    }

private:
    QWebEnginePage page_;
    QWebChannel channel_;
    Sink sink_;
};

// ---- through the runtime layer -------------------------------------------------------------

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

// Answers "ping" with "pong" at once; "report:<json>" carries the page's timings.
class BenchClient : public CefClient, public CefLifeSpanHandler, public CefMessageRouterBrowserSide::Handler {
public:
    BenchClient()
    {
        router_ = CefMessageRouterBrowserSide::Create(CefMessageRouterConfig());
        router_->AddHandler(this, false);
    }
    ~BenchClient() override { router_->RemoveHandler(this); }

    CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() override { return this; }
    void OnAfterCreated(CefRefPtr<CefBrowser> browser) override { browser_ = browser; }
    void OnBeforeClose(CefRefPtr<CefBrowser> browser) override
    {
        router_->OnBeforeClose(browser);
        browser_ = nullptr;
        closed = true;
    }
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> b, CefProcessId p, CefRefPtr<CefProcessMessage> m) override
    {
        return router_->OnProcessMessageReceived(b, p, m);
    }
    bool OnQuery(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int64, const CefString& request, bool,
                 CefRefPtr<Callback> callback) override
    {
        const std::string r = request.ToString();
        if (r.compare(0, 7, "report:") == 0) {
            times = fromJson(QString::fromStdString(r.substr(7)));
            done = true;
        }
        callback->Success(r == "ping" ? CefString("pong") : CefString());
        return true;
    }

    CefRefPtr<CefBrowser> browser_; // UI thread, the GUI thread here
    QList<double> times;
    bool done = false;
    bool closed = false;

private:
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

QList<double> runLayer(CefRefPtr<BenchClient> client, int run)
{
    client->done = false;
    client->times.clear();
    const std::string url = "velmora://bench/page.html?run=" + std::to_string(run);
    if (!client->browser_) {
        CefWindowInfo info;
        info.SetAsWindowless(0, false);
        CefBrowserHost::CreateBrowser(info, client.get(), url, CefBrowserSettings());
    } else {
        client->browser_->GetMainFrame()->LoadURL(url);
    }
    if (!waitFor([&] { return client->done; }))
        return {};
    return client->times;
}

struct Side {
    QList<double> runMedians;
    bool failed = false;

    void add(const QList<double>& times)
    {
        if (times.isEmpty())
            failed = true;
        else
            runMedians.append(median(times));
    }
    void print(const char* name, int rounds) const
    {
        if (runMedians.isEmpty()) {
            std::printf("%-22s: no measurement\n", name);
            return;
        }
        std::printf("%-22s: %d runs of %d round trips, median %.3f ms (min %.3f, max %.3f)\n", name,
                    int(runMedians.size()), rounds, median(runMedians),
                    *std::min_element(runMedians.begin(), runMedians.end()),
                    *std::max_element(runMedians.begin(), runMedians.end()));
    }
};

} // namespace

#include "page_query_bench.moc"

int main(int argc, char** argv)
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 500;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

    QTemporaryDir cache;
    CefRefPtr<BenchApp> benchApp = new BenchApp;
    CefMainArgs args(argc, argv);
    CefSettings settings;
    settings.no_sandbox = 1;
    settings.multi_threaded_message_loop = 1;
    CefString(&settings.cache_path) = cache.path().toStdString() + "/Cache";
    cefqt::InstallBackend();
    CefInitialize(args, settings, benchApp.get(), nullptr);
    CefRefPtr<test_support::SiteFactory> site = new test_support::SiteFactory;
    site->Put("/page.html", layerPage(rounds));
    CefRegisterSchemeHandlerFactory("velmora", "bench", site.get());

    Side bare, layer;
    {
        QApplication app(argc, argv);
        CefRefPtr<BenchClient> client = new BenchClient;
        {
            BarePage barePage;
            // Warm-up of both sides, then alternating runs, each side first in turn.
            barePage.run(20);
            runLayer(client, 0);
            for (int run = 1; run <= runs; ++run) {
                if (run % 2) {
                    bare.add(barePage.run(rounds));
                    layer.add(runLayer(client, run));
                } else {
                    layer.add(runLayer(client, run));
                    bare.add(barePage.run(rounds));
                }
            }
        }
        if (client->browser_) {
            client->browser_->GetHost()->CloseBrowser(true);
            waitFor([&] { return client->closed; });
        }
    }
    CefShutdown();

    bare.print("bare web-channel echo", rounds);
    layer.print("page query (layer)", rounds);
    if (bare.failed || layer.failed || bare.runMedians.isEmpty() || median(bare.runMedians) <= 0) {
        std::printf("ratio layer/bare      : n/a (a side could not be measured)\n");
        return 1;
    }
    const double ratio = median(layer.runMedians) / median(bare.runMedians);
    std::printf("ratio layer/bare      : %.2f (target <= %.2f)\n", ratio, kTarget);
    return ratio <= kTarget ? 0 : 1;
}
