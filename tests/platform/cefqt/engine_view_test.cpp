// Views of the engine side: a browser as a native child window of a host widget, its
// geometry and resizing as the page sees them, the end of the view with its parent, and
// the context menu hook.
#include "cefqt/engine.h"
#include "cefqt/engine_page.h"
#include "test_util.h"

#include <QAction>
#include <QApplication>
#include <QJsonArray>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

using namespace cefqt;
using namespace cefqt_test;

namespace {

struct Recorder : PageEvents {
    QList<QJsonArray> sizes;
    QList<int> released;
    int destroyedCount = 0;
    int menus = 0;
    QStringList menuActions;
    bool clearMenu = true;

    void scriptCall(int, const QString& name, int, const QJsonArray& args) override
    {
        if (name == "nativeCall")
            sizes.append(args);
    }
    void contextReleased(int id) override { released.append(id); }
    void destroyed() override { ++destroyedCount; }
    void contextMenu(QMenu* menu, const QWebEngineContextMenuData&) override
    {
        ++menus;
        for (QAction* a : menu->actions())
            menuActions.append(a->text());
        if (clearMenu)
            menu->clear();
    }
};

const char kSizePage[] = R"(<html><body style="margin:0"><script>
    nativeCall(innerWidth, innerHeight);
    addEventListener('resize', function () { nativeCall(innerWidth, innerHeight); });
</script></body></html>)";

class QtEngineViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        SetGlobalFunctions({{"nativeCall", GlobalFunction::Plain}});
        serveSite();
        site().insert("/size.html", kSizePage);
    }

    void SetUp() override
    {
        parent = new QWidget;
        parent->resize(480, 360);
        parent->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(parent, 5000) || QGuiApplication::platformName() == "offscreen");
    }

    void TearDown() override
    {
        host.reset();
        delete parent.data();
    }

    void openChild(const QRect& geometry)
    {
        PageHost::Options options;
        options.parent = parent;
        options.geometry = geometry;
        host = std::make_unique<PageHost>(&events, options);
        host->load(QUrl("velmora://settings/size.html"));
    }

    static bool sizeIs(const QJsonArray& a, int w, int h) { return a.size() == 2 && a[0].toInt() == w && a[1].toInt() == h; }

    QPointer<QWidget> parent;
    Recorder events;
    std::unique_ptr<PageHost> host;
};

TEST_F(QtEngineViewTest, ChildWindowHasRequestedGeometry)
{
    openChild(QRect(10, 20, 200, 120));
    QWebEngineView* view = host->view();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->parentWidget(), parent.data());
    EXPECT_EQ(view->geometry(), QRect(10, 20, 200, 120));
    ASSERT_NE(host->windowHandle(), WId(0));
    EXPECT_EQ(QWidget::find(host->windowHandle()), view);
    EXPECT_EQ(view->window()->winId(), parent->winId());
    ASSERT_TRUE(waitFor([&] { return !events.sizes.isEmpty() && sizeIs(events.sizes.last(), 200, 120); }));
}

TEST_F(QtEngineViewTest, ResizeReachesThePage)
{
    openChild(QRect(0, 0, 160, 100));
    ASSERT_TRUE(waitFor([&] { return !events.sizes.isEmpty() && sizeIs(events.sizes.last(), 160, 100); }));
    host->setGeometry(QRect(0, 0, 320, 240));
    EXPECT_EQ(host->view()->size(), QSize(320, 240));
    ASSERT_TRUE(waitFor([&] { return sizeIs(events.sizes.last(), 320, 240); }));
}

TEST_F(QtEngineViewTest, ViewEndsWithItsParent)
{
    openChild(QRect(0, 0, 100, 100));
    ASSERT_TRUE(waitFor([&] { return !events.sizes.isEmpty(); }));
    delete parent.data();
    EXPECT_EQ(events.destroyedCount, 1);
    EXPECT_EQ(events.released.size(), 1);
    EXPECT_EQ(host->view(), nullptr);
    host->load(QUrl("velmora://settings/size.html")); // harmless on a dead view
    host.reset();
    EXPECT_EQ(events.destroyedCount, 1);
}

TEST_F(QtEngineViewTest, RightClickOffersTheMenuToTheHook)
{
    openChild(QRect(0, 0, 200, 150));
    ASSERT_TRUE(waitFor([&] { return !events.sizes.isEmpty(); }));
    QWidget* target = host->view()->focusProxy() ? host->view()->focusProxy() : host->view();
    ASSERT_TRUE(waitFor([&] {
        QTest::mouseClick(target, Qt::RightButton, Qt::NoModifier, QPoint(50, 50));
        return events.menus > 0;
    }, 10000));
    EXPECT_FALSE(events.menuActions.isEmpty()); // the engine's standard actions (back, reload, ...)
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr); // cleared: no menu shown
}

} // namespace
