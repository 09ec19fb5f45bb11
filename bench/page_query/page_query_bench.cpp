// Round trip of a page query (page script -> native answer -> page callback) on QtWebEngine, against
// its floor: a bare web-channel echo in the same engine and run. Two measures: through the runtime
// layer alone (a router handler answers at once), and through the whole program (its entry, its
// application and main window, the start page asking "GetDevicesList" of the page command
// dispatcher). The sides alternate; runs repeat until both ratios agree over three consecutive
// runs, and the medians are those of the round trips of the last three runs.
// Usage: bench_page_query [round trips per run (default 2000)] [most runs (default 12)]
// Prints the medians with their min and max, then the two ratios with their targets, the
// program's last; exits 1 when either ratio is above its target or a side could not be measured.
#include "app/application.h"
#include "app/window.h"
#include "cefclient/qcefwebview.h"

#include "include/cef_app.h"
#include "include/cef_browser.h"
#include "include/cef_client.h"
#include "include/cef_scheme.h"
#include "include/wrapper/cef_message_router.h"
#include "cefqt/engine.h"
#include "cef_recording_client.h"
#include "program_bench.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

using namespace bench;

namespace {

const double kTarget = 1.3; // layer median / bare median, and program median / bare median
const int kChunk = 50;      // round trips a side makes before the next side's turn

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
        addWebChannelClient(page_);
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

// The number of round trips comes from the address ("?rounds=<n>&load=<k>").
std::string layerPage()
{
    return QString(R"(<html><body>layer<script>
      var rounds = Number(new URLSearchParams(location.search).get("rounds"));
      var times = [], i = 0;
      function next() {
        if (i++ === rounds) { cefQuery({request: "report:" + JSON.stringify(times)}); return; }
        var t0 = performance.now();
        cefQuery({request: "ping", onSuccess: function () { times.push(performance.now() - t0); next(); }});
      }
      next();
    </script></body></html>)").toStdString();
}

QList<double> runLayer(CefRefPtr<BenchClient> client, int rounds)
{
    client->done = false;
    client->times.clear();
    // A new address each time, so that the page loads anew.
    static int loads = 0;
    const std::string url =
        "velmora://bench/page.html?rounds=" + std::to_string(rounds) + "&load=" + std::to_string(++loads);
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

} // namespace

#include "page_query_bench.moc"

namespace {

int rounds = 2000;
int runs = kMaxRuns;

// Inside the program's application: both measures and the echo, alternating.
int measure(int& argc, char** argv, int code)
{
    CefRefPtr<test_support::SiteFactory> site = new test_support::SiteFactory;
    site->Put("/page.html", layerPage());
    CefRegisterSchemeHandlerFactory("velmora", "bench", site.get());

    Side bare, layer, program;
    Stability stability;
    Application app(argc, argv);
    if (isQuitRequested())
        return code;
    app.init();
    QTimer::singleShot(0, [&] {
        CefRefPtr<BenchClient> client = new BenchClient;
        QWebEnginePage* startPage = programStartPage();
        if (startPage) {
            BarePage barePage;
            // Warm-up of every side.
            barePage.run(20);
            runLayer(client, 20);
            runProgram(startPage, 20);
            // Runs until both ratios agree over three consecutive runs.
            stability = repeatUntilStable(
                [&](int i) {
                    const int run = i + 1;
                    // The sides take turns in chunks of round trips, so that all three meet the
                    // machine's load alike; each chunk's order is turned by one.
                    QList<double> bareTimes, layerTimes, programTimes;
                    bool measured = true;
                    const auto append = [&measured](QList<double>& times, const QList<double>& chunk) {
                        measured = measured && !chunk.isEmpty();
                        times.append(chunk);
                    };
                    for (int done = 0, chunk = 0; done < rounds && measured; done += kChunk, ++chunk) {
                        const int n = std::min(kChunk, rounds - done);
                        std::function<void()> sides[] = {
                            [&] { append(bareTimes, barePage.run(n)); },
                            [&] { append(layerTimes, runLayer(client, n)); },
                            [&] { append(programTimes, runProgram(startPage, n)); }};
                        for (int k = 0; k < 3; ++k)
                            sides[(run + chunk + k) % 3]();
                    }
                    if (!measured) {
                        bare.failed = layer.failed = program.failed = true;
                        return std::vector<double>();
                    }
                    bare.add(bareTimes);
                    layer.add(layerTimes);
                    program.add(programTimes);
                    return std::vector<double>{layer.lastRatio(bare), program.lastRatio(bare)};
                },
                runs);
        }
        if (client->browser_) {
            client->browser_->GetHost()->CloseBrowser(true);
            waitFor([&] { return client->closed; });
        }
        quitApplication();
    });
    app.exec();

    bare.print("bare web-channel echo", rounds, "round trips");
    layer.print("page query (layer)", rounds, "round trips");
    program.print("page command (program)", rounds, "round trips");
    printStability(stability, {"layer/bare", "program/bare"});
    const bool layerMet = layer.report("ratio layer/bare", bare, kTarget);
    const bool programMet = program.report("ratio program/bare", bare, kTarget);
    return layerMet && programMet ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) { return programBenchMain(argc, argv, &rounds, 10, &runs, measure); }
