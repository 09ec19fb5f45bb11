#include "cef_extras/qt_backend.h"
#include "cef_extras/qt_string.h"

#include "cef_control/backend.h"

#include "include/base/cef_logging.h"
#include "include/cef_browser.h"
#include "include/cef_menu_model.h"
#include "cef_extras/closure_task.h"
#include "cefqt/engine.h"
#include "cefqt/engine_page.h"
#include "cefqt/menu_bridge.h"
#include "cefqt/script_json.h"
#include "qt_extras/gui_thread.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMenu>
#include <QPointer>
#include <QSet>
#include <QStandardPaths>
#include <QTimer>
#include <QWebEngineContextMenuData>
#include <QWebEngineDownloadItem>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QWebEngineQuotaRequest>
#include <QWebEngineSettings>
#include <QWidget>

#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>

using cef_backend::BrowserCore;
using cef_backend::BrowserView;
using cef_backend::CreateParams;
using cef_backend::ScriptValue;

namespace cefqt {
namespace {

// ---- threads ---------------------------------------------------------------------

// Runs fn on the GUI thread later; dropped once the application's teardown started.
void postToGui(std::function<void()> fn)
{
    PostToGui(std::move(fn));
}

// ---- values ----------------------------------------------------------------------

GlobalFunction functionFor(const QString& name)
{
    GlobalFunction f;
    f.name = name;
    // The router's page functions: cefQuery answers its query id at once.
    if (name == QLatin1String("cefQuery"))
        f.role = GlobalFunction::Query;
    else if (name == QLatin1String("cefQueryCancel"))
        f.role = GlobalFunction::QueryCancel;
    return f;
}

cef_termination_status_t terminationStatus(QWebEnginePage::RenderProcessTerminationStatus s)
{
    switch (s) {
    case QWebEnginePage::CrashedTerminationStatus:
        return TS_PROCESS_CRASHED;
    case QWebEnginePage::KilledTerminationStatus:
        return TS_PROCESS_WAS_KILLED;
    default:
        return TS_ABNORMAL_TERMINATION;
    }
}

QColor fromCefColor(cef_color_t c)
{
    return QColor::fromRgba(QRgb(c));
}

// Download paths may come with Windows separators.
QString localPath(const std::string& path)
{
    QString p = QString::fromStdString(path);
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir::cleanPath(p);
}

cef_backend::DownloadInfo downloadInfo(QWebEngineDownloadItem* item)
{
    cef_backend::DownloadInfo info;
    info.id = item->id();
    info.url = item->url().toString(QUrl::FullyEncoded).toStdString();
    info.suggested_file_name = item->downloadFileName().toStdString();
    info.full_path = QDir(item->downloadDirectory()).filePath(item->downloadFileName()).toStdString();
    info.mime_type = item->mimeType().toStdString();
    info.total_bytes = item->totalBytes();
    info.received_bytes = item->receivedBytes();
    if (item->totalBytes() > 0)
        info.percent_complete = int(item->receivedBytes() * 100 / item->totalBytes());
    info.in_progress = item->state() == QWebEngineDownloadItem::DownloadInProgress;
    info.complete = item->state() == QWebEngineDownloadItem::DownloadCompleted;
    info.canceled = item->state() == QWebEngineDownloadItem::DownloadCancelled ||
                    item->state() == QWebEngineDownloadItem::DownloadInterrupted;
    return info;
}

// Waits on the GUI thread (keeping it responsive) until a client's later answer arrives.
struct PendingAnswer {
    std::mutex m;
    bool answered = false;
    bool ok = false;
    QString text;
    QStringList list;

    void set(bool okValue, const QString& textValue, const QStringList& listValue)
    {
        std::lock_guard<std::mutex> l(m);
        if (answered)
            return;
        answered = true;
        ok = okValue;
        text = textValue;
        list = listValue;
    }
    bool done()
    {
        std::lock_guard<std::mutex> l(m);
        return answered;
    }
    // Also ends when abandoned() answers true (the browser is closing).
    void wait(const std::function<bool()>& abandoned)
    {
        while (!done() && !abandoned() && QCoreApplication::instance()) {
            QEventLoop loop;
            QTimer::singleShot(10, &loop, &QEventLoop::quit);
            loop.exec();
        }
    }
};

class GuiBrowser;

struct Link {
    QPointer<GuiBrowser> gui;   // GUI thread only
    std::atomic<int> queued{0}; // actions posted to the GUI thread and not run yet
};

// ---- the GUI side of one browser ---------------------------------------------------

class GuiBrowser : public QObject, public PageEvents {
public:
    GuiBrowser(CefRefPtr<BrowserCore> core, const CreateParams& params, std::shared_ptr<Link> inspected)
        : QObject(QCoreApplication::instance()), core_(core), params_(params), inspected_(std::move(inspected))
    {
    }

    ~GuiBrowser() override
    {
        pages().remove(pageKey_);
        if (host_)
            delete host_.data();
    }

    static QHash<QWebEnginePage*, GuiBrowser*>& pages()
    {
        static QHash<QWebEnginePage*, GuiBrowser*> map;
        return map;
    }

    // Makes the page and view; false when the window it should live in does not exist.
    bool start(const QColor& background)
    {
        const CefWindowInfo& wi = params_.window_info;
        PageHost::Options options;
        const bool windowless = wi.windowless_rendering_enabled != 0;
        const bool child = (wi.style & cef_backend::kWindowStyleChild) != 0;
        if (!windowless) {
            if (child && !params_.is_devtools) {
                options.parent = wi.parent_window ? QWidget::find(WId(wi.parent_window)) : nullptr;
                if (!options.parent) {
                    LOG(ERROR) << "browser parent window " << wi.parent_window << " not found";
                    return false;
                }
            } else {
                options.popupWindow = true;
                options.windowTitle = cef_extras::ToQString(CefString(&wi.window_name));
                if (params_.is_devtools && options.windowTitle.isEmpty())
                    options.windowTitle = QStringLiteral("Dev Tools");
            }
            const int byDefault = cef_backend::kDefaultPosition;
            if (wi.x != byDefault && wi.y != byDefault && wi.width != byDefault && wi.height != byDefault)
                options.geometry = QRect(wi.x, wi.y, wi.width, wi.height);
            else if (options.popupWindow)
                options.geometry = QRect(QPoint(100, 100), QSize(800, 600));
            options.visible = (wi.style & cef_backend::kWindowStyleVisible) || wi.style == 0;
        }
        options.background = params_.settings.background_color ? fromCefColor(params_.settings.background_color)
                                                                : background;
        host_ = new PageHost(this, options, this);
        applySettings();
        pageKey_ = host_->page();
        pages().insert(pageKey_, this);

        if (params_.is_devtools && inspected_ && inspected_->gui && inspected_->gui->host_) {
            QWebEnginePage* target = inspected_->gui->host_->page();
            target->setDevToolsPage(host_->page());
            if (params_.inspect_at.x != 0 || params_.inspect_at.y != 0)
                target->triggerAction(QWebEnginePage::InspectElement);
            primed_ = true; // the engine loads the tools page itself
        } else {
            pendingUrl_ = QString::fromStdString(params_.url.empty() ? std::string("about:blank") : params_.url);
        }
        core_->Created(CefWindowHandle(host_->windowHandle()));
        // The view is attached to the core once CreateBrowser returned: prime after that.
        if (!primed_)
            QTimer::singleShot(0, this, [this]() { prime(); });
        return true;
    }

    // --- actions (GUI)
    void loadUrl(const QString& url)
    {
        if (!primed_) {
            pendingUrl_ = url;
            pendingHtml_.clear();
            return;
        }
        if (host_)
            host_->load(QUrl(url));
    }
    void loadString(const QString& html, const QString& url)
    {
        if (!primed_) {
            pendingHtml_ = html;
            pendingUrl_ = url;
            return;
        }
        if (host_ && host_->page())
            host_->page()->setHtml(html, QUrl(url));
    }
    PageHost* host() const { return primed_ ? host_.data() : nullptr; }
    QWebEnginePage* page() const { return host_ ? host_->page() : nullptr; }

    void close()
    {
        if (waiting_ > 0) {
            // Inside a page callback that waits for the client (a dialog): the page goes once
            // that call has returned.
            closeWhenIdle_ = true;
            return;
        }
        if (host_)
            delete host_.data(); // reports destroyed() -> Closed()
        else
            reportClosed();
    }

    void exposed(int64 contextId, const std::vector<std::string>& names)
    {
        bool added = false;
        for (const std::string& n : names) {
            const QString name = QString::fromStdString(n);
            if (!names_.contains(name)) {
                names_.insert(name);
                added = true;
            }
            if (host_ && contextId != 0 && contextId == host_->currentContext())
                host_->defineFunction(int(contextId), functionFor(name));
        }
        if (added) {
            if (host_) {
                QList<GlobalFunction> functions;
                for (const QString& name : names_)
                    functions.append(functionFor(name));
                host_->setGlobalFunctions(functions);
            }
        }
    }

    // --- downloads (profile signal, GUI)
    void download(QWebEngineDownloadItem* item)
    {
        const cef_backend::DownloadInfo info = downloadInfo(item);
        const cef_backend::DownloadDecision d = core_->BeforeDownload(info, info.suggested_file_name);
        if (!d.accepted) {
            item->cancel();
            return;
        }
        QString path = d.path.empty() ? QString::fromStdString(info.full_path) : localPath(d.path);
        if (QFileInfo(path).isRelative())
            path = QDir(item->downloadDirectory()).filePath(path);
        if (d.show_dialog) {
            path = QFileDialog::getSaveFileName(host_ ? host_->view() : nullptr, QString(), path);
            if (path.isEmpty()) {
                item->cancel();
                return;
            }
        }
        const QFileInfo target(path);
        QDir().mkpath(target.absolutePath());
        item->setDownloadDirectory(target.absolutePath());
        item->setDownloadFileName(target.fileName());
        QPointer<QWebEngineDownloadItem> guard(item);
        std::function<void()> cancel = [guard]() {
            postToGui([guard]() {
                if (guard)
                    guard->cancel();
            });
        };
        CefRefPtr<BrowserCore> core = core_;
        auto update = [core, guard, cancel]() {
            if (guard)
                core->DownloadUpdated(downloadInfo(guard), cancel);
        };
        connect(item, &QWebEngineDownloadItem::downloadProgress, this, update);
        connect(item, &QWebEngineDownloadItem::stateChanged, this, update);
        item->accept();
    }

    // --- PageEvents
    bool navigationRequested(const QUrl& url, QWebEnginePage::NavigationType, bool isMainFrame,
                             bool isRedirect) override
    {
        if (!isMainFrame)
            return true; // only the main frame is known to the layer
        return !core_->BeforeBrowse(url.toString(QUrl::FullyEncoded).toStdString(), isRedirect);
    }
    void loadStarted(const QUrl&) override { core_->LoadStarted(); }
    void loadFinished(bool ok, int errorCode, const QUrl& url) override
    {
        if (ok) {
            core_->LoadEnded(200);
            return;
        }
        // The engine refuses schemes it does not know; the client may hand the URL to the
        // operating system (the engine gives no such hook for links, only for loads whose
        // URL the layer knows).
        if (errorCode == ERR_UNKNOWN_URL_SCHEME &&
            core_->ProtocolExecution(url.toString(QUrl::FullyEncoded).toStdString()))
            QDesktopServices::openUrl(url);
        const char* text = errorCode == ERR_ABORTED           ? "net::ERR_ABORTED"
                           : errorCode == ERR_UNKNOWN_URL_SCHEME ? "net::ERR_UNKNOWN_URL_SCHEME"
                                                                 : "net::ERR_FAILED";
        core_->LoadFailed(errorCode, text, url.toString(QUrl::FullyEncoded).toStdString());
    }
    void loadingStateChanged(bool isLoading, bool canGoBack, bool canGoForward) override
    {
        core_->LoadingStateChanged(isLoading, canGoBack, canGoForward);
    }
    void urlChanged(const QUrl& url) override
    {
        core_->AddressChanged(url.toString(QUrl::FullyEncoded).toStdString());
    }
    void titleChanged(const QString& title) override { core_->TitleChanged(title.toStdString()); }

    void popupRequested(const QUrl& url, QWebEnginePage::WebWindowType) override
    {
        const std::string target = url.toString(QUrl::FullyEncoded).toStdString();
        CefRefPtr<BrowserCore> core = core_;
        // The decision comes back on UI, which is this thread: the popup opens there.
        core_->BeforePopup(target, std::string(), [core, target](const cef_backend::PopupDecision& d) {
            if (!d.cancel)
                core->OpenPopup(d, target);
        });
    }

    void renderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status, int) override
    {
        core_->RenderProcessTerminated(terminationStatus(status));
    }

    void contextCreated(int contextId, const QUrl& url) override
    {
        core_->ContextCreated(contextId, url.toString(QUrl::FullyEncoded).toStdString());
    }
    void contextReleased(int contextId) override { core_->ContextReleased(contextId); }
    void scriptCall(int contextId, const QString& name, int, const QJsonArray& args) override
    {
        std::vector<ScriptValue> values;
        values.reserve(size_t(args.size()));
        for (const QJsonValue& v : args)
            values.push_back(ScriptValueFromJson(v));
        core_->CallGlobalFunction(contextId, functionName(name), values, nullptr);
    }
    void queryCall(int contextId, const QString& name, int, const QString& request, bool persistent, int onSuccess,
                   int onFailure) override
    {
        static const CefString kRequest(u"request"), kPersistent(u"persistent"), kOnSuccess(u"onSuccess"),
            kOnFailure(u"onFailure");
        std::vector<ScriptValue> args(1);
        ScriptValue& query = args.front();
        query.kind = ScriptValue::Object;
        query.members.reserve(4);
        query.members.emplace_back(kRequest, ScriptValue::MakeString(cef_extras::ToCefString(request)));
        query.members.emplace_back(kPersistent, ScriptValue::MakeBool(persistent));
        if (onSuccess)
            query.members.emplace_back(kOnSuccess, ScriptValue::MakeFunction(onSuccess));
        if (onFailure)
            query.members.emplace_back(kOnFailure, ScriptValue::MakeFunction(onFailure));
        core_->CallGlobalFunction(contextId, functionName(name), args, nullptr);
    }

    void contextMenu(QMenu* menu, const QWebEngineContextMenuData& data) override
    {
        cef_backend::ContextMenuInfo info;
        info.x = data.position().x();
        info.y = data.position().y();
        int flags = CM_TYPEFLAG_PAGE;
        if (!data.linkUrl().isEmpty())
            flags |= CM_TYPEFLAG_LINK;
        if (data.mediaType() != QWebEngineContextMenuData::MediaTypeNone)
            flags |= CM_TYPEFLAG_MEDIA;
        if (!data.selectedText().isEmpty())
            flags |= CM_TYPEFLAG_SELECTION;
        if (data.isContentEditable())
            flags |= CM_TYPEFLAG_EDITABLE;
        info.type_flags = flags;
        switch (data.mediaType()) {
        case QWebEngineContextMenuData::MediaTypeImage:
            info.media_type = CM_MEDIATYPE_IMAGE;
            info.has_image_contents = true;
            break;
        case QWebEngineContextMenuData::MediaTypeVideo:
            info.media_type = CM_MEDIATYPE_VIDEO;
            break;
        case QWebEngineContextMenuData::MediaTypeAudio:
            info.media_type = CM_MEDIATYPE_AUDIO;
            break;
        case QWebEngineContextMenuData::MediaTypeFile:
            info.media_type = CM_MEDIATYPE_FILE;
            break;
        case QWebEngineContextMenuData::MediaTypePlugin:
            info.media_type = CM_MEDIATYPE_PLUGIN;
            break;
        default:
            break;
        }
        info.link_url = data.linkUrl().toString(QUrl::FullyEncoded).toStdString();
        info.unfiltered_link_url = info.link_url;
        info.source_url = data.mediaUrl().toString(QUrl::FullyEncoded).toStdString();
        info.page_url = page() ? page()->url().toString(QUrl::FullyEncoded).toStdString() : std::string();
        info.frame_url = info.page_url;
        info.selection_text = data.selectedText().toStdString();
        info.editable = data.isContentEditable();

        CefRefPtr<CefMenuModel> model = cef_backend::CreateMenuModel();
        const QHash<int, QPointer<QAction>> standard = SeedModelFromMenu(menu, model);
        core_->BeforeContextMenu(info, model);
        if (!model || model->GetCount() == 0) {
            menu->clear();
            return;
        }
        CefRefPtr<BrowserCore> core = core_;
        FillMenuFromModel(menu, model, [core, info, standard](int id) {
            if (core->ContextMenuCommand(info, id, 0))
                return;
            QAction* action = standard.value(id);
            if (action)
                action->trigger();
        });
    }

    bool quotaRequested(QWebEngineQuotaRequest& request) override
    {
        auto pending = std::make_shared<std::atomic<bool>>(false);
        QWebEngineQuotaRequest copy = request;
        std::function<void(bool)> done = [copy, pending](bool allow) {
            if (pending->exchange(true))
                return;
            postToGui([copy, allow]() mutable {
                if (allow)
                    copy.accept();
                else
                    copy.reject();
            });
        };
        core_->QuotaRequest(request.origin().toString(QUrl::FullyEncoded).toStdString(), request.requestedSize(),
                            done);
        return true;
    }

    void featurePermissionRequested(const QUrl& origin, QWebEnginePage::Feature feature) override
    {
        QPointer<QWebEnginePage> page(this->page());
        auto answer = [page, origin, feature](bool allow) {
            postToGui([page, origin, feature, allow]() {
                if (page)
                    page->setFeaturePermission(origin, feature,
                                               allow ? QWebEnginePage::PermissionGrantedByUser
                                                     : QWebEnginePage::PermissionDeniedByUser);
            });
        };
        if (feature != QWebEnginePage::Geolocation) {
            answer(false); // no other permission has a client callback
            return;
        }
        auto once = std::make_shared<std::atomic<bool>>(false);
        std::function<void(bool)> done = [answer, once](bool allow) {
            if (!once->exchange(true))
                answer(allow);
        };
        if (!core_->GeolocationPermission(origin.toString(QUrl::FullyEncoded).toStdString(), ++geolocationId_,
                                          done))
            done(false);
    }

    bool dragEntered(Qt::DropActions actions) override
    {
        uint32 mask = DRAG_OPERATION_NONE;
        if (actions & Qt::CopyAction)
            mask |= DRAG_OPERATION_COPY;
        if (actions & Qt::LinkAction)
            mask |= DRAG_OPERATION_LINK;
        if (actions & Qt::MoveAction)
            mask |= DRAG_OPERATION_MOVE;
        return core_->DragEnter(cef_backend::DragInfo(), mask);
    }

    void closeRequested() override { core_->CloseRequested(); }

    bool scriptDialog(DialogType type, const QUrl& origin, const QString& message, const QString& defaultText,
                      bool* ok, QString* text) override
    {
        auto pending = std::make_shared<PendingAnswer>();
        bool suppress = false;
        const int cefType = type == Alert ? JSDIALOGTYPE_ALERT : type == Confirm ? JSDIALOGTYPE_CONFIRM
                                                                                : JSDIALOGTYPE_PROMPT;
        const bool handled = core_->JSDialog(
            origin.toString(QUrl::FullyEncoded).toStdString(), cefType, message.toStdString(),
            defaultText.toStdString(),
            [pending](bool okValue, std::string input) {
                pending->set(okValue, QString::fromStdString(input), QStringList());
            },
            &suppress);
        if (!handled) {
            if (!suppress)
                return false;
            *ok = false; // suppressed: as if dismissed
            return true;
        }
        if (!waitForClient(*pending)) {
            *ok = false; // the browser is closing: dismissed
            return true;
        }
        *ok = pending->ok;
        *text = pending->text;
        return true;
    }

    bool chooseFiles(QWebEnginePage::FileSelectionMode mode, const QStringList& oldFiles,
                     const QStringList& acceptedMimeTypes, QStringList* files) override
    {
        auto pending = std::make_shared<PendingAnswer>();
        std::vector<std::string> accept;
        for (const QString& t : acceptedMimeTypes)
            accept.push_back(t.toStdString());
        const int cefMode = mode == QWebEnginePage::FileSelectOpenMultiple ? FILE_DIALOG_OPEN_MULTIPLE
                                                                           : FILE_DIALOG_OPEN;
        const bool handled = core_->FileDialog(
            cefMode, std::string(), oldFiles.value(0).toStdString(), accept,
            [pending](bool okValue, std::vector<std::string> paths) {
                QStringList list;
                for (const std::string& p : paths)
                    list.append(localPath(p));
                pending->set(okValue, QString(), list);
            });
        if (!handled)
            return false;
        if (!waitForClient(*pending)) {
            *files = QStringList();
            return true;
        }
        *files = pending->ok ? pending->list : QStringList();
        return true;
    }

    void consoleMessage(const QString& message, const QString& source, int line) override
    {
        core_->ConsoleMessage(message.toStdString(), source.toStdString(), line);
    }

    void destroyed() override
    {
        pages().remove(pageKey_);
        pageKey_ = nullptr;
        reportClosed();
    }

private:
    // The runtime's text of a page function's name, kept from the page's last call.
    const CefString& functionName(const QString& name)
    {
        if (name != lastName_) {
            lastName_ = name;
            lastCefName_ = cef_extras::ToCefString(name);
        }
        return lastCefName_;
    }

    // Waits (GUI stays responsive) until the client answers; false when the browser started
    // closing meanwhile (the page then closes after the engine's call returned).
    bool waitForClient(PendingAnswer& pending)
    {
        ++waiting_;
        pending.wait([this]() { return closeWhenIdle_; });
        --waiting_;
        if (!closeWhenIdle_)
            return true;
        if (waiting_ == 0)
            QTimer::singleShot(0, this, [this]() { close(); });
        return false;
    }

    void reportClosed()
    {
        if (closedReported_)
            return;
        closedReported_ = true;
        core_->Closed();
    }

    // The names the client's OnContextCreated puts on the window object are learnt on a
    // stand-in context before the first document, so that its script can call them while
    // it parses; then the first URL loads.
    void prime()
    {
        primed_ = true;
        if (!host_)
            return;
        std::vector<std::string> names = core_->ProbeGlobalFunctionNames();
        exposed(0, names);
        if (!pendingHtml_.isEmpty())
            host_->page()->setHtml(pendingHtml_, QUrl(pendingUrl_));
        else if (!pendingUrl_.isEmpty())
            host_->load(QUrl(pendingUrl_));
        pendingHtml_.clear();
        pendingUrl_.clear();
    }

    void applySettings()
    {
        QWebEngineSettings* s = host_->page()->settings();
        const CefBrowserSettings& b = params_.settings;
        auto state = [s](QWebEngineSettings::WebAttribute a, cef_state_t v) {
            if (v != STATE_DEFAULT)
                s->setAttribute(a, v == STATE_ENABLED);
        };
        state(QWebEngineSettings::JavascriptEnabled, b.javascript);
        state(QWebEngineSettings::JavascriptCanOpenWindows, b.javascript_open_windows);
        state(QWebEngineSettings::JavascriptCanAccessClipboard, b.javascript_access_clipboard);
        state(QWebEngineSettings::JavascriptCanPaste, b.javascript_dom_paste);
        state(QWebEngineSettings::PluginsEnabled, b.plugins);
        state(QWebEngineSettings::LocalContentCanAccessRemoteUrls, b.universal_access_from_file_urls);
        state(QWebEngineSettings::LocalContentCanAccessFileUrls, b.file_access_from_file_urls);
        state(QWebEngineSettings::AutoLoadImages, b.image_loading);
        state(QWebEngineSettings::LinksIncludedInFocusChain, b.tab_to_links);
        state(QWebEngineSettings::LocalStorageEnabled, b.local_storage);
        state(QWebEngineSettings::WebGLEnabled, b.webgl);
        if (b.default_font_size > 0)
            s->setFontSize(QWebEngineSettings::DefaultFontSize, b.default_font_size);
        if (b.default_fixed_font_size > 0)
            s->setFontSize(QWebEngineSettings::DefaultFixedFontSize, b.default_fixed_font_size);
        if (b.minimum_font_size > 0)
            s->setFontSize(QWebEngineSettings::MinimumFontSize, b.minimum_font_size);
        if (b.default_encoding.length)
            s->setDefaultTextEncoding(cef_extras::ToQString(CefString(&b.default_encoding)));
        // No counterpart: caret_browsing, web_security, text_area_resize, java,
        // javascript_close_windows, databases, application_cache, remote_fonts.
    }

    CefRefPtr<BrowserCore> core_;
    CreateParams params_;
    std::shared_ptr<Link> inspected_;
    QPointer<PageHost> host_;
    QWebEnginePage* pageKey_ = nullptr; // key in pages(), never dereferenced
    bool primed_ = false;
    bool closedReported_ = false;
    int waiting_ = 0;            // page callbacks waiting for the client's answer
    bool closeWhenIdle_ = false; // close asked while one was waiting
    QString pendingUrl_;
    QString pendingHtml_;
    QSet<QString> names_;
    int geolocationId_ = 0;
    QString lastName_;
    CefString lastCefName_;
};

// ---- the core's handle on one browser (any thread) -----------------------------------

class QtBrowserView : public BrowserView {
public:
    explicit QtBrowserView(std::shared_ptr<Link> link) : link_(std::move(link)) {}

    ~QtBrowserView() override
    {
        // Always later: the core may drop the view from inside one of the browser's own calls.
        std::shared_ptr<Link> link = link_;
        postToGui([link]() {
            if (link->gui)
                delete link->gui.data();
        });
    }

    std::shared_ptr<Link> link() const { return link_; }

    void LoadURL(const std::string& url) override
    {
        const QString u = QString::fromStdString(url);
        later([u](GuiBrowser* g) { g->loadUrl(u); });
    }
    void LoadString(const std::string& html, const std::string& url) override
    {
        const QString h = QString::fromStdString(html), u = QString::fromStdString(url);
        later([h, u](GuiBrowser* g) { g->loadString(h, u); });
    }
    void GoBack() override { onHost([](PageHost* h) { h->back(); }); }
    void GoForward() override { onHost([](PageHost* h) { h->forward(); }); }
    void Reload(bool ignoreCache) override
    {
        onHost([ignoreCache](PageHost* h) {
            if (ignoreCache && h->page())
                h->page()->triggerAction(QWebEnginePage::ReloadAndBypassCache);
            else
                h->reload();
        });
    }
    void StopLoad() override { onHost([](PageHost* h) { h->stop(); }); }
    void ExecuteJavaScript(const std::string& code, const std::string&, int) override
    {
        const QString c = QString::fromStdString(code);
        onHost([c](PageHost* h) { h->runJavaScript(c); });
    }
    void SetFocus(bool focus) override { onHost([focus](PageHost* h) { h->setFocus(focus); }); }
    void SetVisible(bool visible) override
    {
        onHost([visible](PageHost* h) {
            if (h->view())
                h->view()->setVisible(visible);
        });
    }
    void SetMouseCursorChangeDisabled(bool) override {} // no engine counterpart: the core keeps the flag
    void SetZoomLevel(double level) override
    {
        const double factor = qBound(0.25, std::pow(1.2, level), 5.0);
        onHost([factor](PageHost* h) {
            if (h->page())
                h->page()->setZoomFactor(factor);
        });
    }
    void StartDownload(const std::string& url) override
    {
        const QUrl u(QString::fromStdString(url));
        onHost([u](PageHost* h) {
            if (h->page())
                h->page()->download(u);
        });
    }
    void Close() override { later([](GuiBrowser* g) { g->close(); }); }

    void ExposeGlobalFunctions(int64 contextId, const std::vector<std::string>& names) override
    {
        now([contextId, names](GuiBrowser* g) { g->exposed(contextId, names); });
    }
    bool InvokeFunction(int64 contextId, int64 functionId, const std::vector<ScriptValue>& args,
                        ScriptValue*) override
    {
        const QByteArray json = ScriptValuesJson(args);
        now([contextId, functionId, json](GuiBrowser* g) {
            if (PageHost* h = g->host())
                h->invokeFunctionJson(int(contextId), int(functionId), json);
        });
        return false;
    }

private:
    // Actions reach the engine later, in order, never from inside one of its own calls.
    void later(std::function<void(GuiBrowser*)> fn)
    {
        std::shared_ptr<Link> link = link_;
        ++link->queued;
        postToGui([link, fn]() {
            --link->queued;
            if (link->gui)
                fn(link->gui.data());
        });
    }
    // Script-host calls run at once on the GUI thread (a page call's answer becomes its reply),
    // unless actions posted before them are still waiting.
    template <class Fn>
    void now(const Fn& fn)
    {
        if (qt_extras::OnGuiThread() && link_->queued == 0) {
            if (link_->gui)
                fn(link_->gui.data());
            return;
        }
        later(fn);
    }
    void onHost(std::function<void(PageHost*)> fn)
    {
        later([fn](GuiBrowser* g) {
            if (PageHost* h = g->host())
                fn(h);
        });
    }

    std::shared_ptr<Link> link_;
};

// ---- the backend ---------------------------------------------------------------------

// Runs the runtime's UI and renderer tasks on the thread it lives on (the GUI thread) when
// its event arrives. Made before the application object exists; events posted then wait for
// the first event loop.
class EngineTaskPump : public QObject {
public:
    static const QEvent::Type kRunTasks;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() != kRunTasks)
            return QObject::event(e);
        cef_backend::RunEngineThreadTasks();
        return true;
    }
};
const QEvent::Type EngineTaskPump::kRunTasks = QEvent::Type(QEvent::registerEventType());

class QtBackend : public cef_backend::Backend {
public:
    // QtWebEngine decides on the GUI thread (navigation, popups, menus, permissions,
    // downloads, page calls): the runtime's UI and renderer run there too.
    std::function<void()> EngineThreadScheduler() override
    {
        static EngineTaskPump* pump = new EngineTaskPump; // this thread's, kept until process exit
        return [] { QCoreApplication::postEvent(pump, new QEvent(EngineTaskPump::kRunTasks)); };
    }

    void Initialize(const CefMainArgs&, const CefSettings& settings) override
    {
        PrepareProcess(settings.no_sandbox != 0);
        ProfileSettings profile;
        auto text = [](const cef_string_t& field) { return cef_extras::ToQString(CefString(&field)); };
        profile.userAgent = text(settings.user_agent);
        profile.locale = text(settings.accept_language_list.length ? settings.accept_language_list : settings.locale);
        profile.cachePath = CachePathFromSettings(text(settings.cache_path));
        profile.persistentCookies = settings.persist_session_cookies != 0;
        SetProfileSettings(profile);
        {
            std::lock_guard<std::mutex> l(m_);
            background_ = settings.background_color;
        }
        SetDownloadObserver([](QWebEngineDownloadItem* item) {
            GuiBrowser* g = GuiBrowser::pages().value(item->page());
            if (g)
                g->download(item);
            else
                item->cancel();
        });
    }

    void Shutdown() override
    {
        // After the application object is gone: nothing of Qt may be touched here.
        std::lock_guard<std::mutex> l(m_);
        background_ = 0;
    }

    void SchemeHandlerFactoryRegistered(const std::string& scheme, const std::string&) override
    {
        addScheme(QByteArray::fromStdString(scheme));
    }

    void CustomSchemeAdded(const std::string& scheme, bool isStandard, bool, bool) override
    {
        if (isStandard)
            addScheme(QByteArray::fromStdString(scheme));
    }

    std::unique_ptr<BrowserView> CreateBrowser(CefRefPtr<BrowserCore> core, const CreateParams& params) override
    {
        if (!QCoreApplication::instance())
            return nullptr;
        std::shared_ptr<Link> inspected;
        if (auto* v = dynamic_cast<QtBrowserView*>(params.inspected))
            inspected = v->link();
        auto link = std::make_shared<Link>();
        QColor background;
        {
            std::lock_guard<std::mutex> l(m_);
            if (background_)
                background = fromCefColor(background_);
        }
        auto make = [core, params, inspected, link, background]() -> bool {
            NoteGuiApplication();
            auto* g = new GuiBrowser(core, params, inspected);
            link->gui = g;
            if (!g->start(background)) {
                link->gui.clear();
                delete g;
                return false;
            }
            return true;
        };
        if (qt_extras::OnGuiThread()) {
            if (!make())
                return nullptr;
        } else {
            postToGui([make, core]() {
                if (!make())
                    core->Closed();
            });
        }
        return std::unique_ptr<BrowserView>(new QtBrowserView(link));
    }

private:
    static void addScheme(const QByteArray& scheme)
    {
        const QByteArray name = scheme.toLower();
        if (!RegisterStandardScheme(name) && !IsRegisteredScheme(name)) {
            LOG(WARNING) << "scheme " << name.constData() << " cannot be served by the page engine";
            return;
        }
        SetSchemeServer(name, &serveThroughCore);
    }

    // Hands a request of a custom scheme to the core's resource driver (IO thread) and
    // replies to the engine with what the handler produced.
    static CancelFn serveThroughCore(const ResourceRequest& request, ReplyFn reply)
    {
        struct Sink : cef_backend::ResourceSink {
            ReplyFn reply;
            cef_backend::ResourceResponseHead head;
            QByteArray body;
            bool headers = false;

            void OnNotHandled() override
            {
                ResourceReply r;
                r.kind = ResourceReply::NotFound;
                reply(r);
            }
            void OnHeaders(const cef_backend::ResourceResponseHead& h) override
            {
                head = h;
                headers = true;
            }
            void OnData(const char* data, size_t size) override { body.append(data, int(size)); }
            void OnComplete(bool ok) override
            {
                ResourceReply r;
                if (!ok || !headers) {
                    r.kind = ResourceReply::Failed;
                } else if (!head.redirect_url.empty()) {
                    r.kind = ResourceReply::Redirect;
                    r.redirect = QUrl(QString::fromStdString(head.redirect_url));
                } else if (head.status == 404 || head.status == 410) {
                    r.kind = ResourceReply::NotFound;
                } else if (head.status >= 400) {
                    r.kind = ResourceReply::Failed;
                } else {
                    r.kind = ResourceReply::Data;
                    r.mimeType = head.mime_type.empty() ? QByteArray("text/html")
                                                        : QByteArray::fromStdString(head.mime_type);
                    r.body = body;
                }
                reply(r);
            }
        };
        auto sink = std::make_shared<Sink>();
        sink->reply = reply;
        cef_backend::ResourceRequest req;
        req.url = request.url.toString(QUrl::FullyEncoded).toStdString();
        req.method = request.method.isEmpty() ? std::string("GET") : request.method.toStdString();
        for (const auto& h : request.headers)
            req.headers.emplace(h.first.toStdString(), h.second.toStdString());
        req.read_buffer_size = 64 * 1024;
        CefRefPtr<cef_backend::ResourceJob> job = cef_backend::StartResourceRequest(req, sink);
        if (!job) {
            ResourceReply r;
            r.kind = ResourceReply::Failed;
            reply(r);
            return {};
        }
        return [job]() { job->Cancel(); };
    }

    std::mutex m_;
    cef_color_t background_ = 0;
};

} // namespace

void InstallBackend()
{
    static QtBackend* backend = new QtBackend; // used until process exit
    cef_backend::SetBackend(backend);
}

} // namespace cefqt
