// One browser of the runtime layer on QtWebEngine: a page (optionally shown in a view
// that is a child of a native window), its web channel, the injected page bridge and
// the translation of engine signals into PageEvents calls. GUI thread only.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>

class QWebChannel;
class QWebEngineQuotaRequest;
class QWebEngineContextMenuData;
class QMenu;

namespace cefqt {

class PageHost;

// What a page reports. Every call is made on the GUI thread; the implementation must
// not delete the PageHost from inside a call (use deleteLater or a posted task).
class PageEvents {
public:
    virtual ~PageEvents() = default;

    // Return false to cancel the navigation.
    virtual bool navigationRequested(const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame,
                                     bool isRedirect)
    {
        (void)url; (void)type; (void)isMainFrame; (void)isRedirect;
        return true;
    }
    virtual void loadStarted(const QUrl& url) { (void)url; }
    // errorCode follows the runtime's numbering: 0 on success, -3 aborted, -302 unknown
    // scheme, -2 any other failure (the engine gives no code).
    virtual void loadFinished(bool ok, int errorCode, const QUrl& url) { (void)ok; (void)errorCode; (void)url; }
    virtual void loadingStateChanged(bool isLoading, bool canGoBack, bool canGoForward)
    {
        (void)isLoading; (void)canGoBack; (void)canGoForward;
    }
    virtual void urlChanged(const QUrl& url) { (void)url; }
    virtual void titleChanged(const QString& title) { (void)title; }
    // window.open or a target=_blank link; the engine gives only the URL.
    virtual void popupRequested(const QUrl& url, QWebEnginePage::WebWindowType type) { (void)url; (void)type; }
    virtual void renderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode)
    {
        (void)status; (void)exitCode;
    }
    // Script contexts of the main frame: one per document.
    virtual void contextCreated(int contextId, const QUrl& url) { (void)contextId; (void)url; }
    virtual void contextReleased(int contextId) { (void)contextId; }
    // Page script called a global function the layer defined. `callId` is the value
    // the page-side call returned (non-zero only for names defined as id-returning).
    // PageHost::invokeFunction calls for the same context made before this returns reach
    // the page as the call's reply.
    virtual void scriptCall(int contextId, const QString& name, int callId, const QJsonArray& args)
    {
        (void)contextId; (void)name; (void)callId; (void)args;
    }
    // Page script called a query function (role Query): its query object, flat; the
    // callbacks are function handles (0: none). By default a scriptCall with the object as
    // the page encodes it.
    virtual void queryCall(int contextId, const QString& name, int callId, const QString& request, bool persistent,
                           int onSuccess, int onFailure)
    {
        QJsonObject query{{QStringLiteral("request"), request}, {QStringLiteral("persistent"), persistent}};
        if (onSuccess)
            query.insert(QStringLiteral("onSuccess"), QJsonObject{{QStringLiteral("$f"), onSuccess}});
        if (onFailure)
            query.insert(QStringLiteral("onFailure"), QJsonObject{{QStringLiteral("$f"), onFailure}});
        scriptCall(contextId, name, callId, QJsonArray{QJsonObject{{QStringLiteral("$o"), query}}});
    }
    // A view's context menu is about to open; `menu` holds the engine's standard
    // actions and may be changed or cleared (empty: no menu).
    virtual void contextMenu(QMenu* menu, const QWebEngineContextMenuData& data) { (void)menu; (void)data; }
    // Return true when the request was handled (accepted or rejected) by the call.
    virtual bool quotaRequested(QWebEngineQuotaRequest& request) { (void)request; return false; }
    virtual void featurePermissionRequested(const QUrl& origin, QWebEnginePage::Feature feature)
    {
        (void)origin; (void)feature;
    }
    // Return true to refuse a drag entering the view.
    virtual bool dragEntered(Qt::DropActions actions) { (void)actions; return false; }
    virtual void closeRequested() {}
    // Script dialogs and file choosers: return true when handled (then *ok / *text /
    // *files hold the answer); false lets the engine show its own.
    enum DialogType { Alert, Confirm, Prompt };
    virtual bool scriptDialog(DialogType type, const QUrl& origin, const QString& message,
                              const QString& defaultText, bool* ok, QString* text)
    {
        (void)type; (void)origin; (void)message; (void)defaultText; (void)ok; (void)text;
        return false;
    }
    virtual bool chooseFiles(QWebEnginePage::FileSelectionMode mode, const QStringList& oldFiles,
                             const QStringList& acceptedMimeTypes, QStringList* files)
    {
        (void)mode; (void)oldFiles; (void)acceptedMimeTypes; (void)files;
        return false;
    }
    virtual void consoleMessage(const QString& message, const QString& source, int line)
    {
        (void)message; (void)source; (void)line;
    }
    // The page (and view) are being destroyed; the host is unusable afterwards.
    virtual void destroyed() {}
};

// A name the bridge defines on the page's window object at document creation.
struct GlobalFunction {
    enum Role {
        Plain,       // returns undefined
        Query,       // returns a per-context call id 1, 2, 3, ...; its argument object's
                     // onSuccess/onFailure are forgotten after the last answer
        QueryCancel, // takes a call id; forgets that query's callbacks
    };
    QString name;
    Role role = Plain;
};

// The names a new page's documents get before any of their own script runs (each page
// may change its own list with PageHost::setGlobalFunctions).
void SetGlobalFunctions(const QList<GlobalFunction>& functions);
QList<GlobalFunction> GlobalFunctions();

// A fresh script-context id (process-wide, > 0).
int NextContextId();

// Deletes every page still alive (before the profile and the engine go away).
void DestroyAllPages();

class EnginePage;
class EngineView;
class PageBridge;

class PageHost : public QObject {
    Q_OBJECT
public:
    struct Options {
        QWidget* parent = nullptr; // null: a page without a view
        QRect geometry;
        bool visible = true;
        QColor background;
        bool popupWindow = false;  // a top-level view (popup or devtools)
        QString windowTitle;
    };

    PageHost(PageEvents* events, const Options& options, QObject* owner = nullptr);
    ~PageHost() override;

    QWebEnginePage* page() const;
    QWebEngineView* view() const;
    WId windowHandle() const; // the view's native window; 0 without a view

    void load(const QUrl& url);
    void reload();
    void stop();
    void back();
    void forward();
    void runJavaScript(const QString& code);
    void setFocus(bool focus);
    void setGeometry(const QRect& rect);

    // Native to page: call the page function `handle` of `contextId` with `args`
    // (encoded values, see the bridge). Ignored when the context is gone. While the page's
    // call into that context is being answered, the function call travels with the reply;
    // otherwise it is a message of its own.
    void invokeFunction(int contextId, int handle, const QJsonArray& args);
    // The same with the encoded values already as JSON text (an array).
    void invokeFunctionJson(int contextId, int handle, const QByteArray& args);
    // Function calls sent as messages of their own so far.
    int invocationMessages() const { return invocationMessages_; }
    // Defines a further global function in a live context.
    void defineFunction(int contextId, const GlobalFunction& function);
    // The functions of this page's next documents.
    void setGlobalFunctions(const QList<GlobalFunction>& functions);

    int currentContext() const { return context_; }
    qint64 renderProcessPid() const;

    // Releases the current context (renderer gone, page closing).
    void releaseContext();

    void popupReported(const QUrl& url, QWebEnginePage::WebWindowType type);

private:
    friend class EnginePage;
    friend class EngineView;
    friend class PageBridge;
    void onContextReported(const QString& token, const QString& url);
    QString onScriptCall(const QString& token, const QString& name, int callId, const QJsonArray& args);
    QString onQuery(const QString& token, const QString& name, int callId, const QString& request, bool persistent,
                    int onSuccess, int onFailure);
    // Runs call for a page call of token's document; answers the function calls it completed
    // as JSON text (empty: none).
    template <class Call>
    QString answer(const QString& token, const Call& call);
    void onLoadStarted();
    void onLoadFinished(bool ok);
    void onNavigation(const QUrl& url, bool isMainFrame);
    // Deletes the page now, releases its context and reports the end once.
    void endPage();

    PageEvents* events_;
    QPointer<EngineView> view_;
    QPointer<EnginePage> page_;
    QWebChannel* channel_ = nullptr;
    PageBridge* bridge_ = nullptr;
    QString token_;
    int context_ = 0;
    bool loading_ = false;
    bool stopRequested_ = false;
    QUrl pendingUrl_;
    bool destroyedSent_ = false;
    QList<GlobalFunction> functions_;
    // The reply of the page call being answered (innermost first when calls nest).
    struct Reply {
        int context;
        QByteArray calls; // [handle, args], ... in call order (JSON text)
        Reply* outer;
    };
    Reply* reply_ = nullptr;
    int invocationMessages_ = 0;
};

// The object the page script talks to over the web channel.
class PageBridge : public QObject {
    Q_OBJECT
public:
    explicit PageBridge(PageHost* host) : QObject(host), host_(host) {}

public slots:
    void contextCreated(const QString& token, const QString& url) { host_->onContextReported(token, url); }
    // Answer the page function calls the native side made while answering, as JSON text
    // ([[handle, args], ...]; empty when there were none): a string crosses the channel as is.
    QString call(const QString& token, const QString& name, int callId, const QJsonArray& args)
    {
        return host_->onScriptCall(token, name, callId, args);
    }
    QString query(const QString& token, const QString& name, int callId, const QString& request, bool persistent,
                     int onSuccess, int onFailure)
    {
        return host_->onQuery(token, name, callId, request, persistent, onSuccess, onFailure);
    }

signals:
    void invoke(const QString& token, int handle, const QString& args); // args: JSON text
    void define(const QString& token, const QString& name, int role);

private:
    PageHost* host_;
};

class EnginePage : public QWebEnginePage {
    Q_OBJECT
public:
    EnginePage(QWebEngineProfile* profile, PageHost* host);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl& origin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& origin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& origin, const QString& msg, const QString& defaultValue,
                          QString* result) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override;

private:
    PageHost* host_;
};

class EngineView : public QWebEngineView {
    Q_OBJECT
public:
    EngineView(PageHost* host, QWidget* parent);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    // A top-level view closed by the user asks the layer to close the browser.
    void closeEvent(QCloseEvent* event) override;

private:
    PageHost* host_;
};

// The script injected into every document before its own script (web channel client
// plus the page-side bridge).
QString BootstrapScript(const QList<GlobalFunction>& functions);

} // namespace cefqt
