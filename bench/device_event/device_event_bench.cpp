// A device event as the user sees it, against its floor in the same engine and run. Subject: the
// simulated library's hot-plug (a device added, then removed again, event by event), raised on
// the library's own thread, through the whole program (its entry, application, main window and
// start page) to the start page's device list drawn with the device added or gone (the page asks
// "GetDevicesList" in its "devicesChanged" callback). Floor: a bare thread -> web channel -> page
// signal, raised on a thread of the benchmark's own, whose page fetches a list of the same size
// through the channel and draws it.
// On both sides the clock starts when a thread hands the event to the thread that raises it, and
// stops when the page's report that it drew the list (a page query on the program's side, a
// web-channel message on the bare one) reaches the GUI thread. Between events the start page is
// left until its new list has reached the screen; that wait is not timed.
// Runs repeat until their ratios agree over three consecutive runs; the medians are those of the
// events of the last three runs.
// Usage: bench_device_event [events per run (default 40)] [most runs (default 12)]
// Prints the medians with their min and max, how often the start page drew its
// device list per event, then the ratio with its target last; exits 1 when the ratio is above the
// target or a side could not be measured.

#include "cefqt/engine.h"
#include "program_bench.h"
#include "vqsim/vqsim.h"

#include <QEventLoop>
#include <QTimer>
#include <QWebChannel>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

using namespace bench;

namespace {

const double kTarget = 3.5; // program median / bare median

typedef std::chrono::steady_clock Clock;

// Untimed, before every event on both sides: the page draws what the last event changed, and the
// engine comes to rest.
const int kSettleMs = 20;

void settle()
{
    QEventLoop loop;
    QTimer::singleShot(kSettleMs, &loop, &QEventLoop::quit);
    loop.exec();
}

// Milliseconds from the start that the emitting thread records to the page's report of event n
// on the GUI thread.
class ArrivalClock {
public:
    void arrived(int n)
    {
        if (n == expected_)
            seen_ = Clock::now();
    }
    // Runs fire on a thread of its own and waits for the report of event n; -1 when it never came.
    double time(int n, const std::function<void()>& fire)
    {
        expected_ = n;
        seen_ = Clock::time_point();
        std::atomic<Clock::rep> started{0};
        // The GUI thread waits on its event loop at once: joining the thread first would hold
        // it for as long as the raising thread keeps the firing one off its processor.
        std::thread firing([&] {
            started = Clock::now().time_since_epoch().count();
            fire();
        });
        const bool seen = waitFor([&] { return seen_ != Clock::time_point(); });
        firing.join();
        if (!seen)
            return -1;
        const Clock::time_point start{Clock::duration(started.load())};
        return std::chrono::duration<double, std::milli>(seen_ - start).count();
    }

private:
    int expected_ = 0;
    Clock::time_point seen_;
};

// ---- the floor: a bare thread -> web channel -> page signal --------------------------------

class Source : public QObject {
    Q_OBJECT
public:
    ArrivalClock clock;
signals:
    void changed(int n);
public slots:
    void arrived(int n) { clock.arrived(n); }
    // The list the page draws for event n: as long as the program's start page's then.
    QString list(int n) const
    {
        return n % 2 ? QStringLiteral("[\"K1.0\",\"M1.0\",\"M2.0\"]") : QStringLiteral("[\"K1.0\",\"M1.0\"]");
    }
};

// Raises the events it is handed on a thread of its own, as the simulated library does.
class Raiser {
public:
    explicit Raiser(Source* source) : source_(source), thread_([this] { run(); }) {}
    ~Raiser()
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            stop_ = true;
        }
        cv_.notify_one();
        thread_.join();
    }
    void raise(int n)
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            pending_.push_back(n);
        }
        cv_.notify_one();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            cv_.wait(lock, [this] { return stop_ || !pending_.empty(); });
            if (pending_.empty())
                return;
            const int n = pending_.front();
            pending_.pop_front();
            lock.unlock();
            emit source_->changed(n);
            lock.lock();
        }
    }

    Source* source_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<int> pending_;
    bool stop_ = false;
    std::thread thread_;
};

class BarePage {
public:
    BarePage() : page_(cefqt::Profile())
    {
        channel_.registerObject(QStringLiteral("source"), &source_);
        page_.setWebChannel(&channel_);
        addWebChannelClient(page_);
        bool loaded = false;
        QObject::connect(&page_, &QWebEnginePage::titleChanged, [&loaded](const QString& t) {
            if (t == QLatin1String("ready"))
                loaded = true;
        });
        page_.setHtml(QStringLiteral(R"(<html><body><ul id="list"></ul><script>
            new QWebChannel(qt.webChannelTransport, function (ch) {
              var source = ch.objects.source;
              var list = document.getElementById("list");
              source.changed.connect(function (n) {
                source.list(n, function (text) {
                  list.textContent = "";
                  JSON.parse(text).forEach(function (version) {
                    var item = document.createElement("li");
                    item.dataset.key = version;
                    var span = document.createElement("span");
                    span.textContent = version;
                    item.appendChild(span);
                    list.appendChild(item);
                  });
                  source.arrived(n);
                });
              });
              document.title = "ready";
            });</script></body></html>)"),
                      QUrl(QStringLiteral("velmora://bench/")));
        ready_ = waitFor([&] { return loaded; });
    }

    // One event's time in milliseconds; -1 when it could not be measured.
    double one()
    {
        if (!ready_)
            return -1;
        settle();
        const int n = ++count_;
        return source_.clock.time(n, [this, n] { raiser_.raise(n); });
    }

private:
    QWebEnginePage page_;
    QWebChannel channel_;
    Source source_;
    Raiser raiser_{&source_};
    bool ready_ = false;
    int count_ = 0;
};

// ---- through the whole program -------------------------------------------------------------

// Reports each drawing of the start page's device list that shows the simulated device come or go
// (a page query, "bench-event:<n>"), and counts how often the list is drawn and how often such a
// drawing has reached the screen; loaded before the page's own script.
const char kProbe[] = R"JS((function () {
  var events = 0, listed = false;
  window.__benchDrawn = 0;
  window.__benchShown = 0;
  new MutationObserver(function (records) {
    if (!records.some(function (r) { return r.target.id === 'device-list'; }))
      return;
    ++window.__benchDrawn;
    var now = !!document.querySelector('#device-list li[data-key="M2.0"]');
    if (now !== listed) {
      listed = now;
      cefQuery({request: 'bench-event:' + (++events)});
    }
    // Shown once the frame after the one that holds the new list has begun.
    requestAnimationFrame(function () { requestAnimationFrame(function () { ++window.__benchShown; }); });
  }).observe(document, {childList: true, subtree: true});
})();)JS";

const char kDeviceId[] = "HID\\VID_1A2C&PID_0E40&MI_01\\7&3A4B5C6D&0&0000";

class ProgramPage {
public:
    // Reloads the start page with the probe in place; its reports come to the main view.
    ProgramPage(QWebEnginePage* page, QCefWebView* view) : page_(page)
    {
        QObject::connect(view, &QCefWebView::jsMessage,
                         [this](const QString& text, CefRefPtr<CefMessageRouterBrowserSide::Callback> callback) {
                             if (!text.startsWith(QLatin1String("bench-event:")))
                                 return; // a page command, for the main window
                             clock_.arrived(text.mid(12).toInt());
                             callback->Success(CefString());
                             callback->Release(); // the reference taken for the reply
                         });
        QWebEngineScript probe;
        probe.setInjectionPoint(QWebEngineScript::DocumentCreation);
        probe.setWorldId(QWebEngineScript::MainWorld);
        probe.setSourceCode(QString::fromLatin1(kProbe));
        page_->scripts().insert(probe);
        page_->triggerAction(QWebEnginePage::Reload);
        ready_ = waitFor([&] { return shown() > 0; });
    }

    // One event's time in milliseconds, adding how often the list was drawn for it to *draws; -1
    // when it could not be measured.
    double one(int* draws)
    {
        if (!ready_)
            return -1;
        const VqSim& sim = VqSim::instance();
        const bool add = !plugged_;
        plugged_ = add;
        const int before = drawn();
        const int shownBefore = shown();
        settle();
        const double ms = clock_.time(++count_, [&sim, add] {
            if (add)
                sim.addDevice((std::string("Version=M2.0\nDeviceId=") + kDeviceId + "\n").c_str());
            else
                sim.removeDevice(kDeviceId);
        });
        // What the event started: the list asked for, drawn anew and shown.
        if (ms < 0 || !waitFor([&] { return shown() > shownBefore; }))
            return -1;
        sim.waitIdle(10000);
        *draws += drawn() - before;
        return ms;
    }

private:
    int drawn() { return evaluate(page_, QStringLiteral("window.__benchDrawn || 0")).toInt(); }
    int shown() { return evaluate(page_, QStringLiteral("window.__benchShown || 0")).toInt(); }

    QWebEnginePage* page_;
    ArrivalClock clock_;
    bool ready_ = false;
    bool plugged_ = false;
    int count_ = 0;
};

} // namespace

#include "device_event_bench.moc"

namespace {

int events = 40;
int runs = kMaxRuns;

int measure(int& argc, char** argv, int code)
{
    Side bare, program;
    Stability stability;
    int draws = 0;
    Application app(argc, argv);
    if (isQuitRequested())
        return code;
    if (!VqSim::instance().loaded()) {
        std::printf("the simulated library could not be loaded\n");
        return 2;
    }
    app.init();
    QTimer::singleShot(0, [&] {
        QWebEnginePage* startPage = programStartPage();
        if (startPage) {
            ProgramPage programPage(startPage, appMainWindow()->webView());
            BarePage barePage;
            // Warm-up of both sides, then runs of events that alternate between the sides, so
            // that both meet the machine alike.
            int warmDraws = 0;
            for (int i = 0; i < 4; ++i) {
                barePage.one();
                programPage.one(&warmDraws);
            }
            // Runs until their ratios agree over three consecutive runs.
            stability = repeatUntilStable(
                [&](int i) {
                    const int run = i + 1;
                    QList<double> bareTimes, programTimes;
                    for (int e = 0; e < events; ++e) {
                        const auto record = [](QList<double>& times, double ms) {
                            if (ms >= 0)
                                times.append(ms);
                        };
                        if ((run + e) % 2) {
                            record(bareTimes, barePage.one());
                            record(programTimes, programPage.one(&draws));
                        } else {
                            record(programTimes, programPage.one(&draws));
                            record(bareTimes, barePage.one());
                        }
                    }
                    // A run with an event not measured counts as failed.
                    const bool bareMeasured = bare.add(bareTimes.size() == events ? bareTimes : QList<double>());
                    const bool programMeasured =
                        program.add(programTimes.size() == events ? programTimes : QList<double>());
                    return bareMeasured && programMeasured ? std::vector<double>{program.lastRatio(bare)}
                                                           : std::vector<double>();
                },
                runs);
        }
        quitApplication();
    });
    app.exec();

    bare.print("bare channel signal", events, "events");
    program.print("device event (program)", events, "events");
    if (program.samples.runs() > 0)
        std::printf("%-22s: %.2f per event\n", "device list drawn", double(draws) / (events * program.samples.runs()));
    printStability(stability);
    return program.report("ratio program/bare", bare, kTarget) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) { return programBenchMain(argc, argv, &events, 4, &runs, measure); }
