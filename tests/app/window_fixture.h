// A main window of the shell's tests: an application folder of its own, the simulated devices,
// and the program-wide handler with its main browser on the runtime's test host. The application
// folder lies two levels below the test's temporary folder, so that names leading out of it by
// "../" or "../.." still lie in the temporary folder.
#pragma once

#include "page_events.h"
#include "test_app.h"
#include "test_files.h"
#include "vqsim_devices.h"
#include "wait.h"

#include "app/application.h"
#include "app/window.h"
#include "cefclient/qcefwebview.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace test_support {

// The start page of the windows made here.
inline const char* startPage() { return "velmora://settings/local/client/main/index.html"; }

class WindowFixture : public ::testing::Test {
public:
    void SetUp() override
    {
        app = TestApplication::get();
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkpath(kProgramFolder));
        setAppDirPath(programDir() + "/");
        sim = std::make_unique<SimDevices>();
        events = std::make_unique<MainBrowserEvents>();
    }
    void TearDown() override
    {
        closeWindow();
        events.reset();
        sim.reset();
        setAppDirPath(QString());
    }

    // conf.xml with these elements below root, read at once.
    void writeConf(const QString& elements)
    {
        ASSERT_TRUE(writeFile(path("Resources/conf.xml"), ("<root>" + elements + "</root>").toUtf8()));
        app->loadConf();
    }
    // A new main window on the configuration, registered as the application's.
    void openWindow(const QString& elements = "<client Name=\"Tarquil\" LoadPath=\"" + QString(startPage()) + "\"/>")
    {
        writeConf(elements);
        window = new Window;
        app->setMainWindow(window);
        windowOpened();
        // The view's browser is created asynchronously; a load before it exists is dropped.
        EXPECT_TRUE(waitFor([&] {
            cef_test::WaitForIdle();
            return window->webView()->browserState() == QCefWebView::kCreated;
        }));
    }
    void closeWindow()
    {
        app->setMainWindow(nullptr);
        delete window;
        window = nullptr;
        cef_test::WaitForIdle();
    }
    // The application folder, without a trailing "/".
    QString programDir() const { return dir.path() + "/" + kProgramFolder; }
    QString path(const QString& relative) const { return programDir() + "/" + relative; }

    static constexpr const char* kProgramFolder = "outer/program";

    TestApplication* app = nullptr;
    QTemporaryDir dir;
    std::unique_ptr<SimDevices> sim;
    std::unique_ptr<MainBrowserEvents> events;
    Window* window = nullptr;

protected:
    virtual void windowOpened() {}
};

} // namespace test_support
