// Popup views over the main window: their window, their own view and browser, and what their
// activation hands over.
#include "window_fixture.h"

#include "cefclient/client_handler.h"
#include "cefclient/popwidget.h"
#include "cefclient/qcefwebview.h"

#include "cef_test/cef_test_host.h"

namespace {

class PopupTest : public test_support::WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        openWindow();
    }
};

TEST_F(PopupTest, APopupHoldsItsOwnViewAndBrowserAtItsSize)
{
    const QString url = "velmora://settings/local/client/popup/index.html";
    PopWidget popup(url, QSize(400, 300), window);
    EXPECT_EQ(popup.windowFlags() & (Qt::Dialog | Qt::FramelessWindowHint), Qt::Dialog | Qt::FramelessWindowHint);
    EXPECT_EQ(popup.size(), QSize(400, 300));
    QCefWebView* view = popup.webView();
    ASSERT_TRUE(view);
    EXPECT_EQ(view->parentWidget(), &popup);
    EXPECT_EQ(view->size(), QSize(400, 300));
    // Its browser is asked for at once, before the popup is shown, and its view listens.
    EXPECT_NE(view->browserState(), QCefWebView::kNone);
    EXPECT_EQ(g_handler->GetListener(), static_cast<ClientHandler::Listener*>(view));
    ASSERT_TRUE(test_support::waitFor([&] {
        cef_test::WaitForIdle();
        return view->browserState() == QCefWebView::kCreated;
    }));
    ASSERT_TRUE(view->GetBrowser());
    ASSERT_TRUE(window->webView()->GetBrowser());
    EXPECT_FALSE(view->GetBrowser()->IsSame(window->webView()->GetBrowser()));

    // Resizing the popup resizes its view.
    popup.resize(300, 200);
    popup.show();
    EXPECT_EQ(view->size(), QSize(300, 200));
    g_handler->SetListener(window->webView());
}

TEST_F(PopupTest, ActivationHandsOverTheQueriesAndTheWindowAndIsPassedOn)
{
    const QString url = "velmora://settings/local/client/popup/index.html";
    PopWidget* popup = new PopWidget(url, QSize(400, 300), window);
    popup->show();
    // The main view took the queries back, as "CloseView" does for another popup.
    g_handler->SetListener(window->webView());
    g_handler->SetMainWindowHandle(static_cast<HWND>(window->winId()));
    window->setActivePopup(nullptr);
    cef_test::WaitForIdle();

    // Qt's own handling of the activation (which passes it to the popup's widgets) still runs.
    int activations = 0;
    struct Watch : QObject {
        int* count;
        explicit Watch(int* c) : count(c) {}
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::WindowActivate)
                ++*count;
            return false;
        }
    } watch(&activations);
    popup->webView()->installEventFilter(&watch);

    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(popup, &activate);
    EXPECT_EQ(g_handler->GetListener(), static_cast<ClientHandler::Listener*>(popup->webView()));
    EXPECT_EQ(window->activePopup(), popup);
    cef_test::WaitForIdle();
    EXPECT_EQ(g_handler->GetMainWindowHandle(), static_cast<HWND>(popup->winId()));
    EXPECT_EQ(activations, 1);

    // Other events of the popup hand nothing over.
    g_handler->SetListener(window->webView());
    QEvent deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(popup, &deactivate);
    EXPECT_EQ(g_handler->GetListener(), static_cast<ClientHandler::Listener*>(window->webView()));
    delete popup;
}

} // namespace
