// The shared recording client and application, and a browser of theirs on the test host.
#pragma once

#include "cef_recording_client.h"
#include "cef_test/cef_test_host.h"

namespace test_support {

// Creates a child-window browser of client at url and waits for the runtime to settle;
// answers its id (0 when refused).
inline int CreateTestBrowser(cef_test::TestHost& host, CefRefPtr<CefClient> client,
                             const std::string& url = "about:blank")
{
    CefWindowInfo info;
    info.SetAsChild(0x77, WindowRect{0, 0, 800, 600});
    if (!CefBrowserHost::CreateBrowser(info, client, url, CefBrowserSettings()))
        return 0;
    cef_test::WaitForIdle();
    return host.LastBrowserId();
}

} // namespace test_support
