#include "cefqt/engine_page.h"

#include "cefqt/engine.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QFile>
#include <QJsonDocument>
#include <QMenu>
#include <QMutex>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QTimer>
#include <QWebChannel>
#include <QWebEngineContextMenuData>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QWebEngineQuotaRequest>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

#include <atomic>

namespace cefqt {
namespace {

QMutex g_functionsMutex;
QList<GlobalFunction>& functionsList()
{
    static QList<GlobalFunction> list;
    return list;
}

std::atomic<int> g_nextContext{0};

// Live hosts (GUI thread only).
QList<PageHost*>& liveHosts()
{
    static QList<PageHost*> hosts;
    return hosts;
}

const char kBridgeObject[] = "__tmBridge";
const char kScriptName[] = "tm-page-bridge";

// Page side of the bridge. Values cross as JSON: strings, booleans, finite numbers and
// null as themselves; {"$u":1} undefined, {"$d":"NaN"} non-finite numbers, {"$f":id}
// a function kept in this document's table, {"$o":{...}} a plain object.
const char kShim[] = R"JS(
var token = Math.random().toString(36).slice(2) + Date.now().toString(36);
var fns = {}, fnIds = new Map(), nextFn = 1, nextCall = 1;
var bridge = null, queue = [], queries = {}, collecting = null;
// A page function's handle for the native side (collect: where the query keeps its own).
function handle(f, collect) {
  var id = fnIds.get(f);
  if (!id) { id = nextFn++; fnIds.set(f, id); fns[id] = f; }
  if (collect) collect.push(id);
  return id;
}
function enc(v, depth) {
  if (v === undefined) return {"$u": 1};
  if (v === null) return null;
  var t = typeof v;
  if (t === 'boolean' || t === 'string') return v;
  if (t === 'number') return isFinite(v) ? v : {"$d": String(v)};
  if (t === 'function') return {"$f": handle(v, collecting)};
  if (depth > 64) return {"$u": 1};
  if (Array.isArray(v)) return v.map(function (x) { return enc(x, depth + 1); });
  if (t === 'object') {
    var o = {};
    Object.keys(v).forEach(function (k) { o[k] = enc(v[k], depth + 1); });
    return {"$o": o};
  }
  return {"$u": 1};
}
function dec(v) {
  if (v === null || typeof v !== 'object') return v;
  if (Array.isArray(v)) return v.map(dec);
  if ('$u' in v) return undefined;
  if ('$f' in v) return fns[v['$f']];
  if ('$d' in v) return Number(v['$d']);
  if ('$o' in v) {
    var o = {}, src = v['$o'];
    Object.keys(src).forEach(function (k) { o[k] = dec(src[k]); });
    return o;
  }
  return undefined;
}
function forget(ids) {
  ids.forEach(function (id) {
    var f = fns[id];
    if (f) { fnIds.delete(f); delete fns[id]; }
  });
}
function dropQuery(id) {
  var ids = queries[id];
  delete queries[id];
  if (ids) forget(ids);
}
function run(id, args) {
  var f = fns[id];
  if (typeof f !== 'function') return;
  try { f.apply(null, args.map(dec)); } catch (e) { console.error(e); }
}
// The native side's function calls that completed with a call of ours come as its reply.
function replied(text) {
  if (text) JSON.parse(text).forEach(function (c) { run(c[0], c[1]); });
}
function deliver(call) {
  if (bridge) call();
  else queue.push(call);
}
function send(name, callId, args, collect) {
  collecting = collect;
  var encoded;
  try { encoded = args.map(function (a) { return enc(a, 0); }); } finally { collecting = null; }
  deliver(function () { bridge.call(token, name, callId, encoded, replied); });
}
// A query travels flat: its text, whether it is persistent, and handles of its callbacks,
// which stay known until its last possible answer (the first answer of a one-shot query, a
// failure, or its cancellation).
function query(name, id, o) {
  var ids = [], request = o.request, persistent = !!o.persistent, s = o.onSuccess, fl = o.onFailure;
  queries[id] = ids;
  var ok = typeof s !== 'function' ? 0 : handle(function () {
    if (!persistent) dropQuery(id);
    return s.apply(null, arguments);
  }, ids);
  var bad = typeof fl !== 'function' ? 0 : handle(function () {
    dropQuery(id);
    return fl.apply(null, arguments);
  }, ids);
  deliver(function () { bridge.query(token, name, id, request, persistent, ok, bad, replied); });
}
// The checks of the native query functions, made here because the page gets its answer
// (the query id, or the exception) at once; a refused call uses no id.
function checkQuery(args) {
  var o = args[0];
  if (args.length !== 1 || o === null || typeof o !== 'object' || Array.isArray(o))
    throw new Error("Invalid arguments; expecting a single object");
  if (typeof o.request !== 'string')
    throw new Error("Invalid arguments; object member 'request' is required and must be a string");
  if ((o.onSuccess !== undefined && typeof o.onSuccess !== 'function') ||
      (o.onFailure !== undefined && typeof o.onFailure !== 'function'))
    throw new Error("Invalid arguments; 'onSuccess' and 'onFailure' must be functions");
  if (o.persistent !== undefined && typeof o.persistent !== 'boolean')
    throw new Error("Invalid arguments; 'persistent' must be a boolean");
}
function checkCancel(args) {
  var id = args[0];
  if (args.length !== 1 || typeof id !== 'number' || (id | 0) !== id)
    throw new Error("Invalid arguments; expecting a single integer");
}
function define(name, role) {
  var f = function () {
    var args = Array.prototype.slice.call(arguments);
    if (role === 1) {
      checkQuery(args);
      var id = nextCall++;
      query(name, id, args[0]);
      return id;
    }
    if (role === 2) {
      checkCancel(args);
      var pending = args[0] in queries;
      send(name, 0, args, null);
      dropQuery(args[0]);
      return pending;
    }
    send(name, 0, args, null);
    return undefined;
  };
  try {
    Object.defineProperty(window, name, {value: f, writable: true, configurable: true, enumerable: false});
  } catch (e) {
    window[name] = f;
  }
}
FUNCTIONS.forEach(function (f) { define(f[0], f[1]); });
if (typeof qt === 'undefined' || !qt.webChannelTransport) return;
new QWebChannel(qt.webChannelTransport, function (channel) {
  // The bridge has no properties: a client that reports itself idle only makes the native side
  // poll for property updates every 50 ms for as long as the page lives.
  var exec = channel.exec;
  channel.exec = function (data, callback) {
    if (data && data.type === QWebChannelMessageTypes.idle) return;
    exec(data, callback);
  };
  bridge = channel.objects.BRIDGE;
  bridge.invoke.connect(function (t, id, args) { if (t === token) run(id, JSON.parse(args)); });
  bridge.define.connect(function (t, name, role) { if (t === token && !(name in window)) define(name, role); });
  bridge.contextCreated(token, location.href);
  var q = queue;
  queue = null;
  q.forEach(function (c) { c(); });
});
)JS";

QString webChannelSource()
{
    static const QString source = []() {
        QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(file.readAll());
    }();
    return source;
}

QString encodeJson(const QJsonArray& args)
{
    return QString::fromUtf8(QJsonDocument(args).toJson(QJsonDocument::Compact));
}

// The engine cannot report a URL for navigations it cannot handle; judge by scheme.
bool isKnownScheme(const QString& scheme)
{
    static const QStringList builtin = {"http", "https", "file", "ftp", "data", "about", "blob", "javascript",
                                        "chrome", "qrc", "ws", "wss", "filesystem", "view-source"};
    return builtin.contains(scheme) || IsRegisteredScheme(scheme.toLatin1());
}

// createWindow gives no URL: a hidden page takes the popup's first navigation, reports
// its URL and cancels it.
class PopupProbe : public QWebEnginePage {
public:
    PopupProbe(QWebEngineProfile* profile, PageHost* host, WebWindowType type)
        : QWebEnginePage(profile, nullptr), host_(host), type_(type)
    {
        connect(this, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) { report(url); });
        // window.open() without a URL never navigates: forget it after a while.
        QTimer::singleShot(10000, this, [this]() { finish(); });
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override
    {
        if (isMainFrame)
            report(url);
        return false;
    }

private:
    void report(const QUrl& url)
    {
        if (done_ || !url.isValid() || url.isEmpty())
            return;
        done_ = true;
        if (host_)
            host_->popupReported(url, type_);
        finish();
    }
    void finish()
    {
        done_ = true;
        deleteLater();
    }

    QPointer<PageHost> host_;
    WebWindowType type_;
    bool done_ = false;
};

} // namespace

void SetGlobalFunctions(const QList<GlobalFunction>& functions)
{
    QMutexLocker lock(&g_functionsMutex);
    functionsList() = functions;
}

QList<GlobalFunction> GlobalFunctions()
{
    QMutexLocker lock(&g_functionsMutex);
    return functionsList();
}

int NextContextId()
{
    return ++g_nextContext;
}

// Pages left at exit go before the profile, and both before the engine and its scene
// graph: at aboutToQuit when an event loop ran, else from a post routine. Post routines
// run last-added first and the engine and the scene graph add theirs lazily (first page,
// first rendered frame), so ours is moved to the end again whenever a page starts or loads.
static void cleanupAtExit()
{
    DestroyAllPages();
    ReleaseProfile();
}

static void keepCleanupLast()
{
    qRemovePostRoutine(&cleanupAtExit);
    qAddPostRoutine(&cleanupAtExit);
    static bool connected = false;
    if (!connected && QCoreApplication::instance()) {
        connected = true;
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &cleanupAtExit);
    }
}

void DestroyAllPages()
{
    while (!liveHosts().isEmpty())
        delete liveHosts().takeLast();
}

QString BootstrapScript(const QList<GlobalFunction>& functions)
{
    QJsonArray names;
    for (const GlobalFunction& f : functions)
        names.append(QJsonArray{f.name, int(f.role)});
    QString shim = QString::fromUtf8(kShim);
    shim.replace(QStringLiteral("FUNCTIONS"), encodeJson(names));
    shim.replace(QStringLiteral("BRIDGE"), QString::fromLatin1(kBridgeObject));
    // The web channel client is wrapped with the shim so that neither adds globals
    // other than the defined functions.
    return QStringLiteral("(function () {\n'use strict';\nif (window.__tmBridgeShim) return;\n"
                          "Object.defineProperty(window, '__tmBridgeShim', {value: true});\n") +
           webChannelSource() + QStringLiteral("\n") + shim + QStringLiteral("\n})();\n");
}

// ---------------------------------------------------------------------------------

EnginePage::EnginePage(QWebEngineProfile* profile, PageHost* host) : QWebEnginePage(profile, nullptr), host_(host)
{
}

bool EnginePage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    if (isMainFrame)
        host_->onNavigation(url, isMainFrame);
    return host_->events_->navigationRequested(url, type, isMainFrame, type == NavigationTypeRedirect);
}

QWebEnginePage* EnginePage::createWindow(WebWindowType type)
{
    return new PopupProbe(profile(), host_, type);
}

void EnginePage::javaScriptAlert(const QUrl& origin, const QString& msg)
{
    bool ok = true;
    QString text;
    if (!host_->events_->scriptDialog(PageEvents::Alert, origin, msg, QString(), &ok, &text))
        QWebEnginePage::javaScriptAlert(origin, msg);
}

bool EnginePage::javaScriptConfirm(const QUrl& origin, const QString& msg)
{
    bool ok = false;
    QString text;
    if (!host_->events_->scriptDialog(PageEvents::Confirm, origin, msg, QString(), &ok, &text))
        return QWebEnginePage::javaScriptConfirm(origin, msg);
    return ok;
}

bool EnginePage::javaScriptPrompt(const QUrl& origin, const QString& msg, const QString& defaultValue,
                                  QString* result)
{
    bool ok = false;
    QString text;
    if (!host_->events_->scriptDialog(PageEvents::Prompt, origin, msg, defaultValue, &ok, &text))
        return QWebEnginePage::javaScriptPrompt(origin, msg, defaultValue, result);
    if (ok && result)
        *result = text;
    return ok;
}

QStringList EnginePage::chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                                    const QStringList& acceptedMimeTypes)
{
    QStringList files;
    if (!host_->events_->chooseFiles(mode, oldFiles, acceptedMimeTypes, &files))
        return QWebEnginePage::chooseFiles(mode, oldFiles, acceptedMimeTypes);
    return files;
}

void EnginePage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int line,
                                          const QString& source)
{
    host_->events_->consoleMessage(message, source, line);
}

EngineView::EngineView(PageHost* host, QWidget* parent) : QWebEngineView(parent), host_(host)
{
}

void EngineView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = page()->createStandardContextMenu();
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose, true);
    host_->events_->contextMenu(menu, page()->contextMenuData());
    if (menu->isEmpty()) {
        delete menu;
        return;
    }
    menu->popup(event->globalPos());
}

void EngineView::dragEnterEvent(QDragEnterEvent* event)
{
    if (host_->events_->dragEntered(event->possibleActions())) {
        event->ignore();
        return;
    }
    QWebEngineView::dragEnterEvent(event);
}

void EngineView::closeEvent(QCloseEvent* event)
{
    if (isWindow()) {
        event->ignore();
        host_->events_->closeRequested();
        return;
    }
    QWebEngineView::closeEvent(event);
}

// ---------------------------------------------------------------------------------

PageHost::PageHost(PageEvents* events, const Options& options, QObject* owner)
    : QObject(owner), events_(events), functions_(GlobalFunctions())
{
    liveHosts().append(this);
    NoteGuiApplication();
    QWebEngineProfile* profile = Profile();
    page_ = new EnginePage(profile, this);
    keepCleanupLast();
    if (options.background.isValid())
        page_->setBackgroundColor(options.background);
    page_->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    page_->settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);

    setGlobalFunctions(functions_);

    channel_ = new QWebChannel(this);
    bridge_ = new PageBridge(this);
    channel_->registerObject(QString::fromLatin1(kBridgeObject), bridge_);
    page_->setWebChannel(channel_, QWebEngineScript::MainWorld);

    connect(page_.data(), &QWebEnginePage::loadStarted, this, &PageHost::onLoadStarted);
    connect(page_.data(), &QWebEnginePage::loadFinished, this, &PageHost::onLoadFinished);
    connect(page_.data(), &QWebEnginePage::urlChanged, this, [this](const QUrl& url) { events_->urlChanged(url); });
    connect(page_.data(), &QWebEnginePage::titleChanged, this,
            [this](const QString& title) { events_->titleChanged(title); });
    connect(page_.data(), &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                releaseContext();
                loading_ = false;
                events_->renderProcessTerminated(status, exitCode);
            });
    connect(page_.data(), &QWebEnginePage::quotaRequested, this, [this](QWebEngineQuotaRequest request) {
        if (!events_->quotaRequested(request))
            request.reject();
    });
    connect(page_.data(), &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, QWebEnginePage::Feature feature) {
                events_->featurePermissionRequested(origin, feature);
            });
    connect(page_.data(), &QWebEnginePage::windowCloseRequested, this, [this]() { events_->closeRequested(); });

    if (options.parent || options.popupWindow) {
        view_ = new EngineView(this, options.popupWindow ? nullptr : options.parent);
        view_->setPage(page_);
        if (options.popupWindow) {
            view_->setAttribute(Qt::WA_DeleteOnClose, false);
            if (!options.windowTitle.isEmpty())
                view_->setWindowTitle(options.windowTitle);
        }
        if (options.geometry.isValid())
            view_->setGeometry(options.geometry);
        (void)view_->winId();
        if (options.visible)
            view_->show();
        // A parent widget that dies takes the view with it: report the end once.
        connect(view_.data(), &QObject::destroyed, this, [this]() {
            // Deleted now: after the event loop ended a deferred delete would never run.
            endPage();
        });
    }
}

PageHost::~PageHost()
{
    liveHosts().removeAll(this);
    if (view_) {
        disconnect(view_.data(), nullptr, this, nullptr);
        delete view_.data();
    }
    endPage();
}

void PageHost::endPage()
{
    if (page_) {
        disconnect(page_.data(), nullptr, this, nullptr);
        delete page_.data();
    }
    releaseContext();
    if (!destroyedSent_) {
        destroyedSent_ = true;
        events_->destroyed();
    }
}

QWebEnginePage* PageHost::page() const
{
    return page_.data();
}

QWebEngineView* PageHost::view() const
{
    return view_.data();
}

WId PageHost::windowHandle() const
{
    return view_ ? view_->winId() : 0;
}

qint64 PageHost::renderProcessPid() const
{
    return page_ ? page_->renderProcessPid() : 0;
}

void PageHost::load(const QUrl& url)
{
    if (!page_)
        return;
    pendingUrl_ = url;
    page_->load(url);
}

void PageHost::reload()
{
    if (page_)
        page_->triggerAction(QWebEnginePage::Reload);
}

void PageHost::stop()
{
    if (!page_)
        return;
    if (loading_)
        stopRequested_ = true;
    page_->triggerAction(QWebEnginePage::Stop);
}

void PageHost::back()
{
    if (page_)
        page_->triggerAction(QWebEnginePage::Back);
}

void PageHost::forward()
{
    if (page_)
        page_->triggerAction(QWebEnginePage::Forward);
}

void PageHost::runJavaScript(const QString& code)
{
    if (page_)
        page_->runJavaScript(code, QWebEngineScript::MainWorld);
}

void PageHost::setFocus(bool focus)
{
    if (!view_)
        return;
    if (focus)
        view_->setFocus(Qt::OtherFocusReason);
    else if (view_->hasFocus() || (view_->focusProxy() && view_->focusProxy()->hasFocus()))
        view_->clearFocus();
}

void PageHost::setGeometry(const QRect& rect)
{
    if (view_)
        view_->setGeometry(rect);
}

void PageHost::invokeFunction(int contextId, int handle, const QJsonArray& args)
{
    invokeFunctionJson(contextId, handle, QJsonDocument(args).toJson(QJsonDocument::Compact));
}

void PageHost::invokeFunctionJson(int contextId, int handle, const QByteArray& args)
{
    if (contextId == 0 || contextId != context_)
        return;
    for (Reply* r = reply_; r; r = r->outer) {
        if (r->context == contextId) {
            if (!r->calls.isEmpty())
                r->calls += ',';
            r->calls += '[';
            r->calls += QByteArray::number(handle);
            r->calls += ',';
            r->calls += args;
            r->calls += ']';
            return;
        }
    }
    ++invocationMessages_;
    emit bridge_->invoke(token_, handle, QString::fromUtf8(args));
}

void PageHost::defineFunction(int contextId, const GlobalFunction& function)
{
    if (contextId == 0 || contextId != context_)
        return;
    emit bridge_->define(token_, function.name, int(function.role));
}

void PageHost::setGlobalFunctions(const QList<GlobalFunction>& functions)
{
    functions_ = functions;
    if (!page_)
        return;
    QWebEngineScriptCollection& scripts = page_->scripts();
    for (const QWebEngineScript& old : scripts.findScripts(QString::fromLatin1(kScriptName)))
        scripts.remove(old);
    QWebEngineScript script;
    script.setName(QString::fromLatin1(kScriptName));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(BootstrapScript(functions_));
    scripts.insert(script);
}

void PageHost::releaseContext()
{
    if (!context_)
        return;
    const int old = context_;
    context_ = 0;
    token_.clear();
    events_->contextReleased(old);
}

void PageHost::onContextReported(const QString& token, const QString& url)
{
    if (token.isEmpty() || token == token_)
        return;
    releaseContext();
    token_ = token;
    context_ = NextContextId();
    events_->contextCreated(context_, QUrl(url));
}

template <class Call>
QString PageHost::answer(const QString& token, const Call& call)
{
    if (token.isEmpty() || token != token_)
        return QString(); // a document that is gone
    Reply reply{context_, QByteArray(), reply_};
    reply_ = &reply;
    QPointer<PageHost> self(this);
    call();
    if (!self)
        return QString();
    reply_ = reply.outer;
    if (reply.calls.isEmpty())
        return QString();
    return QLatin1Char('[') + QString::fromUtf8(reply.calls) + QLatin1Char(']');
}

QString PageHost::onScriptCall(const QString& token, const QString& name, int callId, const QJsonArray& args)
{
    return answer(token, [&] { events_->scriptCall(context_, name, callId, args); });
}

QString PageHost::onQuery(const QString& token, const QString& name, int callId, const QString& request,
                          bool persistent, int onSuccess, int onFailure)
{
    return answer(token, [&] { events_->queryCall(context_, name, callId, request, persistent, onSuccess, onFailure); });
}

void PageHost::popupReported(const QUrl& url, QWebEnginePage::WebWindowType type)
{
    events_->popupRequested(url, type);
}

void PageHost::onNavigation(const QUrl& url, bool isMainFrame)
{
    if (isMainFrame)
        pendingUrl_ = url;
}

void PageHost::onLoadStarted()
{
    loading_ = true;
    stopRequested_ = false;
    events_->loadStarted(pendingUrl_.isValid() ? pendingUrl_ : page_->url());
    events_->loadingStateChanged(true, page_->history()->canGoBack(), page_->history()->canGoForward());
}

void PageHost::onLoadFinished(bool ok)
{
    keepCleanupLast();
    loading_ = false;
    int code = 0;
    QUrl url = page_->url();
    if (!ok) {
        if (pendingUrl_.isValid())
            url = pendingUrl_;
        if (stopRequested_)
            code = -3;
        else if (!isKnownScheme(url.scheme()))
            code = -302;
        else
            code = -2;
    }
    stopRequested_ = false;
    pendingUrl_ = QUrl();
    QPointer<EnginePage> page(page_);
    events_->loadFinished(ok, code, url);
    if (page)
        events_->loadingStateChanged(false, page->history()->canGoBack(), page->history()->canGoForward());
}

} // namespace cefqt
