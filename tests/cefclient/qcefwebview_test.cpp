// The web view on the test host: browser creation from load, show and resize, the browser window it
// asks for, page queries turned into jsMessage in order, and each view acting on its own browser.
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

// Records when an event of its own type reaches it.
class EventRecorder : public QObject {
public:
    static const QEvent::Type kType = QEvent::Type(QEvent::User + 7);
    explicit EventRecorder(std::vector<QString>* order) : m_order(order) {}
    bool event(QEvent* e) override
    {
        if (e->type() != kType)
            return QObject::event(e);
        m_order->push_back("normal");
        return true;
    }

private:
    std::vector<QString>* m_order;
};

TEST_F(ViewTest, PostedQueriesBecomeJsMessagesInOrder)
{
    std::vector<std::pair<QString, CefMessageRouterBrowserSide::Callback*>> seen;
    std::vector<QString> order;
    QObject::connect(&view, &QCefWebView::jsMessage,
                     [&](const QString& name, CefRefPtr<CefMessageRouterBrowserSide::Callback> callback) {
                         seen.push_back({name, callback.get()});
                         order.push_back(name);
                     });
    CefRefPtr<RecordingCallback> first = new RecordingCallback;
    CefRefPtr<RecordingCallback> second = new RecordingCallback;
    EventRecorder earlier(&order);
    // Posted from another thread, as the query handler does from the runtime's UI thread; queries
    // go before the GUI thread's ordinary work that was posted earlier.
    std::thread([&] {
        QCoreApplication::postEvent(&earlier, new QEvent(EventRecorder::kType));
        view.PostMessageEvent(new MessageEvent("{\"FuncName\":\"a\"}", first));
        view.PostMessageEvent(new MessageEvent("{\"FuncName\":\"b\"}", second));
    }).join();
    QEvent other(QEvent::User);
    QCoreApplication::sendEvent(&view, &other); // an event of another type emits nothing
    QCoreApplication::processEvents();
    EXPECT_EQ(order, (std::vector<QString>{"{\"FuncName\":\"a\"}", "{\"FuncName\":\"b\"}", "normal"}));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, "{\"FuncName\":\"a\"}");
    EXPECT_EQ(seen[0].second, first.get());
    EXPECT_EQ(seen[1].first, "{\"FuncName\":\"b\"}");
    EXPECT_EQ(seen[1].second, second.get());
    // The events released their references once delivered.
    EXPECT_TRUE(first->HasOneRef());
    EXPECT_TRUE(second->HasOneRef());
}

// Two views whose browsers are being created at the same time, as the main view and a popup's
// view are when a page opens a popup during start-up.
class TwoViewsTest : public HandlerTest {
protected:
    void SetUp() override
    {
        HandlerTest::SetUp();
        host.SetAutoCreate(false);
        main.resize(800, 600);
        popup.resize(400, 300);
        main.load(QUrl("velmora://settings/local/client/main/index.html"));
        popup.load(QUrl("velmora://settings/local/client/popup/index.html"));
        cef_test::WaitForIdle();
        ASSERT_EQ(host.BrowserIds().size(), 2u);
        mainId = host.BrowserIds()[0];
        popupId = host.BrowserIds()[1];
        ASSERT_EQ(host.Record(popupId).params.url, "velmora://settings/local/client/popup/index.html");
    }
    void TearDown() override
    {
        handler->SetListener(nullptr);
        HandlerTest::TearDown();
    }
    QCefWebView main;
    QCefWebView popup;
    int mainId = 0;
    int popupId = 0;
};

TEST_F(TwoViewsTest, EachViewGetsTheBrowserItAskedForWhoeverListens)
{
    // The popup's view listens when the main browser is reported created.
    EXPECT_EQ(handler->GetListener(), &popup);
    host.CompleteCreation(mainId);
    cef_test::WaitForIdle();
    EXPECT_EQ(main.browserState(), QCefWebView::kCreated);
    EXPECT_EQ(popup.browserState(), QCefWebView::kCreating);
    ASSERT_TRUE(main.GetBrowser());
    EXPECT_EQ(main.GetBrowser()->GetIdentifier(), mainId);
    EXPECT_FALSE(popup.GetBrowser());

    host.CompleteCreation(popupId);
    cef_test::WaitForIdle();
    EXPECT_EQ(popup.browserState(), QCefWebView::kCreated);
    ASSERT_TRUE(popup.GetBrowser());
    EXPECT_EQ(popup.GetBrowser()->GetIdentifier(), popupId);
    EXPECT_EQ(handler->GetBrowser()->GetIdentifier(), mainId); // the first browser stays the main one

    // Every action of a view acts on its own browser.
    popup.load(QUrl("velmora://settings/local/client/popup/other.html"));
    popup.back();
    popup.reload();
    popup.stop();
    EXPECT_EQ(popup.evaluateJavaScript("1+1"), QVariant(true));
    main.forward();
    main.load(QUrl("velmora://settings/local/client/main/next.html"));
    cef_test::WaitForIdle();
    const cef_test::BrowserRecord p = host.Record(popupId), m = host.Record(mainId);
    EXPECT_EQ(p.loads, std::vector<std::string>{"velmora://settings/local/client/popup/other.html"});
    EXPECT_EQ(std::vector<int>({p.back, p.forward, p.reloads, p.stops}), std::vector<int>({1, 0, 1, 1}));
    EXPECT_EQ(p.scripts, std::vector<std::string>{"1+1"});
    EXPECT_EQ(m.loads, std::vector<std::string>{"velmora://settings/local/client/main/next.html"});
    EXPECT_EQ(std::vector<int>({m.back, m.forward, m.reloads, m.stops}), std::vector<int>({0, 1, 0, 0}));
    EXPECT_TRUE(m.scripts.empty());
}

TEST_F(TwoViewsTest, BrowsersNotAskedForByAViewChangeNoView)
{
    // A window opened by page script and a browser of another window reach the listener too.
    CefRefPtr<CefBrowser> stray = new FakeBrowser(90, 0, 0x7777);
    popup.OnBrowserCreated(stray);
    EXPECT_EQ(main.browserState(), QCefWebView::kCreating);
    EXPECT_EQ(popup.browserState(), QCefWebView::kCreating);
    host.CompleteCreation(mainId);
    host.CompleteCreation(popupId);
    cef_test::WaitForIdle();
    // A second browser in the same window does not replace the first.
    popup.OnBrowserCreated(new FakeBrowser(91, 0, main.winId()));
    ASSERT_TRUE(main.GetBrowser());
    EXPECT_EQ(main.GetBrowser()->GetIdentifier(), mainId);
}

TEST_F(TwoViewsTest, EachViewClosesItsOwnBrowser)
{
    host.CompleteCreation(mainId);
    host.CompleteCreation(popupId);
    cef_test::WaitForIdle();
    ASSERT_EQ(main.browserState(), QCefWebView::kCreated);
    // The popup's page has sent a query: its view listens and holds the main browser as the
    // asking page's, as the query handler leaves it.
    handler->SetListener(&popup);
    handler->WithListener([&](ClientHandler::Listener* l) { l->browser = main.GetBrowser(); });

    main.close();
    cef_test::WaitForIdle();
    EXPECT_EQ(host.Record(mainId).close_requests, 1);
    EXPECT_EQ(host.Record(popupId).close_requests, 0);
    popup.close();
    cef_test::WaitForIdle();
    EXPECT_EQ(host.Record(popupId).close_requests, 1);
}

TEST_F(ViewTest, ResizingSizesTheViewsOwnBrowserWindow)
{
    QWidget parent;
    auto browserWindow = [&](const QRect& geometry) {
        QWidget* w = new QWidget(&parent);
        w->setAttribute(Qt::WA_NativeWindow);
        w->setGeometry(geometry);
        return w;
    };
    QWidget* mainWindow = browserWindow(QRect(5, 5, 100, 100));
    QWidget* ownWindow = browserWindow(QRect(7, 7, 50, 50));
    QCefWebView other;
    other.resize(100, 100);
    host.SetAutoCreate(false);
    other.load(QUrl("velmora://settings/local/client/main/index.html"));
    view.resize(50, 50);
    view.load(QUrl("velmora://settings/local/client/popup/index.html"));
    cef_test::WaitForIdle();
    view.ResizeBrowser(QSize(640, 480)); // no browser yet: nothing
    EXPECT_EQ(ownWindow->geometry(), QRect(7, 7, 50, 50));

    // The other view's browser is the listener's, as after a query of its page.
    other.OnBrowserCreated(new FakeBrowser(1, mainWindow->winId(), other.winId()));
    view.OnBrowserCreated(new FakeBrowser(2, ownWindow->winId(), view.winId()));
    handler->WithListener([&](ClientHandler::Listener* l) { l->browser = other.GetBrowser(); });
    ASSERT_EQ(view.browserState(), QCefWebView::kCreated);

    view.show();
    view.resize(640, 480);
    EXPECT_EQ(ownWindow->geometry(), QRect(0, 0, 640, 480));
    EXPECT_EQ(mainWindow->geometry(), QRect(5, 5, 100, 100));
    handler->SetListener(nullptr);
}

TEST_F(ViewTest, ABrowserCreatedAfterAResizeTakesTheViewsSize)
{
    QWidget parent;
    QWidget* browserWindow = new QWidget(&parent);
    browserWindow->setAttribute(Qt::WA_NativeWindow);
    browserWindow->setGeometry(0, 0, 100, 100);
    host.SetAutoCreate(false);
    view.resize(100, 100);
    view.load(QUrl("velmora://settings/local/client/main/index.html"));
    view.show();
    view.resize(640, 480); // while the browser is being created: its window keeps its size
    EXPECT_EQ(browserWindow->geometry(), QRect(0, 0, 100, 100));
    CefRefPtr<CefBrowser> created = new FakeBrowser(1, browserWindow->winId(), view.winId());
    std::thread([&] { view.OnBrowserCreated(created); }).join(); // on the runtime's thread
    EXPECT_TRUE(test_support::waitFor([&] { return browserWindow->geometry() == QRect(0, 0, 640, 480); }));
    handler->SetListener(nullptr);
}

TEST_F(ViewTest, ShownWithoutSizeTheViewCreatesItsBrowserAtTheFirstResize)
{
    view.resize(0, 0);
    view.show();
    cef_test::WaitForIdle();
    EXPECT_TRUE(host.BrowserIds().empty());
    EXPECT_EQ(view.browserState(), QCefWebView::kNone);

    view.resize(800, 600);
    cef_test::WaitForIdle();
    ASSERT_EQ(host.BrowserIds().size(), 1u);
    const cef_test::BrowserRecord record = host.Record(host.LastBrowserId());
    EXPECT_EQ(record.params.url, "about:blank");
    EXPECT_EQ(QSize(record.params.window_info.width, record.params.window_info.height), QSize(800, 600));
    view.hide();
    view.show();
    cef_test::WaitForIdle();
    EXPECT_EQ(host.BrowserIds().size(), 1u);
    handler->SetListener(nullptr);
}

TEST_F(HandlerTest, AViewGoneWhileItsBrowserIsCreatedIsNeverReached)
{
    host.SetAutoCreate(false);
    auto* first = new QCefWebView;
    first->resize(100, 100);
    first->load(QUrl("velmora://settings/local/client/main/index.html"));
    cef_test::WaitForIdle();
    const int firstId = host.LastBrowserId();

    // Another view listens when the first goes; the first's browser arrives afterwards.
    QCefWebView listening;
    handler->SetListener(&listening);
    delete first;
    host.CompleteCreation(firstId);
    cef_test::WaitForIdle();
    EXPECT_EQ(handler->GetListener(), &listening);
    EXPECT_EQ(listening.browserState(), QCefWebView::kNone);
    handler->SetListener(nullptr);
}

} // namespace
