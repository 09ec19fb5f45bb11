// The web view's first members on the test host: browser creation from load, the browser window it
// asks for, page queries turned into jsMessage in order, and resizing the listener's browser window.
#include "handler_fixture.h"

#include "fake_browser.h"

#include "cefclient/qcefwebview.h"

#include <thread>

using namespace cefclient_test;

namespace {

class ViewTest : public HandlerTest {
protected:
    QCefWebView view;
};

TEST_F(ViewTest, LoadCreatesTheBrowserOnceTheViewHasASize)
{
    view.resize(0, 0);
    EXPECT_FALSE(view.CreateBrowser(QSize(0, 600)));
    EXPECT_FALSE(view.CreateBrowser(QSize(800, -1)));
    view.load(QUrl("velmora://settings/local/client/main/index.html")); // size 0: nothing yet
    cef_test::WaitForIdle();
    EXPECT_EQ(view.browserState(), QCefWebView::kNone);
    EXPECT_TRUE(host.BrowserIds().empty());

    view.resize(800, 600);
    host.SetAutoCreate(false);
    view.load(QUrl("velmora://settings/local/client/main/index.html"));
    cef_test::WaitForIdle();
    ASSERT_EQ(host.BrowserIds().size(), 1u);
    const int id = host.LastBrowserId();
    EXPECT_EQ(view.browserState(), QCefWebView::kCreating);
    EXPECT_EQ(handler->GetListener(), &view); // the view that creates a browser is the listener

    const cef_test::BrowserRecord record = host.Record(id);
    EXPECT_EQ(record.params.url, "velmora://settings/local/client/main/index.html");
    EXPECT_EQ(record.params.window_info.parent_window, view.winId());
    EXPECT_EQ(record.params.window_info.style, 0x56010000UL);
    EXPECT_EQ(QRect(record.params.window_info.x, record.params.window_info.y, record.params.window_info.width,
                    record.params.window_info.height),
              QRect(0, 0, 800, 600));
    const CefBrowserSettings& s = record.params.settings;
    EXPECT_EQ(std::vector<int>({s.caret_browsing, s.universal_access_from_file_urls, s.file_access_from_file_urls,
                                s.web_security, s.text_area_resize, s.tab_to_links}),
              std::vector<int>({STATE_ENABLED, STATE_ENABLED, STATE_DISABLED, STATE_ENABLED, STATE_DISABLED,
                                STATE_DISABLED}));

    // While it is being created another address changes nothing; once created, loads navigate.
    view.load(QUrl("velmora://settings/local/client/main/other.html"));
    EXPECT_FALSE(view.CreateBrowser(QSize(800, 600)));
    host.CompleteCreation(id);
    cef_test::WaitForIdle();
    EXPECT_EQ(view.browserState(), QCefWebView::kCreated);
    EXPECT_TRUE(host.Record(id).loads.empty());
    view.load(QUrl("velmora://settings/local/client/login/index.html"));
    cef_test::WaitForIdle();
    EXPECT_EQ(host.Record(id).loads, std::vector<std::string>{"velmora://settings/local/client/login/index.html"});
    view.back();
    view.forward();
    cef_test::WaitForIdle();
    EXPECT_EQ(host.Record(id).back, 1);
    EXPECT_EQ(host.Record(id).forward, 1);
    handler->SetListener(nullptr);
}

TEST_F(ViewTest, AViewWithoutAddressOpensABlankPage)
{
    view.resize(10, 10);
    EXPECT_TRUE(view.CreateBrowser(view.size()));
    cef_test::WaitForIdle();
    EXPECT_EQ(host.Record(host.LastBrowserId()).params.url, "about:blank");
    handler->SetListener(nullptr);
}

TEST_F(ViewTest, PostedQueriesBecomeJsMessagesInOrder)
{
    std::vector<std::pair<QString, CefMessageRouterBrowserSide::Callback*>> seen;
    QObject::connect(&view, &QCefWebView::jsMessage,
                     [&](const QString& name, CefRefPtr<CefMessageRouterBrowserSide::Callback> callback) {
                         seen.push_back({name, callback.get()});
                     });
    CefRefPtr<RecordingCallback> first = new RecordingCallback;
    CefRefPtr<RecordingCallback> second = new RecordingCallback;
    // Posted from another thread, as the query handler does from the runtime's UI thread.
    std::thread([&] {
        view.PostMessageEvent(new MessageEvent("{\"FuncName\":\"a\"}", first));
        view.PostMessageEvent(new MessageEvent("{\"FuncName\":\"b\"}", second));
    }).join();
    QEvent other(QEvent::User);
    QCoreApplication::sendEvent(&view, &other); // an event of another type emits nothing
    QCoreApplication::processEvents();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, "{\"FuncName\":\"a\"}");
    EXPECT_EQ(seen[0].second, first.get());
    EXPECT_EQ(seen[1].first, "{\"FuncName\":\"b\"}");
    EXPECT_EQ(seen[1].second, second.get());
    // The events released their references once delivered.
    EXPECT_TRUE(first->HasOneRef());
    EXPECT_TRUE(second->HasOneRef());
}

TEST_F(ViewTest, ResizingSizesTheListenersBrowserWindow)
{
    QWidget parent;
    QWidget* browserWindow = new QWidget(&parent);
    browserWindow->setAttribute(Qt::WA_NativeWindow);
    browserWindow->setGeometry(5, 5, 100, 100);
    view.ResizeBrowser(QSize(640, 480)); // no listener: nothing
    handler->SetListener(&view);
    view.ResizeBrowser(QSize(640, 480)); // no browser: nothing
    EXPECT_EQ(browserWindow->geometry(), QRect(5, 5, 100, 100));
    handler->WithListener([&](ClientHandler::Listener* l) { l->browser = new FakeBrowser(1, browserWindow->winId()); });
    view.ResizeBrowser(QSize(640, 480));
    EXPECT_EQ(browserWindow->geometry(), QRect(0, 0, 640, 480));
    handler->SetListener(nullptr);
}

} // namespace
