// Page command queries as a page sends them: each line of the input is one query text, handed in
// order to the query slot of a new main window, with a reply callback that counts its references.
// The devices and the desktop are doubles that only answer; the program folder is a sandbox whose
// neighbours hold sentinel files. Checked after every query: at most one answer; an answer released
// the one reference the query handler added, an unanswered query still has it (a download holds
// one more); no answer carries a sentinel's text; a page load asked for with "loadurl" names a
// file below the program folder; nothing beside the program folder changed; the window is still
// the application's and still answers.
#include "fuzz_app.h"
#include "fuzz_check.h"
#include "fuzz_sandbox.h"
#include "page_events.h"
#include "process_folders.h"
#include "recording_callback.h"

#include "app/application.h"
#include "app/window.h"
#include "app/window_services.h"
#include "cefclient/qcefwebview.h"
#include "devices/device_data_handler.h"
#include "update/file_download.h"
#include "vqsim/vqsim.h"
#include "win32sim/keyboard_layout.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using test_support::RecordingCallback;

const int kMaxQueries = 32;

// Answers from the arguments alone, so that an input reaches both outcomes; touches nothing.
class AnsweringDevices : public DeviceServices {
public:
    bool resetDevice(const QString& version, QString*) override { return ok(version); }
    QByteArray readDpiValue(const QString& version, const QString& dpiIndex) override
    {
        return (version + QLatin1Char(':') + dpiIndex).toUtf8();
    }
    bool writeDeviceTask(const QString& version, const QString&, const QString& index, const QString&, const QString&,
                         const QString&, QString*) override
    {
        return ok(version) && ok(index);
    }
    bool writeRgbDevice(const QString& version, const QString&, const QStringList& items, QString*) override
    {
        return ok(version) && !items.isEmpty();
    }
    QString windowsMouseConfig(const QString& version) override { return version; }
    QString windowsKeyboardConfig() override { return QString(); }
    bool setMouseAcceleration(int n, QString*) override { return n % 2 == 0; }
    bool setMouseSpeed(int n, QString*) override { return n % 2 == 0; }
    bool setWheelScrollLines(int n, QString*) override { return n % 2 == 0; }
    bool setWheelScrollChars(int n, QString*) override { return n % 2 == 0; }
    bool setDoubleClickTime(int n, QString*) override { return n % 2 == 0; }
    bool startMouseTracks(QString*) override { return m_tracks = !m_tracks; }
    QString stopMouseTracks() override { return QStringLiteral("x:1,y:2Time:3;"); }

private:
    static bool ok(const QString& s) { return !s.isEmpty() && s.at(0).unicode() % 2 == 0; }
    bool m_tracks = false;
};

// Dialogs chosen and cancelled in turn; URLs are never opened.
class AnsweringDesktop : public DesktopServices {
public:
    explicit AnsweringDesktop(const QString& chosen)
        : m_chosen(chosen)
    {
    }
    QString getSaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return next(); }
    QString getOpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return next(); }
    bool openUrl(const QUrl&) override { return true; }

private:
    QString next() { return (m_calls++ % 2 == 0) ? m_chosen : QString(); }
    QString m_chosen;
    int m_calls = 0;
};

struct Sandbox {
    QTemporaryDir root;
    QString program = root.filePath(QStringLiteral("app"));
    // Text that no file inside the program folder holds and no input can know.
    QString marker = QStringLiteral("sentinel-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QMap<QString, QByteArray> outside;

    Sandbox()
    {
        FUZZ_CHECK(root.isValid());
        // The window's private temporary folder and the single-instance server lie in the sandbox too.
        FUZZ_CHECK(QDir().mkpath(root.filePath(QStringLiteral("tmp"))));
        test_support::useProcessFolders(QFile::encodeName(root.filePath(QStringLiteral("tmp"))).toStdString());
        // A key-mapping file and a settings file in one: whatever reads it finds the marker.
        const QByteArray sentinel = "<conf><m flag=\"10\" scanCode=\"16\" playType=\"0\" playCount=\"1\">"
                                    "<t task=\"MOUSE\" value=\"" + marker.toUtf8() + "\"/></m></conf>\n";
        for (const char* name : {"sentinel.xml", "neighbour/sentinel.xml", "appx/sentinel.xml",
                                 "app-other/Resources/settings.xml"})
            put(root.filePath(QLatin1String(name)), sentinel);
        outside = outsideFiles();
        setAppDirPath(program + QLatin1Char('/'));
    }

    static void put(const QString& path, const QByteArray& bytes)
    {
        FUZZ_CHECK(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    }

    // The program folder as each input finds it: its configuration, a settings file, a key-mapping
    // file and a file already downloaded.
    void reset()
    {
        if (QFileInfo::exists(program))
            FUZZ_CHECK(QDir(program).removeRecursively());
        put(program + QStringLiteral("/Resources/conf.xml"),
            "<root><client Name=\"Tarquil\" LoadPath=\"velmora://settings/local/client/main/index.html\" "
            "CloseFunc=\"tray\"/></root>\n");
        put(program + QStringLiteral("/Resources/settings.xml"),
            "<Configuration><Conf><Key Index=\"2\" Value=\"b\"/></Conf></Configuration>\n");
        put(program + QStringLiteral("/map.xml"),
            "<conf><m flag=\"10\" scanCode=\"16\" playType=\"0\" playCount=\"1\">"
            "<t task=\"MOUSE\" value=\"x\"/></m></conf>\n");
        put(program + QStringLiteral("/dl/have.bin"), "x");
    }

    // Everything in the sandbox but the program folder and the temporary folder.
    QMap<QString, QByteArray> outsideFiles() const
    {
        QMap<QString, QByteArray> files = fuzz_sandbox::filesBelow(root.path(), fuzz_sandbox::Folders::Listed);
        for (auto it = files.begin(); it != files.end();) {
            if (it.key().startsWith(QLatin1String("app/")) || it.key().startsWith(QLatin1String("tmp/")))
                it = files.erase(it);
            else
                ++it;
        }
        return files;
    }

    bool inProgram(const std::string& url) const
    {
        return fuzz_sandbox::fileUrlBelow(QString::fromStdString(url), program);
    }
};

struct Process {
    Sandbox sandbox;
    TestApplication* app = nullptr;
    test_support::MainBrowserEvents* events = nullptr;

    Process()
    {
        app = fuzzApplication();
        // The quit commands must not end the process.
        setQuitRequested();
        events = new test_support::MainBrowserEvents;
        // The runtime's and the simulated library's threads end before the process does; this runs
        // after the process object's destructor, so it keeps its own copy of the pointer.
        static test_support::MainBrowserEvents* const runtime = events;
        std::atexit([] {
            delete runtime;
            VqSim::instance().shutdown();
        });
    }
};

// The browsers made since the last call, but the one kept, as when the windows that held them are
// destroyed. The host keeps a record of every browser: each is looked at once.
void closeBrowsers(cef_test::TestHost& host, int kept)
{
    static int seen = 0;
    for (int id : host.BrowserIds()) {
        if (id <= seen)
            continue;
        seen = std::max(seen, id);
        if (id != kept && !host.Record(id).closed)
            host.DestroyView(id);
    }
    cef_test::WaitForIdle();
}

Window* openWindow(Process& p)
{
    p.app->loadConf();
    auto* window = new Window;
    p.app->setMainWindow(window);
    window->setDeviceServices(std::make_unique<AnsweringDevices>());
    window->setDesktopServices(std::make_unique<AnsweringDesktop>(p.sandbox.program + QStringLiteral("/chosen.pfd")));
    window->startDeviceFilter();
    for (int i = 0; i < 1000 && window->webView()->browserState() != QCefWebView::kCreated; ++i) {
        cef_test::WaitForIdle();
        QCoreApplication::processEvents();
    }
    FUZZ_CHECK(window->webView()->browserState() == QCefWebView::kCreated);
    return window;
}

struct Query {
    CefRefPtr<RecordingCallback> callback;
};

// The references besides the query's own: the query handler's while unanswered, and the
// downloads'.
void checkQuery(const Query& q, Window* window, const QString& marker)
{
    const std::vector<RecordingCallback::Answer> answers = q.callback->answers();
    FUZZ_CHECK(answers.size() <= 1);
    for (const RecordingCallback::Answer& a : answers)
        FUZZ_CHECK(!a.text.contains(marker));
    int held = 0;
    if (window) {
        for (const wrapFileDownload* d : window->downloads())
            held += d->callback.get() == q.callback.get() ? 1 : 0;
    }
    FUZZ_CHECK(q.callback->refs() == 1 + (answers.empty() ? 1 : 0) + held);
}

bool isLoadUrl(const QString& text)
{
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    return doc.isObject() && doc.object().value(QStringLiteral("FuncName")).toString() == QLatin1String("loadurl");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Process p;
    cef_test::TestHost& host = p.events->host;
    p.sandbox.reset();
    VqSim::instance().reset();
    win32sim::clearKeyboardLayoutLoads();
    QPointer<Window> window = openWindow(p);

    std::vector<Query> queries;
    const QStringList lines = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)).split(QLatin1Char('\n'));
    // "loadurl" loads into the main browser.
    const int mainBrowser = p.events->browserId();
    for (int i = 0; i < lines.size() && i < kMaxQueries; ++i) {
        const bool loadUrl = isLoadUrl(lines.at(i));
        const size_t loadsBefore = loadUrl ? host.Record(mainBrowser).loads.size() : 0;
        queries.push_back(Query{new RecordingCallback});
        const Query& q = queries.back();
        q.callback->AddRef(); // the query handler's
        window->onJsMessage(lines.at(i), q.callback);
        // What the command left for the event loop and the runtime's threads, popups closed.
        cef_test::WaitForIdle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        FUZZ_CHECK(window && appMainWindow() == window);
        checkQuery(q, window, p.sandbox.marker);
        if (loadUrl) {
            const std::vector<std::string> loads = host.Record(mainBrowser).loads;
            for (size_t l = loadsBefore; l < loads.size(); ++l)
                FUZZ_CHECK(p.sandbox.inProgram(loads[l]));
        }
        FUZZ_CHECK(p.sandbox.outsideFiles() == p.sandbox.outside);
    }

    // The window still answers.
    queries.push_back(Query{new RecordingCallback});
    const Query& probe = queries.back();
    probe.callback->AddRef();
    window->onJsMessage(QStringLiteral("{\"FuncName\":\"GetDevicesList\"}"), probe.callback);
    const std::vector<RecordingCallback::Answer> answers = probe.callback->answers();
    FUZZ_CHECK(answers.size() == 1 && answers[0].success && answers[0].text == QLatin1String("[\"K1.0\",\"M1.0\"]"));
    for (const Query& q : queries)
        checkQuery(q, window, p.sandbox.marker);

    // The window leaves its list reader and its description handler to the process; freed here,
    // once it is gone, so that what else an input leaves behind is seen.
    DeviceFunctions* const listFunctions = window->listFunctions();
    device_data_handler* const dataHandler = window->dataHandler();
    p.app->setMainWindow(nullptr);
    delete window.data();
    delete listFunctions;
    delete dataHandler;
    // The engine closes the browsers whose windows are gone.
    closeBrowsers(host, mainBrowser);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const Query& q : queries) {
        checkQuery(q, nullptr, p.sandbox.marker);
        if (q.callback->answers().empty())
            q.callback->Release();
    }
    FUZZ_CHECK(p.sandbox.outsideFiles() == p.sandbox.outside);
    return 0;
}
