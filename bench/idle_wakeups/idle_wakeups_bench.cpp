// Idle wakeups of the running program's GUI thread, against a bare engine view of the same start
// page in the same process and run. The bare view (the page from the source tree, without the
// program behind it) is measured first and closed; then the program starts through its own entry,
// and once its start page lists the devices and has settled, its GUI thread is measured the same
// way. A wakeup is one time the thread's event loop went to sleep waiting for events. Each side is
// measured in runs until three consecutive runs' rates agree, and its rate is the median of those.
// Usage: bench_idle_wakeups [seconds per run (default 10)] [settle seconds (default 5)]
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

int seconds = 10;
int settleSeconds = 5;

// A side's wakeups a second, run after run of `seconds` each after the settling time, until three
// consecutive runs agree (each counted as at least one a second); false when not measured.
bool measureRates(RunSamples* rates, Stability* stability)
{
    test_support::countWakeups(settleSeconds * 1000);
    *stability = repeatUntilStable([&](int) {
        const int wakeups = test_support::countWakeups(seconds * 1000);
        if (wakeups < 0)
            return std::vector<double>();
        const double rate = double(wakeups) / seconds;
        rates->add({rate});
        return std::vector<double>{std::max(rate, 1.0)};
    });
    return !stability->failed;
}

bool bareRates(RunSamples* rates, Stability* stability)
{
    QWebEngineView view;
    view.resize(1000, 700);
    bool loaded = false;
    QObject::connect(&view, &QWebEngineView::loadFinished, [&loaded] { loaded = true; });
    view.load(QUrl::fromLocalFile(QStringLiteral(TM_PAGES_DIR "/main/index.html")));
    view.show();
    return waitFor([&] { return loaded; }) && measureRates(rates, stability);
}

void printRates(const char* name, const RunSamples& rates, const Stability& stability)
{
    const Stats t = rates.lastStats();
    std::printf("%-22s: %d runs of %d s, last three: median %.2f wakeups a second (min %.2f, max %.2f)\n", name,
                stability.runs, seconds, t.median, t.min, t.max);
    printStability(stability, {"wakeups a second (at least 1)"});
}

int measure(int& argc, char** argv, int code)
{
    Application app(argc, argv);
    if (isQuitRequested())
        return code;
    RunSamples bare, program;
    Stability bareStability, programStability;
    const bool bareMeasured = bareRates(&bare, &bareStability);
    bool programMeasured = false;
    app.init();
    QTimer::singleShot(0, [&] {
        programMeasured = programStartPage() && measureRates(&program, &programStability);
        quitApplication();
    });
    app.exec();

    if (!bareMeasured || !programMeasured) {
        std::printf("%-22s: n/a (a side could not be measured)\n", "ratio program/bare");
        return 1;
    }
    printRates("bare view", bare, bareStability);
    printRates("program", program, programStability);
    const double ratio = program.lastStats().median / std::max(bare.lastStats().median, 1.0);
    std::printf("%-22s: %.2f (target <= %.2f)\n", "ratio program/bare", ratio, kTarget);
    return ratio <= kTarget ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) { return programBenchMain(argc, argv, &seconds, 2, &settleSeconds, measure); }
