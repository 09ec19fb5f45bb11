// Shared by the benchmarks that run the whole program beside a bare page of the engine: bounded
// waits, medians of runs, script values of a page and the program's start page.
#pragma once

#include "app/application.h"
#include "app/program_entry.h"
#include "app/window.h"
#include "cefclient/qcefwebview.h"

#include "cef_extras/qt_backend.h"
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

inline double median(QList<double> v)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    const int n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
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
            window && window->webView ? window->webView->findChildren<QWebEngineView*>() : QList<QWebEngineView*>();
        page = views.isEmpty() ? nullptr : views.first()->page();
        return page && evaluate(page, QStringLiteral("document.querySelectorAll('#device-list li').length")).toInt() > 0;
    });
    return page;
}

// One side of a comparison: the median of each of its runs.
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
    // "<name>: <runs> runs of <per run> <what>, median ... ms (min ..., max ...)"
    void print(const char* name, int perRun, const char* what) const
    {
        if (runMedians.isEmpty()) {
            std::printf("%-22s: no measurement\n", name);
            return;
        }
        std::printf("%-22s: %d runs of %d %s, median %.3f ms (min %.3f, max %.3f)\n", name, int(runMedians.size()),
                    perRun, what, median(runMedians), *std::min_element(runMedians.begin(), runMedians.end()),
                    *std::max_element(runMedians.begin(), runMedians.end()));
    }
    // Prints "<name>: <ratio to floor> (target <= <target>)"; false when the target is missed or a
    // side could not be measured.
    bool report(const char* name, const Side& floor, double target) const
    {
        const double base = floor.failed || floor.runMedians.isEmpty() ? 0 : median(floor.runMedians);
        if (failed || runMedians.isEmpty() || base <= 0) {
            std::printf("%-22s: n/a (a side could not be measured)\n", name);
            return false;
        }
        const double ratio = median(runMedians) / base;
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
