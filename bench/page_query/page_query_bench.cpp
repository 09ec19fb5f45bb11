// Round trip of a page query (page script -> native answer -> page callback) on QtWebEngine, against
// its floor: a bare web-channel echo in the same engine and run. Two measures: through the runtime
// layer alone (a router handler answers at once), and through the whole program (its entry, its
// application and main window, the start page asking "GetDevicesList" of the page command
// dispatcher). The sides alternate; each run's median round trip counts.
// Usage: bench_page_query [round trips per run (default 500)] [runs per side (default 15)]
// Prints the medians over the runs with their min and max, then the two ratios with their targets,
// the program's last; exits 1 when either ratio is above its target or a side could not be measured.
#include "app/application.h"
#include "app/program_entry.h"
#include "app/window.h"
#include "cefclient/qcefwebview.h"

#include "include/cef_app.h"
#include "include/cef_browser.h"
#include "include/cef_client.h"
#include "include/cef_scheme.h"
#include "include/wrapper/cef_message_router.h"
#include "cef_extras/qt_backend.h"
#include "cefqt/engine.h"
#include "cef_recording_client.h"
#include "process_folders.h"
#include "wait.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

const double kTarget = 1.3; // layer median / bare median, and program median / bare median

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

// ---- through the whole program -------------------------------------------------------------

// The value of a script in the page, waited for in steps of pollMs.
QVariant evaluate(QWebEnginePage* page, const QString& script)
{
    bool done = false;
    QVariant value;
    page->runJavaScript(script, [&](const QVariant& v) {
        value = v;
        done = true;
    });
    waitFor([&] { return done; });
    return value;
}

// The main window's start page asks "GetDevicesList" rounds times in a row.
QList<double> runProgram(QWebEnginePage* page, int rounds)
{
    evaluate(page, QString(R"((function () {
        window.__bench = null;
        var times = [], i = 0, request = JSON.stringify({FuncName: "GetDevicesList"});
        function next() {
          if (i++ === %1) { window.__bench = JSON.stringify(times); return; }
          var t0 = performance.now();
          cefQuery({request: request, onSuccess: function () { times.push(performance.now() - t0); next(); }});
        }
        next();
        return 0;
      })())").arg(rounds));
    // Polled seldom, so that the polls hardly take the page's time.
    QString report;
    for (int waited = 0; report.isEmpty() && waited < 60000; waited += 100) {
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
        report = evaluate(page, QStringLiteral("window.__bench")).toString();
    }
    return fromJson(report);
}

// The start page of the program's main window once it lists the devices; null after a minute.
QWebEnginePage* programStartPage()
{
    QWebEnginePage* page = nullptr;
    waitFor([&] {
        Window* window = appMainWindow();
        const QList<QWebEngineView*> views =
            window && window->webView ? window->webView->findChildren<QWebEngineView*>() : QList<QWebEngineView*>();
        page = views.isEmpty() ? nullptr : views.first()->page();
        return page && evaluate(page, QStringLiteral("document.querySelectorAll('#device-list li').length")).toInt() > 0;
    });
    return page;
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

namespace {

int rounds = 500;
int runs = 15;

// Inside the program's application: both measures and the echo, alternating.
int measure(int& argc, char** argv, int code)
{
    CefRefPtr<test_support::SiteFactory> site = new test_support::SiteFactory;
    site->Put("/page.html", layerPage(rounds));
    CefRegisterSchemeHandlerFactory("velmora", "bench", site.get());

    Side bare, layer, program;
    Application app(argc, argv);
    if (isQuitRequested())
        return code;
    app.init();
    QTimer::singleShot(0, [&] {
        CefRefPtr<BenchClient> client = new BenchClient;
        QWebEnginePage* startPage = programStartPage();
        if (startPage) {
            BarePage barePage;
            // Warm-up of every side, then alternating runs, each side first in turn.
            barePage.run(20);
            runLayer(client, 0);
            runProgram(startPage, 20);
            for (int run = 1; run <= runs; ++run) {
                std::function<void()> sides[] = {[&] { bare.add(barePage.run(rounds)); },
                                                 [&] { layer.add(runLayer(client, run)); },
                                                 [&] { program.add(runProgram(startPage, rounds)); }};
                for (int i = 0; i < 3; ++i)
                    sides[(run + i) % 3]();
            }
        }
        if (client->browser_) {
            client->browser_->GetHost()->CloseBrowser(true);
            waitFor([&] { return client->closed; });
        }
        quitApplication();
    });
    app.exec();

    bare.print("bare web-channel echo", rounds);
    layer.print("page query (layer)", rounds);
    program.print("page command (program)", rounds);
    const double floor = bare.runMedians.isEmpty() || bare.failed ? 0 : median(bare.runMedians);
    // Each ratio with its target; false when it misses it or could not be measured.
    const auto report = [floor](const char* name, const Side& side) {
        if (side.failed || side.runMedians.isEmpty() || floor <= 0) {
            std::printf("%-22s: n/a (a side could not be measured)\n", name);
            return false;
        }
        const double ratio = median(side.runMedians) / floor;
        std::printf("%-22s: %.2f (target <= %.2f)\n", name, ratio, kTarget);
        return ratio <= kTarget;
    };
    const bool layerMet = report("ratio layer/bare", layer);
    const bool programMet = report("ratio program/bare", program);
    return layerMet && programMet ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The dispatcher's trace of every command name would flood the output.
    qputenv("QT_LOGGING_RULES", "default.debug=false");
    // A temporary folder of this run: its single-instance server, unpacked pages and cache.
    const std::string tmp = test_support::useFreshProcessFolders("tm-bench");
    if (tmp.empty())
        return 2;
    if (argc > 1)
        rounds = std::max(10, std::atoi(argv[1]));
    if (argc > 2)
        runs = std::max(1, std::atoi(argv[2]));
    int appArgc = 1;
    const int rc = programMain(appArgc, argv, {cefqt::InstallBackend, measure, [] {}});
    QDir(QString::fromStdString(tmp)).removeRecursively();
    return rc;
}
