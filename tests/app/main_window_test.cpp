#include "test_app.h"

#include "app/application.h"
#include "app/pswindow.h"
#include "app/window.h"

#include <gtest/gtest.h>

namespace {

// The native event filter, the application and the device code reach one and the same main window.
TEST(MainWindowRegistry, EveryAccessorReadsTheOneRecord)
{
    TestApplication* app = TestApplication::get();
    auto* window = new Window;
    app->setMainWindow(window);
    EXPECT_EQ(PsApplication::psMainWindow(), window);
    EXPECT_EQ(Application::mainWindow(), window);
    EXPECT_EQ(appMainWindow(), window);

    // A frameless window that is not the program's main window type replaces it for the filter, and
    // the application then has no main window.
    PsMainWindow bare;
    PsApplication::psSetMainWindow(&bare);
    EXPECT_EQ(PsApplication::psMainWindow(), &bare);
    EXPECT_EQ(Application::mainWindow(), nullptr);
    EXPECT_EQ(appMainWindow(), nullptr);

    // Deleting the registered window clears it for everyone.
    app->setMainWindow(window);
    EXPECT_EQ(appMainWindow(), window);
    delete window;
    EXPECT_EQ(PsApplication::psMainWindow(), nullptr);
    EXPECT_EQ(Application::mainWindow(), nullptr);
    EXPECT_EQ(appMainWindow(), nullptr);

    app->setMainWindow(nullptr);
}

} // namespace
