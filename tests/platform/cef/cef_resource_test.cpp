#include "include/cef_scheme.h"
#include "include/wrapper/cef_stream_resource_handler.h"

#include "cef_test_browser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace test_support;

namespace {

std::string bigText(size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s.push_back(char('a' + i % 26));
    return s;
}

// A handler written like the system's scheme handler: answers from memory, copies chunks.
class TextHandler : public CefResourceHandler {
public:
    TextHandler(std::string text, bool async = false) : text_(std::move(text)), async_(async) {}

    bool ProcessRequest(CefRefPtr<CefRequest> request, CefRefPtr<CefCallback> callback) override
    {
        url_ = request->GetURL().ToString();
        if (url_.find("refuse") != std::string::npos)
            return false;
        if (async_)
            std::thread([callback] { callback->Continue(); }).detach();
        else
            callback->Continue();
        return true;
    }
    void GetResponseHeaders(CefRefPtr<CefResponse> response, int64& length, CefString& redirectUrl) override
    {
        response->SetStatus(200);
        response->SetMimeType("text/html");
        CefResponse::HeaderMap h;
        h.insert({"Cache-Control", "no-cache"});
        response->SetHeaderMap(h);
        length = int64(text_.size());
        if (url_.find("redirect") != std::string::npos)
            redirectUrl = "velmora://settings/elsewhere";
        pos_ = 0;
    }
    bool ReadResponse(void* out, int toRead, int& read, CefRefPtr<CefCallback>) override
    {
        read = 0;
        if (pos_ >= text_.size())
            return false;
        const size_t n = std::min(size_t(toRead), text_.size() - pos_);
        std::memcpy(out, text_.data() + pos_, n);
        pos_ += n;
        read = int(n);
        return true;
    }
    void Cancel() override { ++cancels; }

    std::atomic<int> cancels{0};

private:
    std::string text_;
    bool async_;
    std::string url_;
    size_t pos_ = 0;
    IMPLEMENT_REFCOUNTING(TextHandler);
};

class Factory : public CefSchemeHandlerFactory {
public:
    explicit Factory(std::string text, bool async = false) : text_(std::move(text)), async_(async) {}
    CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString& scheme,
                                         CefRefPtr<CefRequest>) override
    {
        ++created;
        lastScheme = scheme.ToString();
        return new TextHandler(text_, async_);
    }
    std::atomic<int> created{0};
    std::string lastScheme;

private:
    std::string text_;
    bool async_;
    IMPLEMENT_REFCOUNTING(Factory);
};

class CefResourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        client = new RecordingClient(&log);
        ASSERT_TRUE(cef_test::StartRuntime());
        CreateTestBrowser(host, client.get());
    }
    void TearDown() override
    {
        cef_test::StopRuntime();
        client->Forget();
    }
    EventLog log;
    cef_test::TestHost host;
    CefRefPtr<RecordingClient> client;
};

TEST_F(CefResourceTest, FactoryServesWholeBodyWithSmallAndLargeBuffers)
{
    const std::string text = bigText(10000);
    CefRefPtr<Factory> f = new Factory(text);
    CefRegisterSchemeHandlerFactory("velmora", "settings", f.get());
    EXPECT_EQ(host.RegisteredSchemes().back(), (std::pair<std::string, std::string>("velmora", "settings")));
    struct Case {
        int buffer;
        int chunks;
    } cases[] = {{1, 10000}, {4096, 3}, {20000, 1}};
    for (const auto& c : cases) {
        const auto r = host.Request("velmora://settings/template/x.html", c.buffer);
        EXPECT_TRUE(r.completed) << c.buffer;
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.head.status, 200);
        EXPECT_EQ(r.head.mime_type, "text/html");
        EXPECT_EQ(r.head.length, 10000);
        EXPECT_EQ(r.head.headers.count("Cache-Control"), 1u);
        EXPECT_EQ(r.body, text);
        EXPECT_EQ(r.chunks, c.chunks);
    }
    EXPECT_EQ(f->lastScheme, "velmora");
    EXPECT_TRUE(log.Has("GetResourceHandler@IO"));
}

TEST_F(CefResourceTest, RequestHandlerComesBeforeTheFactory)
{
    CefRefPtr<Factory> f = new Factory("from factory");
    CefRegisterSchemeHandlerFactory("velmora", "settings", f.get());
    client->resourceHandler = [](const std::string& url) -> CefRefPtr<CefResourceHandler> {
        if (url.find("local") == std::string::npos)
            return nullptr;
        std::string copy = "from page root";
        return new CefStreamResourceHandler("text/css", CefStreamReader::CreateForData(&copy[0], copy.size()));
    };
    const auto local = host.Request("velmora://settings/local/client/a.css", 3);
    EXPECT_EQ(local.body, "from page root");
    EXPECT_EQ(local.head.mime_type, "text/css");
    EXPECT_EQ(local.head.length, 14);
    EXPECT_EQ(f->created.load(), 0);
    EXPECT_EQ(host.Request("velmora://settings/other.html").body, "from factory");
    EXPECT_EQ(f->created.load(), 1);
    client->resourceHandler = nullptr;
}

TEST_F(CefResourceTest, FactoriesAreChosenBySchemeAndDomain)
{
    CefRegisterSchemeHandlerFactory("velmora", "settings", new Factory("settings"));
    CefRegisterSchemeHandlerFactory("other", "", new Factory("any host"));
    EXPECT_EQ(host.Request("VELMORA://Settings/x").body, "settings");
    EXPECT_FALSE(host.Request("velmora://elsewhere/x").handled);
    EXPECT_EQ(host.Request("other://h1/x").body, "any host");
    EXPECT_FALSE(host.Request("http://localhost/x").handled);
    CefRegisterSchemeHandlerFactory("velmora", "settings", nullptr);
    EXPECT_FALSE(host.Request("velmora://settings/x").handled);
}

TEST_F(CefResourceTest, AsynchronousContinueRefusalAndRedirect)
{
    CefRegisterSchemeHandlerFactory("velmora", "settings", new Factory("later", true));
    EXPECT_EQ(host.Request("velmora://settings/x").body, "later");
    const auto refused = host.Request("velmora://settings/refuse");
    EXPECT_TRUE(refused.completed);
    EXPECT_FALSE(refused.ok);
    const auto redirected = host.Request("velmora://settings/redirect");
    EXPECT_TRUE(redirected.ok);
    EXPECT_EQ(redirected.head.redirect_url, "velmora://settings/elsewhere");
    EXPECT_TRUE(redirected.body.empty());
}

TEST_F(CefResourceTest, EmptyBodyCompletes)
{
    CefRegisterSchemeHandlerFactory("velmora", "settings", new Factory(""));
    const auto r = host.Request("velmora://settings/missing.html");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.head.length, 0);
    EXPECT_EQ(r.chunks, 0);
}

} // namespace

namespace {

// Answers each read later: first "data later", then the bytes.
class SlowReader : public CefResourceHandler {
public:
    bool ProcessRequest(CefRefPtr<CefRequest>, CefRefPtr<CefCallback> callback) override
    {
        if (!hold)
            callback->Continue();
        return true;
    }
    void GetResponseHeaders(CefRefPtr<CefResponse> response, int64& length, CefString&) override
    {
        response->SetMimeType("application/javascript");
        length = -1;
    }
    bool ReadResponse(void* out, int toRead, int& read, CefRefPtr<CefCallback> callback) override
    {
        read = 0;
        if (pos >= 6)
            return false;
        if (!ready) {
            ready = true;
            std::thread([callback] { callback->Continue(); }).detach();
            return true;
        }
        ready = false;
        const int n = std::min(toRead, 6 - pos);
        std::memcpy(out, "abcdef" + pos, size_t(n));
        pos += n;
        read = n;
        return true;
    }
    void Cancel() override { ++cancels; }

    bool hold = false;
    bool ready = false;
    int pos = 0;
    std::atomic<int> cancels{0};
    IMPLEMENT_REFCOUNTING(SlowReader);
};

class SlowFactory : public CefSchemeHandlerFactory {
public:
    CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString&,
                                         CefRefPtr<CefRequest>) override
    {
        last = new SlowReader;
        last->hold = hold;
        return last.get();
    }
    bool hold = false;
    CefRefPtr<SlowReader> last;
    IMPLEMENT_REFCOUNTING(SlowFactory);
};

struct CountingSink : cef_backend::ResourceSink {
    std::atomic<int> calls{0};
    void OnNotHandled() override { ++calls; }
    void OnHeaders(const cef_backend::ResourceResponseHead&) override { ++calls; }
    void OnData(const char*, size_t) override { ++calls; }
    void OnComplete(bool) override { ++calls; }
};

TEST_F(CefResourceTest, ReadsThatAnswerLaterResumeThroughTheCallback)
{
    CefRefPtr<SlowFactory> f = new SlowFactory;
    CefRegisterSchemeHandlerFactory("velmora", "settings", f.get());
    const auto r = host.Request("velmora://settings/js/a.js", 4);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.body, "abcdef");
    EXPECT_EQ(r.chunks, 2);
    EXPECT_EQ(r.head.length, -1);
    f->last = nullptr;
}

TEST_F(CefResourceTest, CancelReachesTheHandlerAndSilencesTheSink)
{
    CefRefPtr<SlowFactory> f = new SlowFactory;
    f->hold = true; // never continues by itself
    CefRegisterSchemeHandlerFactory("velmora", "settings", f.get());
    auto sink = std::make_shared<CountingSink>();
    cef_backend::ResourceRequest req;
    req.url = "velmora://settings/x";
    CefRefPtr<cef_backend::ResourceJob> job = cef_backend::StartResourceRequest(req, sink);
    ASSERT_TRUE(job);
    cef_test::WaitForIdle();
    ASSERT_TRUE(f->last);
    job->Cancel();
    job->Cancel();
    cef_test::WaitForIdle();
    EXPECT_EQ(f->last->cancels.load(), 1);
    EXPECT_EQ(sink->calls.load(), 0);
    f->last = nullptr;
}

} // namespace
