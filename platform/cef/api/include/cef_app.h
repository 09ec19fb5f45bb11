// The application object and the runtime's process entry points.
//
// The page engine runs in this process: there are no sub-processes, and the renderer side
// runs on the TID_RENDERER thread. CefInitialize must be called before the Qt application
// object exists, CefShutdown after it is gone, both on the same thread.
#pragma once

#include "include/cef_base.h"
#include "include/cef_browser_process_handler.h"
#include "include/cef_command_line.h"
#include "include/cef_render_process_handler.h"
#include "include/cef_resource_bundle_handler.h"
#include "include/cef_scheme.h"

class CefApp : public virtual CefBase {
public:
    virtual void OnBeforeCommandLineProcessing(const CefString& /*process_type*/,
                                               CefRefPtr<CefCommandLine> /*command_line*/)
    {
    }
    virtual void OnRegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar> /*registrar*/) {}
    virtual CefRefPtr<CefResourceBundleHandler> GetResourceBundleHandler() { return nullptr; }
    virtual CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() { return nullptr; }
    virtual CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() { return nullptr; }
};

// -1 in the browser process (go on starting up). With a "--type=" switch on the command line
// the process is a runtime sub-process: answers its exit code (0), and the caller returns it.
int CefExecuteProcess(const CefMainArgs& args, CefRefPtr<CefApp> application, void* windows_sandbox_info);

// Starts the runtime: log, task threads, the application's callbacks and the backend.
// false when the runtime is already running.
bool CefInitialize(const CefMainArgs& args, const CefSettings& settings, CefRefPtr<CefApp> application,
                   void* windows_sandbox_info);

// Stops the runtime: runs the tasks already queued, stops the threads, drops later tasks.
void CefShutdown();

void CefDoMessageLoopWork();
void CefRunMessageLoop();
void CefQuitMessageLoop();
