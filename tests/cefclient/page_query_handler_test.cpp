// The page query handler: move requests and their numbers, the minimise request, and every other
// query handed with its callback to the current view. Queries arrive on the runtime's UI thread;
// the windows are real (offscreen) Qt windows.
#include "handler_fixture.h"

#include "fake_browser.h"
#include "row_name.h"
#include "test_files.h"

#include "app/window.h"
#include "cefclient/page_query_handler.h"
#include "cefclient/qcefwebview.h"

#include "cef_extras/closure_task.h"
#include "cef_extras/qt_string.h"

#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QWidget>

#include <ostream>
#include <thread>

using namespace cefclient_test;

namespace {

struct MoveNumbers {
    const char* name;
    const char* request;
    std::vector<int> numbers;
};

void PrintTo(const MoveNumbers& row, std::ostream* os) { *os << row.name; }

class MoveRequestNumbers : public ::testing::TestWithParam<MoveNumbers> {};

TEST_P(MoveRequestNumbers, AreReadAfterElevenCharactersWithOneCommaAfterEach)
{
    EXPECT_EQ(window_test::ParseMoveRequest(GetParam().request), GetParam().numbers);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, MoveRequestNumbers,
    ::testing::Values(MoveNumbers{"Colon", "MoveWindow:10,-20,800,600", {10, -20, 800, 600}},
                      // Blanks before a number are skipped.
                      MoveNumbers{"Blanks", "MoveWindow 10, -20, 800, 600", {10, -20, 800, 600}},
                      // Any eleventh character; a plus sign.
                      MoveNumbers{"AnyEleventhCharacter", "MoveWindowX+5,6,7,8", {5, 6, 7, 8}},
                      // Another separator ends the reading.
                      MoveNumbers{"OtherSeparator", "MoveWindow:10;-20;800;600", {10}},
                      MoveNumbers{"FiveNumbers", "MoveWindow:1,2,3,4,5", {1, 2, 3, 4, 5}},
                      MoveNumbers{"TwoCommas", "MoveWindow:1,,2,3,4", {1}},
                      // The comma must follow the number directly.
                      MoveNumbers{"BlankBeforeAComma", "MoveWindow:1 ,2,3,4", {1}},
                      MoveNumbers{"PastAnInt", "MoveWindow:99999999999,1,2,3", {}},
                      MoveNumbers{"LastPastAnInt", "MoveWindow:1,2,3,2147483648", {1, 2, 3}},
                      MoveNumbers{"SmallestInt", "MoveWindow:-2147483648,0,1,1", {-2147483648, 0, 1, 1}},
                      MoveNumbers{"Fraction", "MoveWindow:1.5,2,3,4", {1}},
                      MoveNumbers{"ColonOnly", "MoveWindow:", {}}, MoveNumbers{"NameOnly", "MoveWindow", {}}),
    test_support::RowName());

struct Bounds {
    const char* name;
    RECT display;
    RECT window;
    RECT expected;
};

void PrintTo(const Bounds& row, std::ostream* os) { *os << row.name; }

class ModifyBounds : public ::testing::TestWithParam<Bounds> {};

TEST_P(ModifyBounds, MovesByTheDisplayOriginAndFitsInside)
{
    const Bounds& c = GetParam();
    RECT w = c.window;
    window_test::ModifyBounds(c.display, w);
    EXPECT_EQ(std::vector<LONG>({w.left, w.top, w.right, w.bottom}),
              std::vector<LONG>({c.expected.left, c.expected.top, c.expected.right, c.expected.bottom}));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, ModifyBounds,
    ::testing::Values(Bounds{"Inside", {0, 0, 1920, 1080}, {10, 20, 810, 620}, {10, 20, 810, 620}},
                      Bounds{"SecondDisplay", {1920, 0, 3840, 1080}, {10, 20, 810, 620}, {1930, 20, 2730, 620}},
                      // Not left of or above it.
                      Bounds{"LeftOfAndAbove", {0, 0, 1920, 1080}, {-50, -40, 150, 160}, {0, 0, 200, 200}},
                      // Edges pulled inside.
                      Bounds{"PastTheEdges", {0, 0, 1920, 1080}, {1800, 1000, 2100, 1300}, {1620, 780, 1920, 1080}},
                      // At least 100 x 100.
                      Bounds{"TooSmall", {0, 0, 1920, 1080}, {10, 10, 20, 20}, {10, 10, 110, 110}},
                      // At most the display.
                      Bounds{"LargerThanTheDisplay", {0, 0, 800, 600}, {0, 0, 1000, 900}, {0, 0, 800, 600}}),
    test_support::RowName());

// Records on which thread a widget was hidden or minimised.
class StateWatcher : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Hide || e->type() == QEvent::WindowStateChange)
            thread = QThread::currentThread();
        return false;
    }
    QThread* thread = nullptr;
};

// Registers window as the application's main window for the scope. The registration ends before
// the window does, as the end of the registered main window ends the program.
class MainWindowScope {
public:
    explicit MainWindowScope(Window& window) { TestApplication::get()->setMainWindow(&window); }
    ~MainWindowScope() { TestApplication::get()->setMainWindow(nullptr); }
    MainWindowScope(const MainWindowScope&) = delete;
    MainWindowScope& operator=(const MainWindowScope&) = delete;
};

class QueryHandlerTest : public HandlerTest {
protected:
    void SetUp() override
    {
        HandlerTest::SetUp();
        // Frameless, as the program's main window and popups are.
        top.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        top.setGeometry(200, 150, 500, 400);
        browserWindow = new QWidget(&top);
        browserWindow->setAttribute(Qt::WA_NativeWindow);
        top.show();
        browser = new FakeBrowser(7001, browserWindow->winId(), 0, programPage());
    }
    // Sends request as the router would (UI thread) and lets the GUI thread do its part.
    CefRefPtr<RecordingCallback> Query(const std::string& request, CefRefPtr<CefBrowser> from = nullptr)
    {
        CefRefPtr<RecordingCallback> callback = new RecordingCallback;
        CefRefPtr<CefBrowser> b = from ? from : browser;
        bool taken = false;
        cef_extras::PostTask(TID_UI, [&, b, callback] { taken = queryHandler.OnQuery(b, nullptr, 1, request, false, callback); });
        EXPECT_TRUE(cef_test::WaitForThread(TID_UI));
        EXPECT_TRUE(taken);
        QCoreApplication::processEvents();
        cef_test::WaitForIdle();
        return callback;
    }
    RECT Rect(QWidget* w)
    {
        RECT r{};
        GetWindowRect(w->winId(), &r);
        return r;
    }

    window_test::Handler queryHandler;
    QWidget top;
    QWidget* browserWindow = nullptr;
    CefRefPtr<CefBrowser> browser;
};

struct MoveCase {
    const char* name;
    const char* request;
    bool moves; // by (10, -20) to 800 x 600, answered ""
};

void PrintTo(const MoveCase& row, std::ostream* os) { *os << row.name; }

class MoveRequests : public QueryHandlerTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(MoveRequests, MoveRequestsMoveThePagesTopLevelWindowAndAnswerAfterwards)
{
    const MoveCase& c = GetParam();
    top.setGeometry(200, 150, 500, 400);
    const RECT before = Rect(&top);
    CefRefPtr<RecordingCallback> callback = new RecordingCallback;
    RECT atAnswer{};
    callback->onAnswer = [&] { atAnswer = Rect(&top); };
    bool taken = false;
    cef_extras::PostTask(TID_UI, [&] { taken = queryHandler.OnQuery(browser, nullptr, 1, c.request, false, callback); });
    ASSERT_TRUE(cef_test::WaitForThread(TID_UI));
    EXPECT_TRUE(taken);
    QCoreApplication::processEvents();
    const RECT after = Rect(&top);
    if (!c.moves) {
        EXPECT_TRUE(callback->Answers().empty());
        EXPECT_EQ(after.left, before.left);
        EXPECT_EQ(after.right - after.left, before.right - before.left);
        return;
    }
    EXPECT_EQ(callback->Answers(), std::vector<std::string>{"ok:"});
    EXPECT_EQ(callback->answerThread, QThread::currentThread()); // the window work ran on the GUI thread
    EXPECT_EQ(after.left, before.left + 10);
    EXPECT_EQ(after.top, before.top - 20);
    EXPECT_EQ(after.right - after.left, 800);
    EXPECT_EQ(after.bottom - after.top, 600);
    EXPECT_EQ(atAnswer.left, after.left); // answered once the window had moved
}

INSTANTIATE_TEST_SUITE_P(Requests, MoveRequests,
                         ::testing::Values(MoveCase{"Colon", "MoveWindow:10,-20,800,600", true},
                                           MoveCase{"Blanks", "MoveWindow 10, -20, 800, 600", true},
                                           MoveCase{"OtherSeparator", "MoveWindow:10;-20;800;600", false},
                                           MoveCase{"FiveNumbers", "MoveWindow:10,-20,800,600,5", false},
                                           MoveCase{"ThreeNumbers", "MoveWindow:10,-20,800", false},
                                           // No window has no size.
                                           MoveCase{"NoWidth", "MoveWindow:10,-20,0,600", false},
                                           MoveCase{"NegativeHeight", "MoveWindow:10,-20,800,-600", false},
                                           MoveCase{"NameOnly", "MoveWindow", false}),
                         test_support::RowName());

TEST_F(QueryHandlerTest, AMaximisedWindowIsRestoredAtItsCornerWithTheRequestedSize)
{
    top.showMaximized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(top.isMaximized());
    const RECT maximised = Rect(&top);
    CefRefPtr<RecordingCallback> callback = Query("MoveWindow:10,-20,640,480");
    EXPECT_EQ(callback->Answers(), std::vector<std::string>{"ok:"});
    EXPECT_FALSE(top.isMaximized());
    EXPECT_EQ(top.geometry().topLeft(), QPoint(maximised.left, maximised.top)); // the offsets are not applied
    EXPECT_EQ(top.size(), QSize(640, 480));
}

TEST_F(QueryHandlerTest, AMoveToASizeBeyondTheScreenGivesAWindowThatFitsIt)
{
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    ASSERT_LT(screen.width(), 200000);
    CefRefPtr<RecordingCallback> callback = Query("MoveWindow:0,0,200000,200000");
    EXPECT_EQ(callback->Answers(), std::vector<std::string>{"ok:"});
    EXPECT_EQ(top.size(), screen);
    Query("MoveWindow:0,0,2147483647,300");
    EXPECT_EQ(top.size(), QSize(screen.width(), 300));
}

TEST_F(QueryHandlerTest, TheMinimiseRequestHidesTheMainWindowOnTheGuiThreadThenAnswers)
{
    Window mainWindow;
    mainWindow.setGeometry(50, 50, 600, 400);
    QWidget* mainBrowserWindow = new QWidget(&mainWindow);
    mainBrowserWindow->setAttribute(Qt::WA_NativeWindow);
    mainWindow.show();
    const MainWindowScope registered(mainWindow);
    StateWatcher watcher;
    mainWindow.installEventFilter(&watcher);
    CefRefPtr<CefBrowser> mainBrowser = new FakeBrowser(7002, mainBrowserWindow->winId(), 0, programPage());
    // A changed page file, written back by the request before it is answered.
    QTemporaryDir files;
    ASSERT_TRUE(files.isValid());
    const QString page = files.filePath("page.xml");
    ASSERT_EQ(mainWindow.modifyCachedFile(page, "<a/>"), PageFileCache::Result::Ok);
    ASSERT_EQ(mainWindow.modifyCachedFile(page, "<b/>"), PageFileCache::Result::Ok);

    CefRefPtr<RecordingCallback> callback = new RecordingCallback;
    bool visibleAtAnswer = true;
    QByteArray writtenAtAnswer;
    callback->onAnswer = [&] {
        visibleAtAnswer = mainWindow.isVisible();
        writtenAtAnswer = test_support::readFile(page);
    };
    cef_extras::PostTask(TID_UI, [&] {
        queryHandler.OnQuery(mainBrowser, nullptr, 1, "{\"FuncName\":\"MinisizeWindow\"}", false, callback);
    });
    ASSERT_TRUE(test_support::waitFor([&] { return !callback->Answers().empty(); }, 5000));
    EXPECT_EQ(callback->Answers(), std::vector<std::string>{"ok:"});
    EXPECT_FALSE(mainWindow.isVisible()); // hidden to the tray, not minimised
    EXPECT_FALSE(visibleAtAnswer);
    EXPECT_EQ(writtenAtAnswer, QByteArray("<?xml version=\"1.0\"?>\n<b />\n"));
    EXPECT_EQ(watcher.thread, QThread::currentThread());

    // From a popup's page: the popup is minimised and the main window stays as it is; the main
    // window's files are written back all the same.
    mainWindow.show();
    ASSERT_EQ(mainWindow.modifyCachedFile(page, "<c/>"), PageFileCache::Result::Ok);
    CefRefPtr<RecordingCallback> fromPopup = Query("{\"FuncName\":\"MinisizeWindow\"}");
    EXPECT_EQ(fromPopup->Answers(), std::vector<std::string>{"ok:"});
    EXPECT_TRUE(top.isMinimized());
    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_EQ(test_support::readFile(page), QByteArray("<?xml version=\"1.0\"?>\n<c />\n"));

    // Already minimised: it stays so, and the page still gets its answer.
    CefRefPtr<RecordingCallback> again = Query("{\"FuncName\":\"MinisizeWindow\"}");
    EXPECT_EQ(again->Answers(), std::vector<std::string>{"ok:"});
    EXPECT_TRUE(top.isMinimized());
    EXPECT_TRUE(top.isVisible());
}

TEST_F(QueryHandlerTest, EveryOtherQueryGoesToTheListenerWithItsCallbackAndOneMoreReference)
{
    RecordingListener listener;
    handler->SetListener(&listener);
    const std::vector<std::string> forwarded = {
        "{\"FuncName\":\"GetDevicesList\"}",
        "movewindow:10,-20,800,600",          // not a window request: the comparison is exact
        "{\"FuncName\": \"MinisizeWindow\"}", // a blank after the colon
        "{\"FuncName\":\"maxsizeWindow\"}",
        "\xe8\xae\xbe\xe5\xa4\x87", // non-ASCII text arrives unchanged
    };
    std::vector<CefRefPtr<RecordingCallback>> callbacks;
    for (const std::string& request : forwarded)
        callbacks.push_back(Query(request));

    ASSERT_EQ(listener.PostedCount(), forwarded.size());
    for (size_t i = 0; i < forwarded.size(); ++i) {
        SCOPED_TRACE(forwarded[i]);
        MessageEvent* event = listener.posted[i].get();
        EXPECT_EQ(event->type(), MessageEvent::eventType());
        EXPECT_EQ(event->message(), QString::fromStdString(forwarded[i])); // in arrival order
        EXPECT_EQ(event->callback().get(), callbacks[i].get());
        EXPECT_TRUE(callbacks[i]->Answers().empty()); // the main window answers, not the handler
    }
    // The listener's browser is the one that asked.
    int asked = 0;
    handler->WithListener([&](ClientHandler::Listener* l) { asked = l->browser->GetIdentifier(); });
    EXPECT_EQ(asked, 7001);

    // One reference more than the event's: it stays for the main window's reply to release.
    listener.posted.clear();
    for (CefRefPtr<RecordingCallback>& c : callbacks) {
        EXPECT_FALSE(c->HasOneRef());
        c->Release();
        EXPECT_TRUE(c->HasOneRef());
    }
    handler->SetListener(nullptr);
}

// On the runtime's backend the handler runs on the GUI thread, inside the page's call: the view
// then gets the query before the call returns, unless a query is still waiting in its queue.
TEST_F(QueryHandlerTest, OnTheGuiThreadTheViewGetsTheQueryAtOnceButNeverAheadOfAQueuedOne)
{
    QCefWebView view(nullptr, false);
    handler->SetListener(&view);
    std::vector<QString> seen;
    QObject::connect(&view, &QCefWebView::jsMessage,
                     [&](const QString& name, CefRefPtr<CefMessageRouterBrowserSide::Callback> callback) {
                         seen.push_back(name);
                         callback->Success("answered");
                         callback->Release(); // as the main window's reply does
                     });
    const auto ask = [&](const char* request) {
        CefRefPtr<RecordingCallback> callback = new RecordingCallback;
        EXPECT_TRUE(queryHandler.OnQuery(browser, nullptr, 1, request, false, callback));
        return callback;
    };

    CefRefPtr<RecordingCallback> first = ask("{\"FuncName\":\"a\"}");
    EXPECT_EQ(seen, std::vector<QString>{"{\"FuncName\":\"a\"}"});
    EXPECT_EQ(first->Answers(), std::vector<std::string>{"ok:answered"});
    EXPECT_TRUE(first->HasOneRef()); // the reference for the reply was added and released
    int asked = 0;
    handler->WithListener([&](ClientHandler::Listener* l) { asked = l->browser->GetIdentifier(); });
    EXPECT_EQ(asked, 7001);

    // A query handed over from another thread still waits in the view's queue: the next one
    // queues behind it, and both arrive in their order.
    seen.clear();
    CefRefPtr<RecordingCallback> queued = new RecordingCallback;
    std::thread([&] {
        queued->AddRef();
        view.PostMessageEvent(new MessageEvent("{\"FuncName\":\"b\"}", queued));
    }).join();
    CefRefPtr<RecordingCallback> behind = ask("{\"FuncName\":\"c\"}");
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(behind->Answers().empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(seen, (std::vector<QString>{"{\"FuncName\":\"b\"}", "{\"FuncName\":\"c\"}"}));
    EXPECT_EQ(behind->Answers(), std::vector<std::string>{"ok:answered"});
    EXPECT_TRUE(queued->HasOneRef());
    EXPECT_TRUE(behind->HasOneRef());
    handler->SetListener(nullptr);
}

TEST_F(QueryHandlerTest, WithoutAListenerAQueryIsDroppedWithoutAReference)
{
    CefRefPtr<RecordingCallback> callback = Query("{\"FuncName\":\"GetDevicesList\"}");
    EXPECT_TRUE(callback->Answers().empty());
    EXPECT_TRUE(callback->HasOneRef());
}

TEST_F(QueryHandlerTest, EveryQueryRecordsItsPagesTopLevelWindowAsTheMainWindowHandle)
{
    RecordingListener listener;
    handler->SetListener(&listener);
    Query("{\"FuncName\":\"GetDevicesList\"}");
    listener.ReleaseQueries();
    EXPECT_EQ(handler->GetMainWindowHandle(), top.winId());

    QWidget popup(nullptr, Qt::Dialog | Qt::FramelessWindowHint);
    QWidget* popupBrowserWindow = new QWidget(&popup);
    popupBrowserWindow->setAttribute(Qt::WA_NativeWindow);
    popup.show();
    Query("MoveWindow:1,1,300,200", new FakeBrowser(7003, popupBrowserWindow->winId(), 0, programPage()));
    EXPECT_EQ(handler->GetMainWindowHandle(), popup.winId());
    EXPECT_EQ(popup.size(), QSize(300, 200)); // the request acted on the asking page's window
    handler->SetListener(nullptr);
}

// Only the program's own pages have their queries served: the "velmora" pages and files below the
// page root. Any other page's query, window requests included, runs nothing, changes no handle,
// takes no reference and fails at once.
struct PageCase {
    const char* name;
    enum Folder { None, Pages, Elsewhere } folder; // a file address in that folder, else url as it is
    const char* url;
    bool served;
};

void PrintTo(const PageCase& row, std::ostream* os) { *os << row.name; }

class ForeignPages : public QueryHandlerTest, public ::testing::WithParamInterface<PageCase> {
protected:
    void SetUp() override
    {
        QueryHandlerTest::SetUp();
        ASSERT_TRUE(test_support::writeFile(pages.path() + "/template/main/index.html", "<p>"));
        ASSERT_TRUE(test_support::writeFile(elsewhere.path() + "/index.html", "<p>"));
        // Links count where they lead: out of the root and into it.
        ASSERT_TRUE(QFile::link(elsewhere.path() + "/index.html", pages.path() + "/template/main/out.html"));
        ASSERT_TRUE(QFile::link(pages.path() + "/template/main/index.html", elsewhere.path() + "/in.html"));
        oldRoot = TestApplication::get()->pageRoot();
        TestApplication::get()->setPageRoot(pages.path() + "/template");
        handler->SetListener(&listener);
    }
    void TearDown() override
    {
        handler->SetListener(nullptr);
        TestApplication::get()->setPageRoot(oldRoot);
        QueryHandlerTest::TearDown();
    }
    std::string Url(const PageCase& c) const
    {
        if (c.folder == PageCase::None)
            return c.url;
        const QString folder = (c.folder == PageCase::Pages ? pages : elsewhere).path();
        return QUrl::fromLocalFile(folder + c.url).toString().toStdString();
    }

    QTemporaryDir pages, elsewhere;
    QString oldRoot;
    RecordingListener listener;
};

TEST_P(ForeignPages, QueriesOfPagesThatAreNotTheProgramsRunNothing)
{
    const PageCase& c = GetParam();
    const std::string url = Url(c);
    EXPECT_EQ(window_test::IsProgramPage(url), c.served);
    CefRefPtr<CefBrowser> from = new FakeBrowser(7101, browserWindow->winId(), 0, url);
    handler->SetMainWindowHandle(0);
    cef_test::WaitForIdle();
    top.setGeometry(200, 150, 500, 400);
    const std::vector<CefRefPtr<RecordingCallback>> answered = {Query("{\"FuncName\":\"GetDevicesList\"}", from),
                                                                Query("MoveWindow:10,10,300,200", from)};
    EXPECT_EQ(listener.PostedCount(), c.served ? 1u : 0u);
    listener.ReleaseQueries();
    EXPECT_EQ(top.size(), c.served ? QSize(300, 200) : QSize(500, 400));
    EXPECT_EQ(handler->GetMainWindowHandle(), c.served ? top.winId() : 0);
    if (!c.served) {
        for (const CefRefPtr<RecordingCallback>& cb : answered) {
            EXPECT_EQ(cb->Answers(), std::vector<std::string>{"fail:0:" + std::string(window_test::kForeignPageError)});
            EXPECT_TRUE(cb->HasOneRef());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ForeignPages,
    ::testing::Values(
        PageCase{"ProgramPage", PageCase::None, "velmora://settings/local/client/main/index.html", true},
        PageCase{"ProgramPageInCapitals", PageCase::None, "VELMORA://Settings/local/client/popup/index.html?x=1#y",
                 true},
        PageCase{"FileBelowTheRoot", PageCase::Pages, "/template/main/index.html", true},
        PageCase{"LocalServer", PageCase::None, "http://127.0.0.1:8080/index.html", false},
        PageCase{"ProgramAddressInAPath", PageCase::None, "https://example.com/velmora://settings/", false},
        PageCase{"OtherHost", PageCase::None, "velmora://other/local/client/main/index.html", false},
        PageCase{"ProgramAddressInData", PageCase::None, "data:text/html,<p>velmora://settings/</p>", false},
        PageCase{"FileElsewhere", PageCase::Elsewhere, "/index.html", false},
        PageCase{"DotsOutOfTheRoot", PageCase::Pages, "/template/../../index.html", false},
        PageCase{"TheRootItself", PageCase::Pages, "/template", false},
        PageCase{"LinkOutOfTheRoot", PageCase::Pages, "/template/main/out.html", false},
        PageCase{"LinkIntoTheRoot", PageCase::Elsewhere, "/in.html", true},
        PageCase{"Blank", PageCase::None, "about:blank", false},
        // No main frame.
        PageCase{"NoAddress", PageCase::None, "", false}),
    test_support::RowName());

} // namespace
