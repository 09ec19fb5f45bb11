// Idle wakeups of the running program's GUI thread, against a bare engine view of the same start
// page in the same process and run. The bare view (the page from the source tree, without the
// program behind it) is measured first and closed; then the program starts through its own entry,
// and once its start page lists the devices and has settled, its GUI thread is measured the same
// way. A wakeup is one time the thread's event loop went to sleep waiting for events.
// Usage: bench_idle_wakeups [seconds per side (default 20)] [settle seconds (default 5)]
// Prints both rates and their ratio last, the floor's rate counted as at least one a second (below
// that the difference means nothing); exits 1 when the ratio is above the target or a side could
// not be measured.
#include "idle_wakeups.h"
#include "program_bench.h"

#include <QUrl>
#include <QWebEngineView>

#include <cstdio>

using namespace bench;

namespace {

const double kTarget = 1.5; // program wakeups a second / bare wakeups a second (at least 1)

int seconds = 20;
int settleSeconds = 5;

// Wakeups a second over the measuring time, after the settling time; -1 when not measured.
double rate()
{
    test_support::countWakeups(settleSeconds * 1000);
    const int wakeups = test_support::countWakeups(seconds * 1000);
    return wakeups < 0 ? -1 : double(wakeups) / seconds;
}

double bareRate()
{
    QWebEngineView view;
    view.resize(1000, 700);
    bool loaded = false;
    QObject::connect(&view, &QWebEngineView::loadFinished, [&loaded] { loaded = true; });
    view.load(QUrl::fromLocalFile(QStringLiteral(TM_PAGES_DIR "/main/index.html")));
    view.show();
    if (!waitFor([&] { return loaded; }))
        return -1;
    return rate();
}

int measure(int& argc, char** argv, int code)
{
    Application app(argc, argv);
    if (isQuitRequested())
        return code;
    const double bare = bareRate();
    double program = -1;
    app.init();
    QTimer::singleShot(0, [&] {
        if (programStartPage())
            program = rate();
        quitApplication();
    });
    app.exec();

    if (bare < 0 || program < 0) {
        std::printf("%-22s: n/a (a side could not be measured)\n", "ratio program/bare");
        return 1;
    }
    std::printf("%-22s: %.2f wakeups a second over %d s\n", "bare view", bare, seconds);
    std::printf("%-22s: %.2f wakeups a second over %d s\n", "program", program, seconds);
    const double ratio = program / std::max(bare, 1.0);
    std::printf("%-22s: %.2f (target <= %.2f)\n", "ratio program/bare", ratio, kTarget);
    return ratio <= kTarget ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) { return programBenchMain(argc, argv, &seconds, 2, &settleSeconds, measure); }
