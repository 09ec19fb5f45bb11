// The browser callbacks on the test host: the context menu with and without Debug, developer tools,
// load errors, the storage quota, drags, geolocation, popups handed to the desktop, external
// protocols, renderer crashes and downloads.
#include "fake_browser.h"
#include "handler_fixture.h"
#include "row_name.h"

#include "temporary_home.h"
#include "test_files.h"

#include <QDesktopServices>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <ostream>
#include <thread>

using namespace cefclient_test;

namespace {

// The menu as text: "-" for a separator, "id:label" with "*" when checked, submenus in brackets.
std::string describe(CefRefPtr<CefMenuModel> model)
{
    std::string out;
    for (int i = 0; i < model->GetCount(); ++i) {
        if (!out.empty())
            out += " ";
        if (model->GetTypeAt(i) == MENUITEMTYPE_SEPARATOR) {
            out += "-";
            continue;
        }
        const int id = model->GetCommandIdAt(i);
        out += std::to_string(id) + ":" + model->GetLabelAt(i).ToString();
        if (model->IsCheckedAt(i))
            out += "*";
        if (CefRefPtr<CefMenuModel> sub = model->GetSubMenuAt(i))
            out += " [" + describe(sub) + "]";
    }
    return out;
}

class CallbacksTest : public HandlerTest {
protected:
    void SetUp() override
    {
        HandlerTest::SetUp();
        main = Create("velmora://settings/local/client/main/index.html");
    }
    void TearDown() override
    {
        Conf(""); // later tests start without Debug
        setAppDirPath(QString());
        HandlerTest::TearDown();
    }
    // conf.xml with the given client attributes, loaded as the program does.
    void Conf(const QString& attributes)
    {
        setAppDirPath(appDir.path() + "/");
        ASSERT_TRUE(test_support::writeFile(appDir.path() + "/Resources/conf.xml",
                                            ("<root><client Name=\"x\" " + attributes + "/></root>").toUtf8()));
        TestApplication::get()->loadConf();
    }

    QTemporaryDir appDir;
    int main = 0;
};

const char kDebugPageMenu[] = "100:Back - 26500:Show DevTools 26501:Close DevTools - 26502:Inspect Element - "
                              "26503:Context Menu Test [26504:Check Item* 26505:Radio Item 1* 26506:Radio Item 2 "
                              "26507:Radio Item 3]";

struct MenuCase {
    const char* name;
    const char* attributes;
    int flags;
    bool engineItems;
    std::string menu;
};

void PrintTo(const MenuCase& row, std::ostream* os) { *os << row.name; }

class ContextMenus : public CallbacksTest, public ::testing::WithParamInterface<MenuCase> {};

TEST_P(ContextMenus, TheContextMenuHasTheDeveloperItemsOnlyWithDebugTrue)
{
    const MenuCase& c = GetParam();
    Conf(c.attributes);
    cef_backend::ContextMenuInfo info;
    info.type_flags = c.flags;
    std::vector<std::pair<int, std::string>> engine;
    if (c.engineItems)
        engine.push_back({MENU_ID_BACK, "Back"});
    EXPECT_EQ(describe(host.ContextMenu(main, info, engine)), c.menu);
}

INSTANTIATE_TEST_SUITE_P(
    Menus, ContextMenus,
    ::testing::Values(
        MenuCase{"DebugPage", "Debug=\"true\"", CM_TYPEFLAG_PAGE, true, kDebugPageMenu},
        MenuCase{"DebugSelectionInAFrame", "Debug=\"true\"", CM_TYPEFLAG_FRAME | CM_TYPEFLAG_SELECTION, true,
                 std::string(kDebugPageMenu)},
        MenuCase{"DebugPageWithoutEngineItems", "Debug=\"true\"", CM_TYPEFLAG_PAGE, false,
                 "26500:Show DevTools 26501:Close DevTools - 26502:Inspect Element - 26503:Context Menu Test "
                 "[26504:Check Item* 26505:Radio Item 1* 26506:Radio Item 2 26507:Radio Item 3]"},
        // The engine's own menu, as it is.
        MenuCase{"DebugLink", "Debug=\"true\"", CM_TYPEFLAG_LINK, true, "100:Back"},
        MenuCase{"DebugEditableSelection", "Debug=\"true\"", CM_TYPEFLAG_EDITABLE | CM_TYPEFLAG_SELECTION, true,
                 "100:Back"},
        // No menu at all.
        MenuCase{"DebugCapitalised", "Debug=\"True\"", CM_TYPEFLAG_PAGE, true, ""},
        MenuCase{"DebugFalse", "Debug=\"false\"", CM_TYPEFLAG_PAGE, true, ""},
        MenuCase{"NoDebugPage", "", CM_TYPEFLAG_PAGE, true, ""},
        MenuCase{"NoDebugLinkWithoutEngineItems", "", CM_TYPEFLAG_LINK, false, ""}),
    test_support::RowName());

TEST_F(CallbacksTest, TheTestSubmenuKeepsItsStateForLaterMenus)
{
    Conf("Debug=\"true\"");
    cef_backend::ContextMenuInfo info;
    auto submenu = [&] { return describe(host.ContextMenu(main, info)->GetSubMenu(26503)); };
    EXPECT_TRUE(host.ContextMenuCommand(main, info, 26504));
    EXPECT_EQ(submenu(), "26504:Check Item 26505:Radio Item 1* 26506:Radio Item 2 26507:Radio Item 3");
    EXPECT_TRUE(host.ContextMenuCommand(main, info, 26504));
    EXPECT_TRUE(host.ContextMenuCommand(main, info, 26507));
    EXPECT_EQ(submenu(), "26504:Check Item* 26505:Radio Item 1 26506:Radio Item 2 26507:Radio Item 3*");
    EXPECT_TRUE(host.ContextMenuCommand(main, info, 26506));
    EXPECT_EQ(submenu(), "26504:Check Item* 26505:Radio Item 1 26506:Radio Item 2* 26507:Radio Item 3");
    // Ids that are not the handler's go to the engine.
    EXPECT_FALSE(host.ContextMenuCommand(main, info, 26508));
    EXPECT_FALSE(host.ContextMenuCommand(main, info, MENU_ID_BACK));
}

TEST_F(CallbacksTest, DeveloperToolsOpenAsAPopupOfTheInspectedBrowser)
{
    cef_backend::ContextMenuInfo info;
    info.x = 120;
    info.y = 45;
    struct Case {
        int command;
        CefPoint inspect;
    };
    for (const Case& c : {Case{26500, CefPoint(0, 0)}, Case{26502, CefPoint(120, 45)}}) {
        SCOPED_TRACE(c.command);
        EXPECT_TRUE(host.ContextMenuCommand(main, info, c.command));
        cef_test::WaitForIdle();
        const int tools = host.LastBrowserId();
        ASSERT_NE(tools, main);
        const cef_test::BrowserRecord record = host.Record(tools);
        EXPECT_TRUE(record.params.is_devtools);
        EXPECT_EQ(record.params.inspect_at, c.inspect);
        EXPECT_EQ(CefString(&record.params.window_info.window_name).ToString(), "Dev Tools");
        EXPECT_EQ(record.params.window_info.parent_window, host.Record(main).window);
        EXPECT_EQ(record.params.window_info.style, 0x16CF0000UL);
        EXPECT_TRUE(host.Browser(tools)->IsPopup());
        EXPECT_EQ(ClientHandler::GetBrowserCount(), 2); // counted as one of the handler's browsers

        EXPECT_TRUE(host.ContextMenuCommand(main, info, 26501));
        cef_test::WaitForIdle();
        EXPECT_TRUE(host.Record(tools).closed);
        EXPECT_EQ(ClientHandler::GetBrowserCount(), 1);
    }
}

struct LoadErrorCase {
    const char* name;
    const char* frameUrl;
    int code;
    bool told;
};

void PrintTo(const LoadErrorCase& row, std::ostream* os) { *os << row.name; }

class LoadErrors : public CallbacksTest, public ::testing::WithParamInterface<LoadErrorCase> {};

TEST_P(LoadErrors, LoadErrorsTellTheFailingPageExceptAbortsAndTheExternalProtocol)
{
    const LoadErrorCase& c = GetParam();
    const int other = Create("velmora://settings/local/client/main/other.html");
    host.SetAddress(other, c.frameUrl);
    const int before = EventsOf(other).size();
    host.LoadError(other, c.code, "nosuchscheme://x", "failed");
    const QList<test_support::PageEvent> events = EventsOf(other);
    ASSERT_EQ(events.size(), before + (c.told ? 1 : 0));
    if (c.told) {
        EXPECT_EQ(events.last().name, "onBrowserMsg");
        EXPECT_EQ(events.last().args, QVariantList{"pageError"});
    }
    EXPECT_TRUE(EventsOf(main).isEmpty()); // only the page that failed
}

INSTANTIATE_TEST_SUITE_P(
    Errors, LoadErrors,
    ::testing::Values(
        LoadErrorCase{"Aborted", "velmora://settings/local/client/main/other.html", ERR_ABORTED, false},
        LoadErrorCase{"ExternalProtocol", "spotify:track:1", ERR_UNKNOWN_URL_SCHEME, false},
        LoadErrorCase{"UnknownSchemeOnAPage", "velmora://settings/local/client/main/other.html",
                      ERR_UNKNOWN_URL_SCHEME, true},
        LoadErrorCase{"OtherErrorOnAnExternalProtocol", "spotify:track:1", ERR_FAILED, true},
        LoadErrorCase{"NameNotResolved", "https://example.invalid/", ERR_NAME_NOT_RESOLVED, true},
        LoadErrorCase{"FileNotFound", "velmora://settings/local/client/main/other.html", ERR_FILE_NOT_FOUND, true}),
    test_support::RowName());

TEST_F(CallbacksTest, NavigationStateOfAnyBrowserGoesToTheMainPage)
{
    const int popup = Create();
    host.LoadingState(popup, true, true, false);
    host.LoadingState(main, false, false, true);
    cef_test::WaitForIdle();
    const QList<test_support::PageEvent> events = EventsOf(main);
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0].name, "navStateChanged");
    EXPECT_EQ(events[0].args, QVariantList({true, false}));
    EXPECT_EQ(events[1].args, QVariantList({false, true}));
    EXPECT_TRUE(EventsOf(popup).isEmpty());
}

TEST_F(CallbacksTest, StorageUpTo20MiBIsGranted)
{
    EXPECT_EQ(host.Quota(main, "velmora://settings", 0), 1);
    EXPECT_EQ(host.Quota(main, "velmora://settings", 20971520), 1);
    EXPECT_EQ(host.Quota(main, "velmora://settings", 20971521), 0);
    EXPECT_EQ(host.Quota(main, "velmora://settings", int64(1) << 40), 0);
}

TEST_F(CallbacksTest, DragsCarryingALinkAreRefused)
{
    EXPECT_TRUE(host.DragEnter(main, DRAG_OPERATION_LINK));
    EXPECT_TRUE(host.DragEnter(main, DRAG_OPERATION_COPY | DRAG_OPERATION_LINK | DRAG_OPERATION_MOVE));
    EXPECT_FALSE(host.DragEnter(main, DRAG_OPERATION_COPY));
    EXPECT_FALSE(host.DragEnter(main, DRAG_OPERATION_COPY | DRAG_OPERATION_MOVE));
}

TEST_F(CallbacksTest, OnlyTheProgramsOwnPagesLearnTheLocation)
{
    EXPECT_EQ(host.Geolocation(main, "velmora://settings/local/client/main/index.html"), 1);
    EXPECT_EQ(host.Geolocation(main, "VELMORA://settings/"), 1);
    EXPECT_EQ(host.Geolocation(main, "https://example.com/"), 0);
    EXPECT_EQ(host.Geolocation(main, "http://velmora.example/"), 0);
    EXPECT_EQ(host.Geolocation(main, "file:///tmp/page.html"), 0);
}

TEST_F(CallbacksTest, OnlyTheExternalProtocolIsHandedToTheSystem)
{
    EXPECT_TRUE(host.ProtocolExecution(main, "spotify:track:1"));
    EXPECT_FALSE(host.ProtocolExecution(main, "mailto:a@b.c"));
    EXPECT_FALSE(host.ProtocolExecution(main, "xspotify:track"));
}

// Records what the desktop was asked to open, and on which thread.
class DesktopRecorder : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl& url)
    {
        urls.append(url.toString());
        onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
    }

public:
    QStringList urls;
    bool onGuiThread = true;
};

TEST_F(CallbacksTest, PopupsNeverOpenInTheProgramAndOnlyWebAndMailAddressesLeaveIt)
{
    DesktopRecorder desktop;
    const QStringList schemes = {"http", "https", "mailto", "file", "ftp", "spotify", "velmora", "javascript"};
    for (const QString& scheme : schemes)
        QDesktopServices::setUrlHandler(scheme, &desktop, "open");
    const std::string targets[] = {
        "https://example.com/help?q=1", "http://example.com/", "mailto:support@example.com",
        "file:///usr/bin/xterm",        "ftp://example.com/x", "spotify:track:1",
        "velmora://settings/local/client/main/index.html", "javascript:alert(1)", "not a url at all",
    };
    for (const std::string& target : targets) {
        SCOPED_TRACE(target);
        EXPECT_TRUE(host.Popup(main, target).cancel);
    }
    test_support::waitFor([&] { return desktop.urls.size() >= 3; }, 5000);
    QCoreApplication::processEvents();
    for (const QString& scheme : schemes)
        QDesktopServices::unsetUrlHandler(scheme);
    EXPECT_EQ(desktop.urls,
              QStringList({"https://example.com/help?q=1", "http://example.com/", "mailto:support@example.com"}));
    EXPECT_TRUE(desktop.onGuiThread);
    EXPECT_EQ(ClientHandler::GetBrowserCount(), 1); // no popup browser
}

TEST_F(CallbacksTest, ARendererCrashReloadsTheStartPageOnceUnlessThePageIsBelowIt)
{
    handler->SetStartupURL("velmora://settings/local/client/Main/Index.html");
    auto crash = [&](const char* pageUrl) {
        host.SetAddress(main, pageUrl);
        const size_t before = host.Record(main).loads.size();
        host.TerminateRenderer(main);
        cef_test::WaitForIdle();
        return host.Record(main).loads.size() > before;
    };
    // Below the start page, whatever the letter case on either side: nothing to reload.
    EXPECT_FALSE(crash("velmora://settings/local/client/main/index.html"));
    EXPECT_FALSE(crash("VELMORA://settings/local/client/MAIN/index.html?tab=2"));
    EXPECT_FALSE(crash(""));
    // Elsewhere: the start page, once; a page that crashes again at once is not reloaded in a loop.
    EXPECT_TRUE(crash("https://example.com/crashing"));
    EXPECT_EQ(host.Record(main).loads.back(), "velmora://settings/local/client/Main/Index.html");
    EXPECT_FALSE(crash("https://example.com/crashing"));
    EXPECT_FALSE(crash("https://example.com/crashing"));
}

TEST_F(CallbacksTest, TheRuntimesCrashPageAsStartPageIsNeverReloaded)
{
    handler->SetStartupURL("Chrome://Crash");
    host.SetAddress(main, "https://example.com/");
    host.TerminateRenderer(main);
    cef_test::WaitForIdle();
    EXPECT_TRUE(host.Record(main).loads.empty());
}

TEST_F(CallbacksTest, ARendererCrashOfABrowserWithoutAMainFrameLoadsNothing)
{
    handler->SetStartupURL("velmora://settings/local/client/main/index.html");
    CefRefPtr<CefBrowser> frameless = new FakeBrowser(4711, 0);
    ASSERT_FALSE(frameless->GetMainFrame());
    handler->OnRenderProcessTerminated(frameless, TS_PROCESS_CRASHED);
    cef_test::WaitForIdle();
    EXPECT_TRUE(host.Record(main).loads.empty());
}

TEST_F(CallbacksTest, DownloadsAreProposedInTheDocumentsFolder)
{
    test_support::TemporaryHome home;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);

    cef_backend::DownloadInfo item;
    item.suggested_file_name = "report 1.txt";
    const cef_backend::DownloadDecision decision = host.Download(main, item);
    EXPECT_TRUE(decision.accepted);
    EXPECT_TRUE(decision.show_dialog);
    EXPECT_EQ(decision.path, QDir::toNativeSeparators(documents + "/report 1.txt").toStdString());
    EXPECT_TRUE(QFileInfo(documents).isDir()); // made when missing

    item.full_path = "/somewhere/report 1.txt";
    item.in_progress = true;
    host.DownloadUpdate(main, item);
    cef_test::WaitForIdle();
    EXPECT_EQ(handler->GetLastDownloadFile(), "");
    item.in_progress = false;
    item.complete = true;
    host.DownloadUpdate(main, item);
    cef_test::WaitForIdle();
    EXPECT_EQ(handler->GetLastDownloadFile(), "/somewhere/report 1.txt");

}

TEST_F(CallbacksTest, TheConfigurationCanBeLoadedAgainWhileMenusAreBuilt)
{
    Conf("Debug=\"true\"");
    std::atomic<bool> stop{false};
    std::thread menus([&] {
        cef_backend::ContextMenuInfo info;
        while (!stop)
            host.ContextMenu(main, info);
    });
    for (int i = 0; i < 200; ++i)
        TestApplication::get()->loadConf();
    stop = true;
    menus.join();
    EXPECT_EQ(TestApplication::get()->confValues().value("Debug"), "true");
}

TEST(UncalledMembers, SaveStringToFileAndParseTestUrl)
{
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/out.txt").toStdString();
    EXPECT_TRUE(ClientHandler::SaveStringToFile(path, "first"));
    EXPECT_TRUE(ClientHandler::SaveStringToFile(path, "2nd"));
    EXPECT_EQ(test_support::readFile(QString::fromStdString(path)), "2nd");
    EXPECT_FALSE(ClientHandler::SaveStringToFile((dir.path() + "/missing/out.txt").toStdString(), "x"));

    struct Case {
        const char* url;
        const char* file;
        const char* mime;
    };
    const Case cases[] = {
        {"http://tests/other/page.html", "page.html", "text/html"},
        {"http://tests/logo.png?x=1", "logo.png", "image/png"},
        {"http://tests/folder/", "", ""},
    };
    for (const Case& c : cases) {
        std::string file, mime;
        ClientHandler::ParseTestUrl(c.url, &file, &mime);
        EXPECT_EQ(file, c.file) << c.url;
        EXPECT_EQ(mime, c.mime) << c.url;
    }
}

} // namespace

#include "browser_callbacks_test.moc"
