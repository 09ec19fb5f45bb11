// The application object: the start flag, the quit that happens once, the update check's values.
#include "http_test_server.h"
#include "own_process.h"
#include "row_name.h"
#include "test_app.h"
#include "test_files.h"
#include "vqsim_devices.h"

#include "app/application.h"
#include "devices/devices_handler.h"
#include "update/http_request_worker.h"
#include "update/update_check.h"

#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace {

struct Autostart {
    const char* name;
    std::vector<const char*> args;
    bool autostart;
};

void PrintTo(const Autostart& row, std::ostream* os) { *os << row.name; }

class AutostartArguments : public ::testing::TestWithParam<Autostart> {};

TEST_P(AutostartArguments, AutostartIsOneExactArgumentAnywhere)
{
    const Autostart& c = GetParam();
    std::vector<char*> argv;
    for (const char* a : c.args)
        argv.push_back(const_cast<char*>(a));
    argv.push_back(nullptr);
    EXPECT_EQ(hasAutostartArgument(int(c.args.size()), argv.data()), c.autostart);
}

INSTANTIATE_TEST_SUITE_P(Arguments, AutostartArguments,
                         ::testing::Values(Autostart{"Alone", {"prog", "-autostart"}, true},
                                           Autostart{"AmongOthers", {"prog", "x", "-autostart", "y"}, true},
                                           // The program path counts too.
                                           Autostart{"AsTheProgramPath", {"-autostart"}, true},
                                           Autostart{"None", {"prog"}, false},
                                           Autostart{"Capitalised", {"prog", "-Autostart"}, false},
                                           Autostart{"TwoDashes", {"prog", "--autostart"}, false},
                                           Autostart{"TrailingBlank", {"prog", "-autostart "}, false},
                                           Autostart{"NoDash", {"prog", "autostart"}, false},
                                           Autostart{"NoArguments", {}, false}),
                         test_support::RowName());

TEST(Application, QuitTwiceQuitsOnce)
{
    // A process quits once.
    if (test_support::ranInOwnProcess())
        return;
    TestApplication* app = TestApplication::get();
    int aboutToQuit = 0;
    QObject::connect(app, &QCoreApplication::aboutToQuit, [&] { ++aboutToQuit; });
    QTimer::singleShot(0, [] {
        quitApplication();
        quitApplication();
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(isQuitRequested());
    EXPECT_EQ(aboutToQuit, 1);

    // A later quit request ends nothing: the loop runs on until something else ends it.
    bool ranOn = false;
    QTimer::singleShot(0, [&] {
        quitApplication();
        QTimer::singleShot(0, [&] {
            ranOn = true;
            QCoreApplication::quit();
        });
    });
    QCoreApplication::exec();
    EXPECT_TRUE(ranOn);
}

TEST(Application, UpdateCheckSendsTheVersionAndAnEmptyFirmwareVersion)
{
    TestApplication* app = TestApplication::get();
    test_support::HttpTestServer server;
    server.route("/api/system/upgrade", test_support::HttpReply::json("{\"code\":1}"));
    QTemporaryDir dir;
    setAppDirPath(dir.path() + "/");
    const QByteArray host = server.url().toUtf8();
    ASSERT_TRUE(test_support::writeFile(dir.path() + "/Resources/conf.xml",
                                        "<root><client Name=\"n\" UpgradeUrl=\"" + host + "\"/></root>"));
    app->loadConf();
    ASSERT_FALSE(app->confValues().contains("Version"));
    app->checkUpdate(0);
    // A missing Version is sent as "" and is then in the configuration.
    EXPECT_TRUE(app->confValues().contains("Version"));
    EXPECT_EQ(app->confValues().value("Version"), "");
    QPointer<UpdateCheck> first = app->updateCheck();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->version, "");
    EXPECT_EQ(first->fwversion, "");
    EXPECT_EQ(first->parent(), app);
    EXPECT_EQ(first->serviceUrl, server.url("/api/system/upgrade"));
    ASSERT_TRUE(server.waitForRequests(1));

    ASSERT_TRUE(test_support::writeFile(dir.path() + "/Resources/conf.xml",
                                        "<root><client Version=\"2.1.0\" UpgradeUrl=\"" + host + "/\"/></root>"));
    app->loadConf();
    app->checkUpdate(7);
    EXPECT_TRUE(first.isNull()); // the earlier check is gone
    ASSERT_TRUE(app->updateCheck());
    EXPECT_EQ(app->updateCheck()->version, "2.1.0");
    EXPECT_EQ(app->confValues().value("Version"), "2.1.0");
    ASSERT_TRUE(server.waitForRequests(2));
    EXPECT_EQ(server.requests()[0].target, "/api/system/upgrade?fwversion=&noencrypt=1&version=");
    EXPECT_EQ(server.requests()[1].target, "/api/system/upgrade?fwversion=&noencrypt=1&version=2.1.0");

    // Without UpgradeUrl the check goes to the closed local port; an address that is none sends nothing.
    ASSERT_TRUE(test_support::writeFile(dir.path() + "/Resources/conf.xml", "<root><client Version=\"2.1\"/></root>"));
    app->loadConf();
    app->checkUpdate(0);
    EXPECT_EQ(app->updateCheck()->serviceUrl, "http://127.0.0.1:9/api/system/upgrade");
    ASSERT_TRUE(test_support::writeFile(dir.path() + "/Resources/conf.xml",
                                        "<root><client Version=\"2.1\" UpgradeUrl=\"ftp://127.0.0.1\"/></root>"));
    app->loadConf();
    app->checkUpdate(0);
    EXPECT_EQ(app->updateCheck()->serviceUrl, "");
    EXPECT_FALSE(app->updateCheck()->worker);
    setAppDirPath(QString());
}

struct AppPath {
    const char* name;
    const char* relative;
    const char* path;
};

void PrintTo(const AppPath& row, std::ostream* os) { *os << row.name; }

// An application folder of /opt/tm/ for the test's time.
class AppFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication::get();
        setAppDirPath("/opt/tm/");
    }
    void TearDown() override { setAppDirPath(QString()); }
};

class AppFolderPaths : public AppFolder, public ::testing::WithParamInterface<AppPath> {};

TEST_P(AppFolderPaths, PathsInTheApplicationFolder)
{
    EXPECT_EQ(pathInAppDir(GetParam().relative), QString::fromUtf8(GetParam().path));
}

INSTANTIATE_TEST_SUITE_P(Paths, AppFolderPaths,
                         ::testing::Values(AppPath{"Below", "Resources/a.xml", "/opt/tm/Resources/a.xml"},
                                           AppPath{"LeadingSlash", "/Resources/a.xml", "/opt/tm//Resources/a.xml"},
                                           AppPath{"DotsStayingInside", "x/../a.xml", "/opt/tm/x/../a.xml"},
                                           AppPath{"OneName", "a", "/opt/tm/a"}, AppPath{"Empty", "", ""},
                                           AppPath{"Dot", ".", ""}, AppPath{"BackToTheFolder", "x/..", ""},
                                           AppPath{"OutAndBackIn", "../tm/a.xml", "/opt/tm/../tm/a.xml"},
                                           AppPath{"Out", "../etc/passwd", ""},
                                           AppPath{"OutBelow", "x/../../etc/passwd", ""},
                                           AppPath{"IntoASibling", "../tm2/a.xml", ""}, AppPath{"Parent", "..", ""}),
                         test_support::RowName());

// The file system would stop at the NUL, short of the checked path.
TEST_F(AppFolder, APathWithANulIsRefused)
{
    EXPECT_EQ(pathInAppDir(QString("../a.xml") + QChar(0) + "/../tm/x"), "");
}

TEST(Application, NoPathsWithoutAnApplicationFolder)
{
    TestApplication::get();
    setAppDirPath(QString());
    EXPECT_EQ(pathInAppDir("a.xml"), "");
}

// Nothing in the program calls these; they still do what their names say.
// The application keeps the device handler and its records for good: a process of its own, so that
// the update check of another test still finds no firmware version.
TEST(Application, UncalledDeviceAndConfigurationMembers)
{
    if (test_support::ranInOwnProcess())
        return;
    TestApplication* app = TestApplication::get();
    ASSERT_TRUE(vqsim().loaded());
    SimDevices sim;
    EXPECT_EQ(Application::currentDevicesHandler(), nullptr);
    app->initDevices();
    ASSERT_TRUE(app->devicesHandler());
    EXPECT_EQ(Application::currentDevicesHandler(), app->devicesHandler());
    EXPECT_EQ(app->knownDeviceIds(), (QStringList{"1A2C0E24", "1A2C0E30"}));
    EXPECT_FALSE(app->hasDuplicateDevice("VQ-MOUSE-M10"));

    // A second mouse with the same record name: counted twice, listed once.
    vqsim().addDevice("Tag=VQ-MOUSE-M10\nVersion=M1.1\nDeviceId=HID\\VID_1A2C&PID_0E24&MI_01\\9\nDevicePath=p\n"
                      "Vid=0x1A2C\nPid=0x0E24\nUsagePage=0xFFA0\n");
    vqsim().waitIdle(5000);
    QList<Application::DeviceRecord> changed;
    app->diffDevices(changed);
    EXPECT_TRUE(app->hasDuplicateDevice("VQ-MOUSE-M10"));
    EXPECT_EQ(app->knownDeviceIds(), (QStringList{"1A2C0E24", "1A2C0E30"}));
    EXPECT_TRUE(changed.isEmpty()); // the map did not grow: nothing is only before
    vqsim().addDevice("Tag=OTHER\nVersion=X1\nDeviceId=HID\\VID_0001&PID_0002\\1\nDevicePath=q\n"
                      "Vid=0x1\nPid=0x2\nUsagePage=0xFFA0\n");
    vqsim().waitIdle(5000);
    app->diffDevices(changed);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0].name, "OTHER");
    EXPECT_EQ(changed[0].version, "X1");
    EXPECT_EQ(changed[0].devicePath, "q");
    EXPECT_EQ(app->knownDeviceIds().last(), "00010002");

    QTemporaryDir dir;
    setAppDirPath(dir.path() + "/");
    ASSERT_TRUE(test_support::writeFile(dir.path() + "/Resources/conf.xml", "<root><client Name=\"n\"/></root>"));
    app->loadConf();
    EXPECT_TRUE(app->setConfValue("Name", "m"));
    EXPECT_FALSE(app->setConfValue("Other", "x"));
    EXPECT_EQ(app->confValue("Name"), "m");
    EXPECT_EQ(app->confValue("Other"), "");
    app->setConfText("<root><client Name=\"saved\"/></root>");
    app->saveConf();
    EXPECT_EQ(test_support::readFile(dir.path() + "/Resources/conf.xml"), QByteArray("<root><client Name=\"saved\"/></root>"));
    setAppDirPath(QString());
}

} // namespace
