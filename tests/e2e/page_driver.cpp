#include "page_driver.h"

#include "app/application.h"
#include "app/start_snapshot.h"
#include "cefclient/popwidget.h"

#include "wait.h"

#include "vq/vq_api.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QKeyEvent>
#include <QJsonDocument>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QWebEngineView>

#include <cstdio>
#include <memory>

namespace e2e {

using test_support::waitFor;

const char kStartPage[] = "velmora://settings/local/client/main/index.html";
const char kPopupPage[] = "velmora://settings/local/client/popup/index.html";
const char kMouseId[] = "HID\\VID_1A2C&PID_0E24&MI_01\\7&1A2B3C4D&0&0000";
const char kKeyboardId[] = "HID\\VID_1A2C&PID_0E30&MI_01\\7&2C3D4E5F&0&0000";
const int kLoadMs = 60000;

QWebEngineView* engineViewOf(QCefWebView* view)
{
    const QList<QWebEngineView*> views = view ? view->findChildren<QWebEngineView*>() : QList<QWebEngineView*>();
    return views.isEmpty() ? nullptr : views.first();
}

QVariant eval(QWebEngineView* view, const QString& script)
{
    struct Result {
        bool done = false;
        QVariant value;
    };
    auto result = std::make_shared<Result>();
    view->page()->runJavaScript(script, [result](const QVariant& v) {
        result->value = v;
        result->done = true;
    });
    waitFor([&] { return result->done; });
    return result->value;
}

QString text(QWebEngineView* view, const QString& script) { return eval(view, script).toString(); }

QString jsString(const QString& text)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact)) + "[0]";
}

void send(QWebEngineView* view, const QString& request)
{
    eval(view, "window.cefQuery({request: " + jsString(request) + "}); 0");
}

QString query(QWebEngineView* view, const QString& request, int ms)
{
    static int next = 0;
    const QString key = QString::number(++next);
    eval(view, QString("window.__answers = window.__answers || {};"
                       "window.cefQuery({request: %1,"
                       " onSuccess: function (a) { window.__answers[%2] = 'S:' + a; },"
                       " onFailure: function (c, m) { window.__answers[%2] = 'F:' + c + ':' + m; }}); 0")
                   .arg(jsString(request), key));
    QString answer;
    waitFor([&] {
        answer = text(view, "window.__answers[" + key + "] || ''");
        return !answer.isEmpty();
    }, ms);
    return answer;
}

QString command(const QJsonObject& request)
{
    return QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact));
}

QString devicesShown(QWebEngineView* view)
{
    return text(view, "Array.from(document.querySelectorAll('#device-list li')).map(function (li) {"
                      " return li.dataset.key; }).join(',')");
}

namespace {

// Runs body with e bound to the first element the selector matches; false when there is none.
bool onElement(QWebEngineView* view, const QString& selector, const QString& body)
{
    return eval(view, QString("(function () { var e = document.querySelector(%1); if (!e) return false; %2; return true; })()")
                          .arg(jsString(selector), body))
        .toBool();
}

} // namespace

bool click(QWebEngineView* view, const QString& selector) { return onElement(view, selector, "e.click()"); }

bool setValue(QWebEngineView* view, const QString& selector, const QString& value)
{
    return onElement(view, selector,
                     "e.focus(); e.value = " + jsString(value) +
                         "; e.dispatchEvent(new Event('input', {bubbles: true}));"
                         " e.dispatchEvent(new Event('change', {bubbles: true}))");
}

bool typeKey(QWebEngineView* view, Qt::Key key, quint32 scanCode, const QString& text, bool down)
{
    QWidget* target = view->focusProxy();
    if (!target)
        return false;
    QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, key, Qt::NoModifier, scanCode, 0, 0,
                    down ? text : QString());
    QCoreApplication::sendEvent(target, &event);
    return true;
}

bool setChecked(QWebEngineView* view, const QString& selector, bool checked)
{
    return onElement(view, selector,
                     QString("e.checked = %1; e.dispatchEvent(new Event('change', {bubbles: true}))")
                         .arg(checked ? "true" : "false"));
}

QString property(QWebEngineView* view, const QString& selector, const QString& name)
{
    return text(view, QString("(function () { var e = document.querySelector(%1); return e ? String(e[%2]) : ''; })()")
                          .arg(jsString(selector), jsString(name)));
}

bool isShown(QWebEngineView* view, const QString& selector)
{
    return eval(view, QString("(function () { var e = document.querySelector(%1); return !!e && !!e.offsetParent; })()")
                          .arg(jsString(selector)))
        .toBool();
}

QString statusLine(QWebEngineView* view) { return property(view, "#status", "textContent"); }

int simCalls(const char* entryPoint)
{
    const VqSim& sim = VqSim::instance();
    int count = 0;
    for (int i = 0; i < sim.callCount(); ++i) {
        VqSimCall call{};
        if (sim.callAt(i, &call) == 0 && QByteArray(call.name) == entryPoint)
            ++count;
    }
    return count;
}

QByteArray simProp(const char* deviceId, int index)
{
    uint8_t bytes[VQ_BLOCK_SIZE] = {};
    const int n = VqSim::instance().getProp(deviceId, index, bytes, sizeof bytes);
    return n > 0 ? QByteArray(reinterpret_cast<const char*>(bytes), n) : QByteArray();
}

QByteArray simMemory(const char* deviceId, int address, int length)
{
    QByteArray bytes(length, '\0');
    if (VqSim::instance().getMemory(deviceId, address, reinterpret_cast<uint8_t*>(bytes.data()), length) != 0)
        return QByteArray();
    return bytes;
}

bool waitForPanel(QWebEngineView* view, const QString& panelId, int ms)
{
    return waitFor([&] {
        return eval(view, QString("(function () { var p = document.getElementById(%1);"
                                  " return !!p && !p.hidden && p.dataset.state === 'ready'; })()")
                              .arg(jsString(panelId)))
            .toBool();
    }, ms);
}

bool runInAnotherProgramRun(const QString& testName)
{
    QTemporaryDir tmp(QDir::tempPath() + "/second-run-XXXXXX");
    if (!tmp.isValid())
        return false;
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Temporary and runtime folders of its own: its own single-instance server and unpacked pages.
    env.insert("TMPDIR", tmp.path());
    env.insert("XDG_RUNTIME_DIR", tmp.path());
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QCoreApplication::applicationFilePath(),
              {"--gtest_filter=" + testName, "--gtest_also_run_disabled_tests", "--gtest_brief=1"});
    const bool ended = run.waitForFinished(kLoadMs + 60000);
    const QByteArray output = run.readAll();
    const bool passed = ended && run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0 &&
                        output.contains("[  PASSED  ] 1 test");
    if (!passed)
        std::fprintf(stderr, "second program run of %s:\n%s\n", qPrintable(testName), output.constData());
    return passed;
}

PopWidget* waitForPopup(Window* window, const QString& urlStart)
{
    PopWidget* popup = nullptr;
    QString url;
    const bool open = waitFor([&] {
        for (auto it = window->popups().constBegin(); it != window->popups().constEnd(); ++it) {
            if (it.key().startsWith(urlStart) && it.value() && it.value()->isVisible() && engineViewOf(it.value()->webView())) {
                popup = it.value();
                url = it.key();
                return true;
            }
        }
        return false;
    }, kLoadMs);
    if (!open)
        return nullptr;
    QWebEngineView* view = engineViewOf(popup->webView());
    const bool ready = waitFor([&] {
        return eval(view, QString("location.href === %1 && document.readyState === 'complete'"
                                  " && typeof window.cefQuery === 'function'").arg(jsString(url)))
            .toBool();
    }, kLoadMs);
    return ready ? popup : nullptr;
}

bool keepPicture(QWidget* window, const QString& name)
{
    QScreen* screen = window->screen();
    // The page engine draws on its own time: two pictures in a row alike count as drawn.
    QImage picture, last;
    waitFor([&] {
        last = picture;
        picture = screen ? screen->grabWindow(window->winId()).toImage() : QImage();
        return imageHasContent(picture) && picture == last;
    }, kLoadMs, 300);
    return imageHasContent(picture) && picture.save(QString(TM_E2E_OUTPUT_DIR) + "/" + name, "PNG");
}

void ProgramTest::SetUp()
{
    ASSERT_TRUE(waitFor([&] {
        window = appMainWindow();
        return window && window->isVisible() && engineViewOf(window->webView());
    }, kLoadMs));
    page = engineViewOf(window->webView());
    ASSERT_TRUE(waitFor([&] { return devicesShown(page) == "K1.0,M1.0"; }, kLoadMs)) << devicesShown(page).toStdString();
}

} // namespace e2e
