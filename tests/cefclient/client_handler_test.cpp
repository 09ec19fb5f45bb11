// The client handler's core on the test host: main browser, popups and the browser count, the
// registry of browsers by view key, the main window handle, the startup URL and the page events.
#include "handler_fixture.h"

#include "fake_browser.h"
#include "row_name.h"

#include "cefclient/qcefwebview.h"

#include "include/base/cef_logging.h"
#include "cef_extras/closure_task.h"
#include "cef_extras/logging.h"
#include "test_files.h"
#include "win32sim/cursor.h"

#include <QCursor>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <ostream>
#include <thread>

using namespace cefclient_test;

namespace {

TEST_F(HandlerTest, MainBrowserPopupsAndCountFollowCreationAndClosing)
{
    RecordingListener listener;
    handler->SetListener(&listener);

    // Each step: an action, then the main browser (index into the browsers created so far, -1 for
    // none), the count and the listener's browser.
    struct Step {
        const char* action;
        int target; // index of the browser acted on
        int main;
        int count;
        int listenerBrowser;
    };
    const Step steps[] = {
        {"create", 0, 0, 1, 0},   // the first browser becomes the main one and the listener's
        {"create", 1, 0, 2, 0},   // a second one is only counted
        {"devtools", 0, 0, 3, 0}, // developer tools: one more browser, a popup
        {"close", 2, 0, 2, 0},
        {"close", 0, -1, 1, 0},   // the main browser closes: none is main
        {"create", 3, 3, 2, 3},   // the next browser created becomes main, and the listener's
        {"close", 1, 3, 1, 3},
        {"close", 3, -1, 0, 3},
        {"create", 4, 4, 1, 4},   // after the count returned to zero, as at the start
    };
    std::vector<int> ids;
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.action) + " " + std::to_string(s.target));
        if (std::string(s.action) == "create") {
            ids.push_back(Create());
        } else if (std::string(s.action) == "devtools") {
            host.Browser(ids[size_t(s.target)])->GetHost()->ShowDevTools(CefWindowInfo(), handler.get(),
                                                                         CefBrowserSettings(), CefPoint());
            cef_test::WaitForIdle();
            ids.push_back(host.LastBrowserId());
            EXPECT_TRUE(host.Browser(ids.back())->IsPopup());
            EXPECT_EQ(host.Record(ids.back()).focus, std::vector<bool>{true}); // popups get the focus
        } else {
            Close(ids[size_t(s.target)]);
        }
        EXPECT_EQ(MainId(), s.main < 0 ? 0 : ids[size_t(s.main)]);
        EXPECT_EQ(ClientHandler::GetBrowserCount(), s.count);
        int listenerBrowser = 0;
        handler->WithListener([&](ClientHandler::Listener* l) { listenerBrowser = l->browser->GetIdentifier(); });
        EXPECT_EQ(listenerBrowser, ids[size_t(s.listenerBrowser)]);
    }
    // The id of a closed main browser stays until the next one is made.
    EXPECT_EQ(handler->GetBrowserId(), ids[4]);
    // Every browser, popups included, was reported to the listener.
    EXPECT_EQ(listener.Created(), ids);
    EXPECT_FALSE(handler->IsClosing());
    handler->SetListener(nullptr);
}

TEST_F(HandlerTest, DoCloseLetsEveryBrowserCloseAndCreationWithoutListenerIsHarmless)
{
    const int main = Create();
    const int other = Create();
    EXPECT_FALSE(handler->DoClose(host.Browser(main)));
    EXPECT_FALSE(handler->DoClose(host.Browser(other)));
    EXPECT_EQ(MainId(), main);
    EXPECT_FALSE(handler->IsClosing());
}

TEST_F(HandlerTest, TheRouterIsMadeAgainAfterTheLastBrowserClosed)
{
    RecordingListener listener;
    handler->SetListener(&listener);
    const cef_backend::ScriptValue query = cef_backend::ScriptValue::MakeObject(
        {{"request", cef_backend::ScriptValue::MakeString("{\"FuncName\":\"GetDevicesList\"}")}});
    // The router and the number of its handlers, as the UI thread sees them.
    auto router = [&] {
        std::pair<CefRefPtr<CefMessageRouterBrowserSide>, size_t> seen;
        cef_extras::PostTask(TID_UI, [&] { seen = {handler->GetMessageRouter(), handler->GetMessageHandlers().size()}; });
        cef_test::WaitForIdle();
        return seen;
    };
    CefRefPtr<CefMessageRouterBrowserSide> earlier; // kept, so that a new router cannot take its place
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const int id = Create();
        host.SetAddress(id, "velmora://settings/local/client/index.html");
        const auto made = router();
        ASSERT_TRUE(made.first);
        EXPECT_EQ(made.second, 1u);
        EXPECT_NE(made.first, earlier);
        earlier = made.first;
        const int64 context = host.CreateContext(id, "velmora://settings/local/client/index.html");
        host.CallGlobal(id, context, "cefQuery", {query});
        ASSERT_TRUE(test_support::waitFor([&] { return listener.PostedCount() == 1; }, 5000));
        listener.ReleaseQueries();
        // Another browser keeps the router; the last one to close takes it and its handlers away.
        const int other = Create();
        EXPECT_EQ(router().first, earlier);
        Close(id);
        EXPECT_EQ(router().first, earlier);
        Close(other);
        EXPECT_EQ(ClientHandler::GetBrowserCount(), 0);
        const auto gone = router();
        EXPECT_FALSE(gone.first);
        EXPECT_EQ(gone.second, 0u);
    }
    handler->SetListener(nullptr);
}

TEST_F(HandlerTest, AViewThatGoesAwayIsNoLongerTheListener)
{
    QCefWebView* view = new QCefWebView;
    handler->SetListener(view);
    RecordingListener other;
    delete view;
    EXPECT_EQ(handler->GetListener(), nullptr);
    // Creation after the view is gone reaches no listener (a dangling one would be used here).
    Create();
    EXPECT_EQ(handler->GetListener(), nullptr);
    // A view that is not the listener leaves the current one alone.
    handler->SetListener(&other);
    delete new QCefWebView;
    EXPECT_EQ(handler->GetListener(), &other);
    handler->SetListener(nullptr);
}

// ---- Registry of browsers by view key

const char kStart[] = "velmora://settings/local/client/main/index.html";
const char kPopup[] = "velmora://settings/local/client/main/popup.html";
const char kLogin[] = "velmora://settings/local/client/login/index.html";

TEST_F(HandlerTest, ABrowserIsRegisteredUnderTheKeyOfTheAddressItShows)
{
    handler->SetViewKey(kStart);
    const int main = Create(kStart);
    Loaded(main, kStart);
    EXPECT_EQ(handler->GetRegisteredBrowser(kStart)->GetIdentifier(), main);

    // The first browser keeps its key, even against another browser showing the same address.
    const int second = Create(kStart);
    Loaded(second, kStart);
    EXPECT_EQ(handler->GetRegisteredBrowser(kStart)->GetIdentifier(), main);

    // A popup's key: the main browser finishing a reload first does not take it.
    handler->SetViewKey(kPopup);
    Loaded(main, kStart);
    EXPECT_FALSE(handler->GetRegisteredBrowser(kPopup));
    const int popup = Create(kPopup);
    Loaded(popup, kPopup);
    EXPECT_EQ(handler->GetRegisteredBrowser(kPopup)->GetIdentifier(), popup);

    // A frame inside the page that finishes loading the key's address does not register the browser.
    handler->SetViewKey(kLogin);
    auto loadEnd = [&](int id, bool mainFrame) {
        CefRefPtr<CefBrowser> browser = host.Browser(id);
        cef_extras::PostTask(TID_UI, [&, browser, mainFrame] {
            handler->OnLoadEnd(browser, new cefclient_test::FakeFrame(browser, mainFrame, kLogin), 200);
        });
        cef_test::WaitForIdle();
    };
    loadEnd(main, false);
    EXPECT_FALSE(handler->GetRegisteredBrowser(kLogin));
    loadEnd(main, true);
    ASSERT_TRUE(handler->GetRegisteredBrowser(kLogin));
    EXPECT_EQ(handler->GetRegisteredBrowser(kLogin)->GetIdentifier(), main);
    Close(main);

    // The same address written another way (dot segments, a fragment) is the same key.
    handler->SetViewKey("velmora://settings/local/client/x/../login/index.html#top");
    Loaded(second, kLogin);
    EXPECT_EQ(handler->GetRegisteredBrowser("velmora://settings/local/client/x/../login/index.html#top")->GetIdentifier(),
              second);
}

TEST_F(HandlerTest, AClosingBrowserFreesEveryKeyItHeld)
{
    handler->SetViewKey(kStart);
    const int main = Create(kStart);
    Loaded(main, kStart);
    // The main view logs in: same browser, new address and key.
    handler->SetViewKey(kLogin);
    Loaded(main, kLogin);
    ASSERT_TRUE(handler->GetRegisteredBrowser(kStart));
    ASSERT_TRUE(handler->GetRegisteredBrowser(kLogin));

    Close(main);
    EXPECT_FALSE(handler->GetRegisteredBrowser(kStart));
    EXPECT_FALSE(handler->GetRegisteredBrowser(kLogin));
    // The key is free for the next browser, and messages go to it.
    const int next = Create(kLogin);
    Loaded(next, kLogin);
    handler->SendBrowserMessage("hello", kLogin);
    const QList<test_support::PageEvent> events = EventsOf(next);
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0].name, "onBrowserMsg");
    EXPECT_EQ(events[0].args, QVariantList{"hello"});
}

TEST_F(HandlerTest, BrowserMessagesGoOnlyToTheBrowserUnderExactlyTheKey)
{
    handler->SetViewKey(kStart);
    const int main = Create(kStart);
    Loaded(main, kStart);
    handler->SetViewKey(kPopup);
    const int popup = Create(kPopup);
    Loaded(popup, kPopup);

    handler->SendBrowserMessage("to popup", kPopup);
    handler->SendBrowserMessage("nobody", "velmora://settings/local/client/main/other.html");
    handler->SendBrowserMessage("case", QString(kPopup).toUpper());
    handler->SendBrowserMessage("", kStart);
    const QList<test_support::PageEvent> toPopup = EventsOf(popup);
    ASSERT_EQ(toPopup.size(), 1);
    EXPECT_EQ(toPopup[0].args, QVariantList{"to popup"});
    const QList<test_support::PageEvent> toMain = EventsOf(main);
    ASSERT_EQ(toMain.size(), 1);
    EXPECT_EQ(toMain[0].args, QVariantList{""});
}

// ---- Main window handle, startup URL, command line

TEST_F(HandlerTest, MainWindowHandleChangesOnTheUiThreadOnly)
{
    // Hold the UI thread so that the order is certain.
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    cef_extras::PostTask(TID_UI, [&] {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return release; });
    });
    handler->SetMainWindowHandle(0x1234);
    EXPECT_EQ(handler->GetMainWindowHandle(), 0u); // the old handle until the posted task ran
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
    }
    cv.notify_one();
    ASSERT_TRUE(cef_test::WaitForThread(TID_UI));
    EXPECT_EQ(handler->GetMainWindowHandle(), 0x1234u);

    // On the UI thread it is stored at once.
    HWND seen = 0;
    cef_extras::PostTask(TID_UI, [&] {
        handler->SetMainWindowHandle(0x99);
        seen = handler->GetMainWindowHandle();
    });
    ASSERT_TRUE(cef_test::WaitForThread(TID_UI));
    EXPECT_EQ(seen, 0x99u);
}

TEST_F(HandlerTest, StartupUrlIsADefaultPageUntilTheMainWindowNamesOne)
{
    EXPECT_FALSE(handler->GetStartupURL().empty());
    handler->SetStartupURL(kStart);
    EXPECT_EQ(handler->GetStartupURL(), kStart);
    EXPECT_EQ(host.Record(Create()).cursor_change_disabled, false);
}

class HandlerCommandLineTest : public HandlerTest {
protected:
    void SetUp() override { StartWith({"test", "--url=velmora://settings/local/client/a.html", "--mouse-cursor-change-disabled"}); }
};

TEST_F(HandlerCommandLineTest, SwitchesGiveTheStartupUrlAndDisableCursorChanges)
{
    EXPECT_EQ(handler->GetStartupURL(), "velmora://settings/local/client/a.html");
    EXPECT_TRUE(host.Record(Create()).cursor_change_disabled);
    EXPECT_TRUE(host.Record(Create()).cursor_change_disabled);
    handler->SetStartupURL(kStart);
    EXPECT_EQ(handler->GetStartupURL(), kStart);
}

// ---- Page events

struct DeviceReport {
    const char* name;
    const char* hex;
    const char* event; // nullptr: nothing is sent
};

void PrintTo(const DeviceReport& row, std::ostream* os) { *os << row.name; }

class DeviceReports : public HandlerTest, public ::testing::WithParamInterface<DeviceReport> {};

TEST_P(DeviceReports, DeviceReportsBecomeKeyDownOrMouseMoveByTheirFourthDigit)
{
    const DeviceReport& c = GetParam();
    const int main = Create();
    QCursor::setPos(-12, 40);
    const int before = EventsOf(main).size();
    handler->SendDeviceInput(c.hex);
    const QList<test_support::PageEvent> events = EventsOf(main);
    if (!c.event) {
        EXPECT_EQ(events.size(), before);
        return;
    }
    ASSERT_EQ(events.size(), before + 1);
    EXPECT_EQ(events.last().name, c.event);
    if (QString(c.event) == "keyDown")
        EXPECT_TRUE(events.last().args.isEmpty());
    else
        EXPECT_EQ(events.last().args, QVariantList{"-12,40"});
}

INSTANTIATE_TEST_SUITE_P(Reports, DeviceReports,
                         ::testing::Values(DeviceReport{"Key", "0105000000000000", "keyDown"},
                                           DeviceReport{"Move", "0108000000000000", "mouseMove"},
                                           DeviceReport{"OtherDigit", "0150000000000000", nullptr},
                                           DeviceReport{"ZeroDigit", "0100000000000000", nullptr},
                                           DeviceReport{"KeyWithAHighSecondDigit", "01a5000000000000", "keyDown"},
                                           DeviceReport{"ShortMove", "0108", "mouseMove"},
                                           DeviceReport{"ThreeDigits", "010", nullptr},
                                           DeviceReport{"Empty", "", nullptr}),
                         test_support::RowName());

// The vendor library reports from threads of its own while the GUI thread may be busy.
TEST_F(HandlerTest, MouseMoveFromAnotherThreadNeitherWaitsForTheGuiThreadNorLosesTheCursor)
{
    const int main = Create();
    win32sim::moveCursor(300, 200);
    handler->SendDeviceInput("0108000000000000"); // on the GUI thread
    std::atomic<bool> done{false};
    std::thread vendor([&] {
        handler->SendDeviceInput("0108000000000000");
        done = true;
    });
    // The GUI thread does not run its event loop meanwhile.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(done);
    if (!done)
        test_support::waitFor([&] { return done.load(); });
    vendor.join();
    const QList<test_support::PageEvent> events = EventsOf(main);
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0].args, QVariantList{"300,200"});
    EXPECT_EQ(events[1].args, QVariantList{"300,200"});

    // Each report carries where the pointer is when it is sent, also while the GUI thread has no
    // turn in between.
    for (const QPoint& p : {QPoint(5, 6), QPoint(640, 7), QPoint(-3, 90)}) {
        std::thread([&] {
            win32sim::moveCursor(p.x(), p.y());
            handler->SendDeviceInput("0108000000000000");
        }).join();
        EXPECT_EQ(EventsOf(main).last().args, QVariantList{QString("%1,%2").arg(p.x()).arg(p.y())});
    }
    QCoreApplication::processEvents(); // the moves reach Qt's cursor too
}

TEST_F(HandlerTest, EventsToTheMainBrowserCarryTheirArguments)
{
    Create(); // main
    const int other = Create();
    handler->SendDevicesChanged(2);
    handler->SendDevicesChanged(2);
    handler->SendDevicesChanged(1);
    handler->SendDevicesChanged(-77); // codes the system does not know pass unchanged
    handler->SendNavStateChanged(true, false);
    handler->SendMacroItem("a", "b", "", "d");
    handler->SendCurrentPropChanged(3, -1);
    handler->SendSwitchVirtualDevice();
    struct Expected {
        const char* name;
        QVariantList args;
    };
    const Expected expected[] = {
        {"devicesChanged", {2}},
        {"devicesChanged", {2}},
        {"devicesChanged", {1}},
        {"devicesChanged", {-77}},
        {"navStateChanged", {true, false}},
        {"macroItem", {"a", "b", "", "d"}},
        {"currentPropChanged", {3, -1}},
        {"onSwitchVirtualDevice", {}},
    };
    const QList<test_support::PageEvent> events = EventsOf(MainId());
    ASSERT_EQ(size_t(events.size()), std::size(expected));
    for (int i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].name, expected[i].name);
        EXPECT_EQ(events[i].args, expected[i].args);
        // Types as the page bridge reads them.
        for (const QVariant& a : events[i].args)
            EXPECT_TRUE(a.type() == QVariant::Int || a.type() == QVariant::Bool || a.type() == QVariant::String);
    }
    EXPECT_EQ(host.MessagesTo(MainId(), PID_RENDERER)[4].args->GetType(0), VTYPE_BOOL);
    EXPECT_TRUE(EventsOf(other).isEmpty());
}

TEST_F(HandlerTest, WithoutAMainBrowserEventsAreDropped)
{
    QTemporaryDir dir;
    const QString log = dir.filePath("app.log");
    cef_logging::SetLogDestination(log.toStdString(), LOGSEVERITY_INFO);
    handler->SendDevicesChanged(2); // before any browser
    handler->SendDeviceInput("0105000000000000");
    const int main = Create();
    Close(main);
    handler->SendDevicesChanged(1); // after the main browser closed
    handler->SendNavStateChanged(false, false);
    EXPECT_TRUE(EventsOf(main).isEmpty());
    cef_logging::SetLogDestination(std::string(), LOGSEVERITY_INFO);
    // The log line is written whatever happens to the event.
    EXPECT_EQ(test_support::readFile(log).count("devicesChanged"), 2);
}

} // namespace
