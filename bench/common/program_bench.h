// Shared by the benchmarks that run the whole program beside a bare page of the engine: bounded
// waits, sides of runs repeated until they agree, script values of a page and the program's start page.
#pragma once

#include "app/application.h"
#include "app/program_entry.h"
#include "app/window.h"
#include "cefclient/qcefwebview.h"

#include "cef_extras/qt_backend.h"
#include "stable_runs.h"
#include "process_folders.h"
#include "wait.h"

#include <QDir>

#include <QFile>
#include <QList>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace bench {

inline bool waitFor(const std::function<bool()>& done)
{
    return test_support::waitFor(done, 60000, 1);
}

// The value of a script in the page, once the page has given it.
inline QVariant evaluate(QWebEnginePage* page, const QString& script)
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

// Makes the engine's web channel client available to the page's script from its first line on.
inline void addWebChannelClient(QWebEnginePage& page)
{
    QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    file.open(QIODevice::ReadOnly);
    QWebEngineScript script;
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setSourceCode(QString::fromUtf8(file.readAll()));
    page.scripts().insert(script);
}

// The start page of the program's main window once it lists the devices; null after a minute.
inline QWebEnginePage* programStartPage()
{
    QWebEnginePage* page = nullptr;
    waitFor([&] {
        Window* window = appMainWindow();
        const QList<QWebEngineView*> views =
            window && window->webView() ? window->webView()->findChildren<QWebEngineView*>() : QList<QWebEngineView*>();
        page = views.isEmpty() ? nullptr : views.first()->page();
        return page && evaluate(page, QStringLiteral("document.querySelectorAll('#device-list li').length")).toInt() > 0;
    });
    return page;
}

// One side of a comparison: the times of each of its runs (milliseconds).
struct Side {
    RunSamples samples;
    bool failed = false;

    // False (and the side failed) when the run measured nothing.
    bool add(const QList<double>& times)
    {
        if (times.isEmpty())
            failed = true;
        else
            samples.add(std::vector<double>(times.begin(), times.end()));
        return !failed;
    }
    // "<name>: <runs> runs of <per run> <what>, median ... ms (min ..., max ...)", taken over the
    // last three runs.
    void print(const char* name, int perRun, const char* what) const
    {
        if (samples.runs() == 0) {
            std::printf("%-22s: no measurement\n", name);
            return;
        }
        const Stats t = samples.lastStats();
        std::printf("%-22s: %d runs of %d %s, last three: median %.3f ms (min %.3f, max %.3f)\n", name,
                    samples.runs(), perRun, what, t.median, t.min, t.max);
    }
    // The latest run's median over the floor's; 0 when a side could not be measured.
    double lastRatio(const Side& floor) const
    {
        return failed || floor.failed || floor.samples.lastMedian() <= 0 ? 0
                                                                          : samples.lastMedian() / floor.samples.lastMedian();
    }
    // Prints "<name>: <ratio to floor> (target <= <target>)" from the last three runs; false when
    // the target is missed or a side could not be measured.
    bool report(const char* name, const Side& floor, double target) const
    {
        const double base = floor.failed ? 0 : floor.samples.lastStats().median;
        if (failed || samples.runs() == 0 || base <= 0) {
            std::printf("%-22s: n/a (a side could not be measured)\n", name);
            return false;
        }
        const double ratio = samples.lastStats().median / base;
        std::printf("%-22s: %.2f (target <= %.2f)\n", name, ratio, target);
        return ratio <= target;
    }
};

// The entry of a benchmark that runs the whole program: the engine's environment, Qt's debug
// output off (the program's traces would flood the output), a fresh folder of this run for its
// single-instance server, unpacked pages and cache, the two counts the command line may give (at
// least minFirst and 1), then the program's own entry with `measure` in place of its application's
// run.
inline int programBenchMain(int argc, char** argv, int* first, int minFirst, int* second,
                            const std::function<int(int& argc, char** argv, int code)>& measure)
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "default.debug=false");
    const std::string tmp = test_support::useFreshProcessFolders("tm-bench");
    if (tmp.empty())
        return 2;
    if (argc > 1)
        *first = std::max(minFirst, std::atoi(argv[1]));
    if (argc > 2)
        *second = std::max(1, std::atoi(argv[2]));
    int appArgc = 1;
    const int rc = programMain(appArgc, argv, {cefqt::InstallBackend, measure, [] {}});
    QDir(QString::fromStdString(tmp)).removeRecursively();
    return rc;
}

} // namespace bench
