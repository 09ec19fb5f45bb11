// Browser-process callbacks of the application.
#pragma once

#include "include/cef_base.h"
#include "include/cef_command_line.h"
#include "include/cef_print_handler.h"
#include "include/cef_values.h"

class CefBrowserProcessHandler : public virtual CefBase {
public:
    // UI thread, once, after CefInitialize.
    virtual void OnContextInitialized() {}
    virtual void OnBeforeChildProcessLaunch(CefRefPtr<CefCommandLine> /*command_line*/) {}
    // UI thread, once: extra_info reaches CefRenderProcessHandler::OnRenderThreadCreated.
    virtual void OnRenderProcessThreadCreated(CefRefPtr<CefListValue> /*extra_info*/) {}
    virtual CefRefPtr<CefPrintHandler> GetPrintHandler() { return nullptr; }
};
