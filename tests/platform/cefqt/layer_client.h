// Helpers of the tests through the runtime layer on the real engine: the shared recording
// client and application, and opening a browser of such a client.
#pragma once

#include "cef_recording_client.h"
#include "engine_test_support.h"
#include "wait.h"

#include <gtest/gtest.h>

namespace layer_test {

using test_support::waitFor;

// Creates a browser of `client` at `url` and waits for it: *browser is then the client's first.
inline void openBrowser(const CefWindowInfo& info, test_support::RecordingClient* client, const std::string& url,
                        CefRefPtr<CefBrowser>* browser)
{
    ASSERT_TRUE(CefBrowserHost::CreateBrowser(info, client, url, CefBrowserSettings()));
    ASSERT_TRUE(waitFor([&] { return client->First() != nullptr; }));
    *browser = client->First();
}

} // namespace layer_test
