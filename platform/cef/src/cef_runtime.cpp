// Process entry points, runtime state, backend and scheme-factory registries.
#include "include/base/cef_logging.h"
#include "cef_extras/logging.h"
#include "include/cef_app.h"
#include "include/cef_command_line.h"
#include "include/cef_scheme.h"

#include "cef_internal.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <map>
#include <mutex>

namespace cef_internal {
namespace {

struct Runtime {
    std::mutex m;
    bool running = false;
    CefRefPtr<CefApp> app;
    CefSettings settings;
    cef_backend::Backend* backend = nullptr;
    std::map<std::pair<std::string, std::string>, CefRefPtr<CefSchemeHandlerFactory>> factories;
};

Runtime& rt()
{
    static Runtime* r = new Runtime; // outlives static destruction order
    return *r;
}

std::string lower(const std::string& s) { return QString::fromStdString(s).toLower().toStdString(); }

class SchemeRegistrarImpl : public CefSchemeRegistrar {
public:
    bool AddCustomScheme(const CefString& scheme_name, bool is_standard, bool is_local,
                         bool is_display_isolated) override
    {
        if (scheme_name.empty())
            return false;
        if (auto* b = Backend())
            b->CustomSchemeAdded(lower(scheme_name.ToString()), is_standard, is_local, is_display_isolated);
        return true;
    }

private:
    IMPLEMENT_REFCOUNTING(SchemeRegistrarImpl);
};

QString programDir()
{
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    const QString target = exe.symLinkTarget();
    return target.isEmpty() ? QDir::currentPath() : QFileInfo(target).absolutePath();
}

} // namespace

std::atomic<int>& LiveObjects()
{
    static std::atomic<int> n{0};
    return n;
}

CefRefPtr<CefApp> App()
{
    std::lock_guard<std::mutex> l(rt().m);
    return rt().app;
}

CefRefPtr<CefRenderProcessHandler> RenderHandler()
{
    CefRefPtr<CefApp> app = App();
    return app ? app->GetRenderProcessHandler() : nullptr;
}

CefRefPtr<CefBrowserProcessHandler> BrowserProcessHandler()
{
    CefRefPtr<CefApp> app = App();
    return app ? app->GetBrowserProcessHandler() : nullptr;
}

cef_backend::Backend* Backend()
{
    std::lock_guard<std::mutex> l(rt().m);
    return rt().backend;
}

CefRefPtr<CefSchemeHandlerFactory> FindSchemeFactory(const std::string& scheme, const std::string& host)
{
    std::lock_guard<std::mutex> l(rt().m);
    auto it = rt().factories.find({lower(scheme), lower(host)});
    if (it == rt().factories.end())
        it = rt().factories.find({lower(scheme), std::string()});
    return it == rt().factories.end() ? nullptr : it->second;
}

} // namespace cef_internal

namespace cef_backend {

void SetBackend(Backend* backend)
{
    std::lock_guard<std::mutex> l(cef_internal::rt().m);
    cef_internal::rt().backend = backend;
}

Backend* GetBackend() { return cef_internal::Backend(); }

void RunEngineThreadTasks() { cef_internal::RunEngineThreadTasks(); }

} // namespace cef_backend

using namespace cef_internal;

CefMainArgs::CefMainArgs(const void*)
{
    QFile f(QStringLiteral("/proc/self/cmdline"));
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray all = f.readAll();
        for (const QByteArray& part : all.split('\0'))
            storage_.push_back(part.toStdString());
        if (!storage_.empty() && storage_.back().empty())
            storage_.pop_back();
    }
    owned_ = true;
    relink();
    argc = int(storage_.size());
}

int CefExecuteProcess(const CefMainArgs& args, CefRefPtr<CefApp> application, void*)
{
    CefRefPtr<CefCommandLine> cl = CefCommandLine::GetGlobalCommandLine();
    if (args.argc > 0 && args.argv)
        cl->InitFromArgv(args.argc, args.argv);
    if (!cl->HasSwitch("type"))
        return -1;
    // A runtime sub-process: the page engine runs its own helpers, so there is nothing to do.
    if (application) {
        CefRefPtr<CefSchemeRegistrar> registrar = new SchemeRegistrarImpl;
        application->OnRegisterCustomSchemes(registrar);
    }
    return 0;
}

bool CefInitialize(const CefMainArgs& args, const CefSettings& settings, CefRefPtr<CefApp> application, void*)
{
    {
        std::lock_guard<std::mutex> l(rt().m);
        if (rt().running)
            return false;
        rt().running = true;
        rt().app = application;
        rt().settings = settings;
    }

    CefRefPtr<CefCommandLine> cl = CefCommandLine::GetGlobalCommandLine();
    if (args.argc > 0 && args.argv)
        cl->InitFromArgv(args.argc, args.argv);

    // Log: a relative path is taken from the program's directory; empty writes no log.
    std::string logPath = CefString(&settings.log_file).ToString();
    if (!logPath.empty() && QDir::isRelativePath(QString::fromStdString(logPath)))
        logPath = QDir(programDir()).filePath(QString::fromStdString(logPath)).toStdString();
    cef_logging::SetLogDestination(logPath, cef_log_severity_t(settings.log_severity));

    if (application) {
        application->OnBeforeCommandLineProcessing(CefString(), cl);
        CefRefPtr<CefSchemeRegistrar> registrar = new SchemeRegistrarImpl;
        application->OnRegisterCustomSchemes(registrar);
    }

    std::function<void()> scheduleEngineThread;
    if (auto* b = Backend()) {
        b->Initialize(args, settings);
        scheduleEngineThread = b->EngineThreadScheduler();
    }
    StartThreads(std::move(scheduleEngineThread));

    cef_extras::PostTask(TID_UI, [] {
        CefRefPtr<CefBrowserProcessHandler> bph = BrowserProcessHandler();
        if (bph)
            bph->OnContextInitialized();
        CefRefPtr<CefListValue> extra = CefListValue::Create();
        if (bph)
            bph->OnRenderProcessThreadCreated(extra);
        CefRefPtr<CefListValue> copy = extra->Copy();
        cef_extras::PostTask(TID_RENDERER, [copy] {
            if (CefRefPtr<CefRenderProcessHandler> rph = RenderHandler()) {
                rph->OnRenderThreadCreated(copy);
                rph->OnWebKitInitialized();
            }
        });
    });
    return true;
}

void CefShutdown()
{
    {
        std::lock_guard<std::mutex> l(rt().m);
        if (!rt().running)
            return;
    }
    // Let work in flight settle, then stop.
    auto idle = [] {
        for (int round = 0; round < 4; ++round) {
            SettleEngineThread(4);
            for (CefThreadId t : {TID_UI, TID_IO, TID_RENDERER, TID_FILE})
                RunAndWaitVoid(t, [] {});
        }
    };
    idle();
    CloseAllViews();
    idle();
    StopThreads();
    cef_backend::Backend* backend = Backend();
    if (backend)
        backend->Shutdown();
    CefRefPtr<CefApp> app;
    {
        std::lock_guard<std::mutex> l(rt().m);
        rt().running = false;
        app.swap(rt().app);
        rt().factories.clear();
        rt().settings = CefSettings();
    }
    app = nullptr;
}

void CefDoMessageLoopWork() {}
void CefRunMessageLoop() {}
void CefQuitMessageLoop() {}

bool CefRegisterSchemeHandlerFactory(const CefString& scheme_name, const CefString& domain_name,
                                     CefRefPtr<CefSchemeHandlerFactory> factory)
{
    const std::string scheme = lower(scheme_name.ToString());
    const std::string domain = lower(domain_name.ToString());
    if (scheme.empty())
        return false;
    {
        std::lock_guard<std::mutex> l(rt().m);
        if (factory)
            rt().factories[{scheme, domain}] = factory;
        else
            rt().factories.erase({scheme, domain});
    }
    if (factory)
        if (auto* b = Backend())
            b->SchemeHandlerFactoryRegistered(scheme, domain);
    return true;
}

bool CefClearSchemeHandlerFactories()
{
    std::map<std::pair<std::string, std::string>, CefRefPtr<CefSchemeHandlerFactory>> old;
    {
        std::lock_guard<std::mutex> l(rt().m);
        old.swap(rt().factories);
    }
    return true;
}
