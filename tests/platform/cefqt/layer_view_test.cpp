// Browsers with views through the runtime layer (an X display under xvfb-run, else the
// offscreen platform): the browser window as a child of its host widget, resizing it as
// the Win32-style calls do, closing, the host widget's end, and context menus.
#include "layer_client.h"

#include "include/cef_browser.h"
#include "include/cef_context_menu_handler.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

extern CefRefPtr<test_support::SiteFactory> g_site;

using namespace layer_test;
using namespace test_support;

namespace {

class MenuClient : public RecordingClient {
public:
    void OnBeforeContextMenu(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefContextMenuParams> params,
                             CefRefPtr<CefMenuModel> model) override
    {
        menuOnUi = CefCurrentlyOn(TID_UI);
        seeded = model->GetCount();
        hadReload = model->GetIndexOf(MENU_ID_RELOAD) >= 0;
        typeFlags = params->GetTypeFlags();
        model->Clear();
        if (addItem)
            model->AddItem(MENU_ID_USER_FIRST, "Custom");
        ++menus;
    }
    bool OnContextMenuCommand(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefContextMenuParams>,
                              int command_id, EventFlags) override
    {
        command = command_id;
        return true;
    }

    std::atomic<int> menus{0}, seeded{0}, typeFlags{0}, command{0};
    std::atomic<bool> menuOnUi{false}, hadReload{false};
    bool addItem = false;
    IMPLEMENT_REFCOUNTING(MenuClient);
};

const char kSizePage[] = R"(<html><body style="margin:0"><script>
    function report() {
        cefQuery({request: "ping:" + innerWidth + "x" + innerHeight,
                  onSuccess: function (r) { document.title = r; }});
    }
    report();
    addEventListener("resize", report);
</script></body></html>)";

class QtLayerViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_site->Put("/size.html", kSizePage);
        host = new QWidget;
        host->resize(500, 400);
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host, 5000));
    }
    void TearDown() override
    {
        if (client) {
            std::vector<CefRefPtr<CefBrowser>> all;
            {
                std::lock_guard<std::mutex> l(client->m);
                all = client->browsers;
            }
            for (auto& b : all)
                b->GetHost()->CloseBrowser(true);
            EXPECT_TRUE(waitFor([&] { return client->closed == int(all.size()); }));
        }
        delete host.data();
    }

    void openChild(const WindowRect& rect)
    {
        client = new MenuClient;
        CefWindowInfo info;
        info.SetAsChild(CefWindowHandle(host->winId()), rect);
        openBrowser(info, client.get(), "velmora://test/size.html", &browser);
    }

    QWidget* browserWidget() { return QWidget::find(WId(browser->GetHost()->GetWindowHandle())); }

    QPointer<QWidget> host;
    CefRefPtr<MenuClient> client;
    CefRefPtr<CefBrowser> browser;
};

TEST_F(QtLayerViewTest, BrowserWindowIsAChildOfItsHostAtTheGivenRect)
{
    openChild(WindowRect{10, 20, 310, 220});
    ASSERT_NE(browser->GetHost()->GetWindowHandle(), CefWindowHandle(0));
    QWidget* w = browserWidget();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget(), host.data());
    EXPECT_EQ(w->window(), host.data());
    EXPECT_EQ(w->geometry(), QRect(10, 20, 300, 200));
    EXPECT_TRUE(w->isVisible());
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("pong:300x200"); }));
}

TEST_F(QtLayerViewTest, ResizingTheBrowserWindowResizesThePage)
{
    openChild(WindowRect{0, 0, 200, 150});
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("pong:200x150"); }));
    browserWidget()->setGeometry(0, 0, 420, 310);
    ASSERT_TRUE(waitFor([&] { return client->LastTitle() == "pong:420x310"; }));
}

TEST_F(QtLayerViewTest, CloseBrowserRemovesTheWindow)
{
    openChild(WindowRect{0, 0, 200, 150});
    ASSERT_TRUE(waitFor([&] { return client->loadEnds >= 1; }));
    const CefWindowHandle handle = browser->GetHost()->GetWindowHandle();
    browser->GetHost()->CloseBrowser(false);
    ASSERT_TRUE(waitFor([&] { return client->closed == 1; }));
    ASSERT_TRUE(waitFor([&] { return QWidget::find(WId(handle)) == nullptr; }));
}

TEST_F(QtLayerViewTest, BrowserEndsWithItsHostWindow)
{
    openChild(WindowRect{0, 0, 200, 150});
    ASSERT_TRUE(waitFor([&] { return client->loadEnds >= 1; }));
    delete host.data();
    ASSERT_TRUE(waitFor([&] { return client->closed == 1; }));
    // Actions on the closed browser do nothing.
    browser->GetMainFrame()->LoadURL("velmora://test/size.html");
    browser->Reload();
}

TEST_F(QtLayerViewTest, ContextMenuIsOfferedSeededAndItsCommandsReachTheClient)
{
    openChild(WindowRect{0, 0, 300, 200});
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("pong:300x200"); }));
    QWidget* w = browserWidget();
    QWidget* target = w->focusProxy() ? w->focusProxy() : w;
    // Cleared by the client: no menu.
    QTest::mouseClick(target, Qt::RightButton, Qt::NoModifier, QPoint(40, 40));
    ASSERT_TRUE(waitFor([&] { return client->menus > 0; }, 10000));
    waitFor([] { return false; }, 100); // a menu would be up by now
    EXPECT_TRUE(client->menuOnUi);
    EXPECT_GT(client->seeded, 0);
    EXPECT_TRUE(client->hadReload);
    EXPECT_TRUE(client->typeFlags & CM_TYPEFLAG_PAGE);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    // With an item of its own: the menu shows it and choosing it reaches the client.
    client->addItem = true;
    const int menus = client->menus;
    QTest::mouseClick(target, Qt::RightButton, Qt::NoModifier, QPoint(40, 40));
    QMenu* menu = nullptr;
    ASSERT_TRUE(waitFor([&] {
        menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        return client->menus > menus && menu;
    }, 10000));
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->text(), "Custom");
    menu->actions().first()->trigger();
    menu->close();
    EXPECT_EQ(client->command, MENU_ID_USER_FIRST);
}

TEST_F(QtLayerViewTest, PopupTheClientAllowsOpensInAWindowOfItsOwn)
{
    g_site->Put("/opener.html", R"(<html><body><script>window.open("velmora://test/size.html")</script></body></html>)");
    client = new MenuClient;
    client->allowPopups = true;
    CefWindowInfo info;
    info.SetAsChild(CefWindowHandle(host->winId()), WindowRect{0, 0, 200, 150});
    ASSERT_TRUE(CefBrowserHost::CreateBrowser(info, client.get(), "velmora://test/opener.html", CefBrowserSettings()));
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> l(client->m);
        return client->browsers.size() == 2;
    }));
    browser = client->First();
    CefRefPtr<CefBrowser> popup;
    {
        std::lock_guard<std::mutex> l(client->m);
        popup = client->browsers[1];
    }
    QWidget* w = QWidget::find(WId(popup->GetHost()->GetWindowHandle()));
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isWindow());
    // A popup the page opened is one for the client too; its opener is the page's browser.
    EXPECT_TRUE(popup->IsPopup());
    EXPECT_FALSE(browser->IsPopup());
    EXPECT_EQ(popup->GetHost()->GetOpenerWindowHandle(), browser->GetHost()->GetWindowHandle());
    ASSERT_TRUE(waitFor([&] { return client->loadEnds >= 2; }));
    EXPECT_EQ(popup->GetMainFrame()->GetURL().ToString(), "velmora://test/size.html");
    // The user closes the window: the browser closes.
    const WId handle = w->winId();
    w->close();
    ASSERT_TRUE(waitFor([&] { return client->closed == 1; }));
    ASSERT_TRUE(waitFor([&] { return QWidget::find(handle) == nullptr; }));
}

TEST_F(QtLayerViewTest, DevToolsOpenAsAFurtherBrowserAndClose)
{
    openChild(WindowRect{0, 0, 200, 150});
    ASSERT_TRUE(waitFor([&] { return client->loadEnds >= 1; }));
    CefWindowInfo info;
    info.SetAsPopup(0, "Dev Tools");
    browser->GetHost()->ShowDevTools(info, client.get(), CefBrowserSettings(), CefPoint());
    CefRefPtr<CefBrowser> tools;
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> l(client->m);
        if (client->browsers.size() == 2)
            tools = client->browsers[1];
        return tools != nullptr;
    }));
    EXPECT_TRUE(tools->IsPopup());
    QWidget* w = nullptr;
    ASSERT_TRUE(waitFor([&] { return (w = QWidget::find(WId(tools->GetHost()->GetWindowHandle()))) != nullptr; }));
    EXPECT_TRUE(w->isWindow());
    EXPECT_EQ(w->windowTitle(), "Dev Tools");
    browser->GetHost()->CloseDevTools();
    ASSERT_TRUE(waitFor([&] { return client->closed == 1; }));
}

TEST_F(QtLayerViewTest, SetFocusGivesTheBrowserWindowTheKeyboardFocus)
{
    QWidget* other = new QWidget(host);
    other->setFocusPolicy(Qt::StrongFocus);
    other->setGeometry(300, 0, 50, 50);
    other->show();
    openChild(WindowRect{0, 0, 200, 150});
    ASSERT_TRUE(waitFor([&] { return client->loadEnds >= 1; }));
    host->activateWindow();
    other->setFocus();
    ASSERT_TRUE(waitFor([&] { return other->hasFocus(); }, 5000));
    browser->GetHost()->SetFocus(true);
    QWidget* w = browserWidget();
    ASSERT_TRUE(waitFor([&] {
        QWidget* f = QApplication::focusWidget();
        return f && (f == w || w->isAncestorOf(f));
    }, 5000));
}

} // namespace
