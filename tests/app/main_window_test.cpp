#include "fake_macro_clock.h"
#include "hid_reports.h"
#include "own_process.h"
#include "recording_callback.h"
#include "row_name.h"
#include "test_app.h"
#include "test_files.h"
#include "wait.h"
#include "window_fixture.h"

#include "app/application.h"
#include "app/global_shortcut.h"
#include "app/private_temp.h"
#include "app/pswindow.h"
#include "app/system_tray.h"
#include "app/window.h"
#include "app/window_services.h"
#include "cefclient/popwidget.h"
#include "cefclient/qcefwebview.h"
#include "win32sim/device_notify.h"
#include "win32sim/device_tree.h"
#include "win32sim/handles.h"
#include "win32sim/messages.h"
#include "win32sim/registry.h"
#include "win32sim/virtual_hid.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <thread>

namespace {

// A window size as the screen's available area holds it: larger sizes are bounded to it.
QSize onScreen(const QSize& size) { return size.boundedTo(QGuiApplication::primaryScreen()->availableGeometry().size()); }

// The native event filter, the application and the device code reach one and the same main window.
TEST(MainWindowRegistry, EveryAccessorReadsTheOneRecord)
{
    TestApplication* app = TestApplication::get();
    // Deleting the registered main window quits: the quit counts as asked for, so that the later
    // tests' event loops still run.
    setQuitRequested();
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

class WindowTest : public test_support::WindowFixture {
protected:
    int devicesChanged(int code) const
    {
        int n = 0;
        for (const test_support::PageEvent& e : events->events())
            n += e.name == "devicesChanged" && e.args.value(0).toInt() == code;
        return n;
    }
};

struct ConstructionCase {
    const char* name;
    const char* clientSize; // nullptr: no such key
    QSize size;             // as far as the screen's available area holds it
};

const ConstructionCase kConstructions[] = {
    {"NoClientSize", nullptr, {1000, 700}}, {"WidthAndHeight", "1280,800", {1280, 800}},
    {"WidthOnly", "1280", {1280, 700}},     {"NoNumbers", "a,b", {1000, 700}},
    {"ZeroHeight", "640,0", {640, 700}},    {"EmptyClientSize", "", {1000, 700}},
    {"Small", "600,400", {600, 400}},
};

class ConstructionTest : public WindowTest, public ::testing::WithParamInterface<ConstructionCase> {};

TEST_P(ConstructionTest, ConstructionTakesTitleSizeAndStartPageFromTheConfiguration)
{
    const ConstructionCase& c = GetParam();
    const QSize expected = onScreen(c.size);
    const QString size = c.clientSize ? QString(" ClientSize=\"%1\"").arg(c.clientSize) : QString();
    openWindow("<client Name=\"Tarquil\" LoadPath=\"" + QString(test_support::startPage()) + "\"" + size + "/>");
    EXPECT_EQ(window->objectName(), "MainWindow");
    EXPECT_EQ(window->windowTitle(), "Tarquil");
    EXPECT_EQ(window->size(), expected);
    EXPECT_EQ(window->minimumSize(), expected);
    ASSERT_TRUE(window->webView());
    EXPECT_EQ(window->webView()->parentWidget(), window);
    EXPECT_EQ(window->webView()->size(), expected);
    EXPECT_TRUE(window->hasMouseTracking());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(g_handler->GetViewKey(), test_support::startPage());
    EXPECT_EQ(g_handler->GetStartupURL(), test_support::startPage());
    // The view made its browser with the start page at the window's size.
    const cef_test::BrowserRecord r = events->host.Record(events->host.LastBrowserId());
    EXPECT_EQ(r.params.url, test_support::startPage());
    EXPECT_EQ(r.params.window_info.width, expected.width());
    EXPECT_EQ(r.params.window_info.height, expected.height());
    EXPECT_EQ(window->deviceMap().keys(), (QStringList{"K1.0", "M1.0"}));
    ASSERT_TRUE(window->dataHandler());
    ASSERT_TRUE(window->listFunctions());
    EXPECT_FALSE(window->GetVirtualDeviceStatus());
}

INSTANTIATE_TEST_SUITE_P(ClientSizes, ConstructionTest, ::testing::ValuesIn(kConstructions), test_support::RowName());

// Notes the page roots at the moment a browser is asked for: the page loader reads them from the
// first request of the page on.
class RootProbeHost : public cef_test::TestHost {
public:
    std::unique_ptr<cef_backend::BrowserView> CreateBrowser(CefRefPtr<cef_backend::BrowserCore> core,
                                                            const cef_backend::CreateParams& params) override
    {
        roots << appInstance()->pageRoot() + "|" + appInstance()->imageRoot();
        return cef_test::TestHost::CreateBrowser(core, params);
    }
    QStringList roots;
};

TEST(MainWindowRoots, PageRootsAreSetBeforeTheStartPageIsAskedFor)
{
    TestApplication* app = TestApplication::get();
    QTemporaryDir dir;
    setAppDirPath(dir.path() + "/");
    RootProbeHost host;
    cef_test::StartRuntime();
    g_handler = new ClientHandler;
    struct Case {
        const char* debug;
        QString root;
    } cases[] = {
        {"true", QCoreApplication::applicationDirPath() + "/template"},
        {"True", privateTempPath() + "/template"},
        {nullptr, privateTempPath() + "/template"},
    };
    for (const Case& c : cases) {
        app->setPageRoot("stale");
        app->setImageRoot("stale");
        host.roots.clear();
        const QString debug = c.debug ? QString(" Debug=\"%1\"").arg(c.debug) : QString();
        ASSERT_TRUE(test_support::writeFile(dir.path() + "/Resources/conf.xml",
                                            ("<root><client LoadPath=\"" + QString(test_support::startPage()) + "\"" + debug + "/></root>").toUtf8()));
        app->loadConf();
        auto* window = new Window;
        EXPECT_EQ(host.roots, QStringList{c.root + "|" + c.root + "/main"}) << (c.debug ? c.debug : "(none)");
        delete window;
    }
    cef_test::WaitForIdle();
    cef_test::StopRuntime();
    g_handler = nullptr;
    setAppDirPath(QString());
}

TEST_F(WindowTest, ClosingHidesTheWindowAndTheProgramRunsOn)
{
    openWindow();
    window->show();
    ASSERT_TRUE(window->isVisible());
    const bool quitBefore = isQuitRequested();
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isHidden());
    EXPECT_EQ(isQuitRequested(), quitBefore);
    EXPECT_EQ(appMainWindow(), window);

    // Activated while minimised, it comes back normal.
    window->showMinimized();
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(window, &activate);
    EXPECT_FALSE(window->isMinimized());
}

TEST_F(WindowTest, TrayShowsTheWindowOnClicksAndHasItsMenu)
{
    openWindow();
    window->initSystemTray();
    ASSERT_TRUE(window->tray());
    QMenu* menu = window->tray()->contextMenu();
    ASSERT_TRUE(menu);
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(texts, (QStringList{"打开客户端", "-", "退出"}));
    // The icon owns the menu alone: nothing else deletes it.
    EXPECT_EQ(menu->parent(), nullptr);

    struct Case {
        QSystemTrayIcon::ActivationReason reason;
        bool shows;
    } cases[] = {{QSystemTrayIcon::Unknown, true},
                 {QSystemTrayIcon::Context, false},
                 {QSystemTrayIcon::DoubleClick, true},
                 {QSystemTrayIcon::Trigger, true},
                 {QSystemTrayIcon::MiddleClick, false}};
    for (const Case& c : cases) {
        window->hide();
        emit window->tray()->activated(c.reason);
        EXPECT_EQ(window->isVisible(), c.shows) << c.reason;
    }
    window->showMinimized();
    emit window->tray()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());

    window->hide();
    menu->actions().first()->trigger();
    EXPECT_TRUE(window->isVisible());

    // The window's destruction takes the icon and its menu with it.
    QPointer<QMenu> watch(menu);
    closeWindow();
    EXPECT_TRUE(watch.isNull());
}

// The device-change messages the main window reads, as the platform sends them.
struct Broadcast {
    explicit Broadcast(const QString& name, DWORD type = DBT_DEVTYP_DEVICEINTERFACE)
        : storage((sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + size_t(name.size()) * 2 + 2) / 2 + 1, 0)
    {
        auto* b = get();
        b->dbcc_size = DWORD(storage.size() * 2);
        b->dbcc_devicetype = type;
        std::copy(name.utf16(), name.utf16() + name.size(), b->dbcc_name);
    }
    DEV_BROADCAST_DEVICEINTERFACE_W* get() { return reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data()); }
    std::vector<char16_t> storage;
};

struct DeviceChangeCase {
    const char* name;
    WPARAM event;
    const char* deviceName;
    DWORD type;
    int arrivals, removals;
};

const DeviceChangeCase kDeviceChanges[] = {
    {"Arrival", DBT_DEVICEARRIVAL, "\\\\?\\USB#VID_046D&PID_C52B#5&2b1d&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", 5,
     1, 0},
    {"Removal", DBT_DEVICEREMOVECOMPLETE, "\\\\?\\USB#VID_046D&PID_C52B#5&2b1d&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
     5, 0, 1},
    // The vendor and product parts are taken as they stand, up to four characters each.
    {"ShortProductPart", DBT_DEVICEARRIVAL, "USB#VID_1A2C&PID_0E#x", 5, 1, 0},
    {"EmptyParts", DBT_DEVICEARRIVAL, "USB#VID_&PID_#x", 5, 1, 0},
    // Lower-case parts, no parts or another device type: nothing.
    {"LowerCaseParts", DBT_DEVICEARRIVAL, "\\\\?\\USB#vid_046d&pid_c52b#x", 5, 0, 0},
    {"NoParts", DBT_DEVICEARRIVAL, "\\\\?\\HID#KEYBOARD#x", 5, 0, 0},
    {"VolumeType", DBT_DEVICEARRIVAL, "\\\\?\\USB#VID_046D&PID_C52B#x", DBT_DEVTYP_VOLUME, 0, 0},
    // Other events are traced only.
    {"RemovePending", DBT_DEVICEREMOVEPENDING, "\\\\?\\USB#VID_046D&PID_C52B#x", 5, 0, 0},
    {"NodesChanged", DBT_DEVNODES_CHANGED, "\\\\?\\USB#VID_046D&PID_C52B#x", 5, 0, 0},
};

class DeviceChangeTest : public WindowTest, public ::testing::WithParamInterface<DeviceChangeCase> {};

TEST_P(DeviceChangeTest, DeviceChangeMessagesTellThePages)
{
    const DeviceChangeCase& c = GetParam();
    openWindow();
    const HWND hwnd = static_cast<HWND>(window->winId());
    const int arrivals = devicesChanged(2), removals = devicesChanged(1);
    Broadcast b(c.deviceName, c.type);
    // The window lets the platform go on with the message.
    EXPECT_FALSE(win32sim::dispatchQueuedMessage(hwnd, WM_DEVICECHANGE, c.event, reinterpret_cast<LPARAM>(b.get())));
    cef_test::WaitForIdle();
    EXPECT_EQ(devicesChanged(2) - arrivals, c.arrivals);
    EXPECT_EQ(devicesChanged(1) - removals, c.removals);
}

INSTANTIATE_TEST_SUITE_P(Messages, DeviceChangeTest, ::testing::ValuesIn(kDeviceChanges), test_support::RowName());

using Props = std::map<std::string, std::string>;

struct UsbEvent {
    const char* name;
    Props props;
    int arrivals, removals;
};

void PrintTo(const UsbEvent& row, std::ostream* os) { *os << row.name; }

class UsbEventTest : public WindowTest, public ::testing::WithParamInterface<UsbEvent> {};

TEST_P(UsbEventTest, UsbDevicesAddedAndRemovedReachThePages)
{
    const UsbEvent& c = GetParam();
    openWindow();
    window->winId();
    app->registerUsbNotification();
    const int arrivals = devicesChanged(2), removals = devicesChanged(1);
    win32sim::injectDeviceEvent(c.props);
    cef_test::WaitForIdle();
    EXPECT_EQ(devicesChanged(2) - arrivals, c.arrivals);
    EXPECT_EQ(devicesChanged(1) - removals, c.removals);
}

INSTANTIATE_TEST_SUITE_P(
    Events, UsbEventTest,
    ::testing::Values(
        UsbEvent{"Added",
                 {{"ACTION", "add"}, {"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"}, {"ID_VENDOR_ID", "046d"},
                  {"ID_MODEL_ID", "c52b"}, {"ID_SERIAL_SHORT", "ABC"}},
                 1, 0},
        UsbEvent{"Removed",
                 {{"ACTION", "remove"}, {"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"}, {"PRODUCT", "46d/c52b/1201"},
                  {"DEVPATH", "/devices/pci0000:00/usb1/1-2"}},
                 0, 1},
        // Not a device add or remove, not a whole USB device, no ids: nothing.
        UsbEvent{"Bound",
                 {{"ACTION", "bind"}, {"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"}, {"PRODUCT", "46d/c52b/1201"}},
                 0, 0},
        UsbEvent{"AnInterface",
                 {{"ACTION", "add"}, {"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_interface"}, {"PRODUCT", "46d/c52b/1201"}},
                 0, 0},
        UsbEvent{"OtherSubsystem",
                 {{"ACTION", "add"}, {"SUBSYSTEM", "hid"}, {"DEVTYPE", "usb_device"}, {"PRODUCT", "46d/c52b/1201"}},
                 0, 0},
        UsbEvent{"NoIds", {{"ACTION", "add"}, {"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"}}, 0, 0},
        UsbEvent{"IdsNotHexadecimal",
                 {{"ACTION", "add"}, {"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"}, {"PRODUCT", "zz/c52b/1"}}, 0, 0}),
    test_support::RowName());

TEST_F(WindowTest, UsbDevicesAddedAndRemovedReachThePagesThroughTheRegistration)
{
    openWindow();
    window->winId();
    const int registrations = win32sim::deviceNotificationCount();
    app->registerUsbNotification();
    EXPECT_EQ(win32sim::deviceNotificationCount(), registrations + 1);

    // The name carries the ids in upper case, four digits each.
    class NameWindow : public QWidget {
    public:
        QStringList names;

    protected:
        bool nativeEvent(const QByteArray&, void* message, long*) override
        {
            const MSG* m = static_cast<const MSG*>(message);
            if (m->message == WM_DEVICECHANGE)
                names << QString::fromUtf16(reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(m->lParam)->dbcc_name);
            return false;
        }
    } listener;
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
    HDEVNOTIFY handle = RegisterDeviceNotificationW(reinterpret_cast<HANDLE>(listener.winId()), &filter, 0);
    ASSERT_TRUE(handle);
    win32sim::injectDeviceEvent({{"ACTION", "add"}, {"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"},
                                 {"PRODUCT", "46d/c52b/1201"}, {"DEVPATH", "/devices/usb1/1-2"}});
    win32sim::injectDeviceEvent({{"ACTION", "add"}, {"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"},
                                 {"ID_VENDOR_ID", "1a2c"}, {"ID_MODEL_ID", "e24"}, {"ID_SERIAL_SHORT", "S#1"}});
    EXPECT_EQ(listener.names, (QStringList{"\\\\?\\USB#VID_046D&PID_C52B#1-2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
                                           "\\\\?\\USB#VID_1A2C&PID_0E24#S&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"}));
    EXPECT_TRUE(UnregisterDeviceNotification(handle));
    EXPECT_FALSE(UnregisterDeviceNotification(handle));
    win32sim::injectDeviceEvent({{"ACTION", "remove"}, {"SUBSYSTEM", "usb"}, {"DEVTYPE", "usb_device"},
                                 {"PRODUCT", "46d/c52b/1201"}});
    EXPECT_EQ(listener.names.size(), 2);

    // A filter that is no device-interface filter, or a handle of no window, is refused.
    DEV_BROADCAST_HDR volume{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_VOLUME, 0};
    EXPECT_FALSE(RegisterDeviceNotificationW(reinterpret_cast<HANDLE>(listener.winId()), &volume, 0));
    EXPECT_FALSE(RegisterDeviceNotificationW(reinterpret_cast<HANDLE>(uintptr_t(0x7fff0001)), &filter, 0));
    EXPECT_FALSE(RegisterDeviceNotificationW(reinterpret_cast<HANDLE>(listener.winId()), nullptr, 0));
}

// The window with its virtual device connected and its macro workers on a clock of the test's.
class MacroWindowTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        openWindow();
        ASSERT_TRUE(test_support::writeFile(path("Resources/define.xml"),
                                            "<keyboard><key value=\"A\" hidCode=\"04\"/><key value=\"B\" hidCode=\"05\"/>"
                                            "</keyboard>"));
        ASSERT_TRUE(app->loadDefine());
        win32sim::resetDeviceTree();
        handles = win32sim::openHandleCount();
        clock->mark = test_support::reportCount;
        window->setMacroClock(clock);
        // The simulated virtual device is there: connecting needs nothing set by hand.
        window->connectVMulti();
        ASSERT_TRUE(window->GetVirtualDeviceStatus());
        EXPECT_EQ(win32sim::openHandleCount(), handles + 2);
        win32sim::clearVirtualHid();
    }
    static MacroTask task(int playType, int playCount, const QList<MacroAction>& actions)
    {
        MacroTask t;
        t.playType = playType;
        t.playCount = playCount;
        t.actions = actions;
        return t;
    }
    bool idle()
    {
        return test_support::waitFor([&] {
            commandExec* worker = window->macroWorker();
            return worker && worker->isIdle();
        });
    }

    std::shared_ptr<test_support::FakeMacroClock> clock = std::make_shared<test_support::FakeMacroClock>();
    int handles = 0;
};

TEST_F(MacroWindowTest, TasksFromAnyThreadReachOneWorkerInTheOrderHandedOver)
{
    std::thread capture([&] {
        window->runTask(task(0, 1, {{"keybroad", "04"}}), nullptr, 0);
        window->runTask(task(0, 1, {{"keybroad", "04"}}), nullptr, 1);
        window->runTask(task(2, 2, {{"mouse", "4"}}), nullptr, 1);
    });
    capture.join();
    // Made at once on the capture thread; the thread object belongs to the GUI thread.
    ASSERT_TRUE(window->macroThread());
    QThread* thread = window->macroThread();
    commandExec* worker = window->macroWorker();
    EXPECT_EQ(thread->thread(), QCoreApplication::instance()->thread());
    EXPECT_EQ(worker->thread(), thread);
    ASSERT_TRUE(idle());
    // The press before its release; release reports, and the all-keys-up after each task, come
    // in between.
    QStringList pressed;
    const QStringList r = test_support::reports();
    for (const QString& report : r)
        if (report != "k00:00" && report != "m00:00")
            pressed << report;
    EXPECT_EQ(pressed, (QStringList{"k00:04", "m04:00", "m04:00"})) << r.join(' ').toStdString();
    EXPECT_EQ(r.first(), "k00:04");
    EXPECT_LT(r.indexOf("k00:00"), r.indexOf("m04:00"));
    EXPECT_EQ(win32sim::virtualHidState().keys[0], 0);
    EXPECT_EQ(win32sim::virtualHidState().relativeButtons, 0);

    // A stop from another thread ends a repeating task at once.
    clock->setRunsOnItsOwn(false);
    const size_t before = test_support::reportCount();
    window->runTask(task(1, 0, {{"mouse", "1"}}), nullptr, 0);
    ASSERT_TRUE(test_support::waitFor([&] { return clock->sleeping(); }));
    std::thread([&] { window->stopOutput(); }).join();
    ASSERT_TRUE(idle());
    EXPECT_TRUE(test_support::reports(before).join(' ').startsWith("m01:00 k00:00 m00:00"));
    EXPECT_EQ(window->macroWorker(), worker);

    // The worker is ended when the capture thread starts, and deleted with its thread.
    QPointer<QThread> watchThread(thread);
    QPointer<commandExec> watchWorker(worker);
    window->startDeviceFilter();
    QPointer<QThread> filterThread(window->filterThread());
    EXPECT_TRUE(filterThread);
    EXPECT_FALSE(window->macroThread());
    ASSERT_TRUE(test_support::waitFor([&] { return watchThread.isNull() && watchWorker.isNull(); }));
    closeWindow();
    EXPECT_TRUE(filterThread.isNull());
    // The window's end disconnected the device.
    EXPECT_EQ(win32sim::openHandleCount(), handles);
}

TEST_F(MacroWindowTest, AMacroTextPlaysItsKeysWithTheJitteredDelayThenAllKeysUp)
{
    clock->useSystemChance();
    window->playActions("按下(A)延迟(50)弹起(A)");
    ASSERT_TRUE(test_support::waitFor([] { return test_support::reportCount() == 3; }));
    ASSERT_TRUE(idle());
    QCoreApplication::processEvents();
    EXPECT_EQ(test_support::reports().join(' '), "k00:04 k00:00 k00:00");
    const std::vector<test_support::FakeMacroClock::Sleep> sleeps = clock->sleeps();
    ASSERT_EQ(sleeps.size(), 1u);
    EXPECT_EQ(sleeps[0].mark, 1u); // between the press and the release
    EXPECT_GE(sleeps[0].ms, 41);
    EXPECT_LE(sleeps[0].ms, 59);
    EXPECT_EQ(window->macroWorker()->thread(), window->macroThread());
    EXPECT_EQ(window->macroThread()->thread(), QCoreApplication::instance()->thread());

    // Key names in any letter case; an unknown key gives nothing.
    window->playActions("按下(b)按下(Nokey)弹起(b)");
    ASSERT_TRUE(test_support::waitFor([] { return test_support::reportCount() == 6; }));
    EXPECT_EQ(test_support::reports(3).join(' '), "k00:05 k00:00 k00:00");
}

TEST_F(MacroWindowTest, ASecondMacroTextStopsTheFirstAndPlaysOnce)
{
    clock->setRunsOnItsOwn(false);
    window->playActions("按下(A)延迟(1000)弹起(A)");
    ASSERT_TRUE(test_support::waitFor([&] { return clock->sleeping(1); }));
    window->playActions("按下(B)");
    ASSERT_TRUE(idle());
    ASSERT_TRUE(test_support::waitFor([] { return test_support::reports().last() == "k00:00"; }));
    // The first ends with its release reports before the second plays; all keys up after it.
    const QStringList r = test_support::reports();
    EXPECT_EQ(r.mid(0, 4).join(' '), "k00:04 k00:00 m00:00 k00:05") << r.join(' ').toStdString();
    for (const QString& report : r.mid(4))
        EXPECT_EQ(report, "k00:00");
    EXPECT_EQ(clock->sleeps().size(), 1u);
}

TEST_F(MacroWindowTest, ASingleKeyPressedOnThePressStaysPressedUntilItsRelease)
{
    window->runTask(task(0, 1, {{"keybroad", "04"}}), nullptr, 0);
    ASSERT_TRUE(idle());
    // The all-keys-up after the task does not turn the press into a tap.
    window->onTaskFinished(nullptr);
    EXPECT_EQ(win32sim::virtualHidState().keys[0], 0x04);
    window->runTask(task(0, 1, {{"keybroad", "04"}}), nullptr, 1);
    ASSERT_TRUE(test_support::waitFor([] { return win32sim::virtualHidState().keys[0] == 0; }));
    // A macro's keys are released after it.
    window->runTask(task(0, 1, {{"down", "05"}}), nullptr, 0);
    ASSERT_TRUE(test_support::waitFor([] { return test_support::reports().contains("k00:05"); }));
    ASSERT_TRUE(idle());
    window->onTaskFinished(nullptr);
    EXPECT_EQ(win32sim::virtualHidState().keys[0], 0);
}

// The desktop's URL handler, recording what it is given and on which thread.
class UrlRecorder : public DesktopServices {
public:
    explicit UrlRecorder(std::vector<std::pair<QUrl, QThread*>>* opened)
        : m_opened(opened)
    {
    }
    QString getSaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString getOpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    bool openUrl(const QUrl& url) override
    {
        m_opened->push_back({url, QThread::currentThread()});
        return true;
    }

private:
    std::vector<std::pair<QUrl, QThread*>>* m_opened;
};

TEST_F(MacroWindowTest, AShortcutIsOpenedByTheDesktopOnTheGuiThread)
{
    std::vector<std::pair<QUrl, QThread*>> opened;
    window->setDesktopServices(std::make_unique<UrlRecorder>(&opened));
    const QString path = "/opt/games/a#1.lnk";
    window->runTask(task(0, 1, {{"shortcut", path}}), nullptr, 0);
    ASSERT_TRUE(test_support::waitFor([&] { return !opened.empty(); }));
    EXPECT_EQ(opened[0].first, QUrl::fromLocalFile(path));
    EXPECT_EQ(opened[0].second, QCoreApplication::instance()->thread());
}

// A worker stuck past the shut-down's wait still writes through the client: the client stays
// connected until the worker's thread has ended.
TEST_F(MacroWindowTest, ShutDownKeepsTheClientForAWorkerThatDidNotEnd)
{
    clock->setRunsOnItsOwn(false);
    clock->hold();
    window->runTask(task(0, 1, {{"down", "04"}, {"delayTime", "100"}, {"up", ""}}), nullptr, 0);
    ASSERT_TRUE(test_support::waitFor([&] { return clock->sleeping(1); }));
    QPointer<QThread> thread(window->macroThread());
    closeWindow();
    EXPECT_TRUE(thread);
    EXPECT_EQ(win32sim::openHandleCount(), handles + 2);
    const size_t before = test_support::reportCount();
    clock->letGo();
    ASSERT_TRUE(test_support::waitFor([&] { return thread.isNull() && win32sim::openHandleCount() == handles; }));
    EXPECT_EQ(test_support::reports(before).join(' '), "k00:00 m00:00");
}

TEST_F(WindowTest, TheWindowsEndWaitsForItsWorkers)
{
    openWindow();
    window->connectVMulti();
    ASSERT_TRUE(window->GetVirtualDeviceStatus());
    window->playActions("延迟(10)");
    window->startDeviceFilter();
    window->playActions("延迟(10)");
    QPointer<QThread> task(window->macroThread()), filter(window->filterThread());
    QPointer<commandExec> worker(window->macroWorker());
    ASSERT_TRUE(task && filter && worker);
    closeWindow();
    EXPECT_TRUE(task.isNull());
    EXPECT_TRUE(worker.isNull());
    EXPECT_TRUE(filter.isNull());
}

TEST_F(WindowTest, AutostartEntryOnTheRegistry)
{
    openWindow();
    const QString run = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
    win32sim::clearRegistry();
    exeDirPath() = "/opt/tm/";
    // The key cannot be opened: nothing happens.
    window->setAutoStart(true);
    EXPECT_FALSE(win32sim::registryString(HKEY_LOCAL_MACHINE, run, "velmora"));
    win32sim::createRegistryKey(HKEY_LOCAL_MACHINE, run, 0);
    window->setAutoStart(true);
    EXPECT_FALSE(win32sim::registryString(HKEY_LOCAL_MACHINE, run, "velmora"));

    win32sim::createRegistryKey(HKEY_LOCAL_MACHINE, run, KEY_SET_VALUE);
    window->setAutoStart(true);
    EXPECT_EQ(win32sim::registryString(HKEY_LOCAL_MACHINE, run, "velmora").value_or("(none)"),
              "\"/opt/tm/Brontivex.exe\" -autostart");
    EXPECT_EQ(win32sim::openRegistryKeys(), 0);
    window->setAutoStart(false);
    EXPECT_FALSE(win32sim::registryString(HKEY_LOCAL_MACHINE, run, "velmora"));
    EXPECT_EQ(win32sim::openRegistryKeys(), 0);
    win32sim::clearRegistry();
    exeDirPath().clear();
}

TEST_F(WindowTest, DeviceHotKeysAndTheDebugToolOpenPopups)
{
    openWindow("<client LoadPath=\"" + QString(test_support::startPage()) + "\" testToolRurl=\"/tools/test.html\" testToolSize=\"800,600\"/>"
               "<conf deviceId=\"046DC52B\"><productInfo device=\"m1\"/></conf>");
    QString dirNoSlash = programDir();

    // No device has a hot-key entry: nothing is registered.
    window->setDeviceHotKey("046DC52B", "Ctrl+Alt+M");
    EXPECT_TRUE(window->hotKeys().isEmpty());
    window->addHotKeyEntry("046DC52B");
    window->setDeviceHotKey("046DC52B", "Ctrl+Alt+M");
    ASSERT_TRUE(window->hotKeys().value("046DC52B"));
    // The system grants no global shortcut here.
    EXPECT_EQ(window->hotKeyTexts().value("046DC52B"), qMakePair(QString("Ctrl+Alt+M"), QString("0")));
    emit window->hotKeys().value("046DC52B")->activated();
    const QString device = "file:///" + dirNoSlash + "/view/device/m1/seting.html";
    ASSERT_TRUE(window->popups().value(device));
    EXPECT_EQ(window->popups().value(device)->size(), onScreen(QSize(1000, 600)));

    window->showDebug();
    const QString tool = "file:///" + dirNoSlash + "/tools/test.html";
    ASSERT_TRUE(window->popups().value(tool));
    EXPECT_EQ(window->popups().value(tool)->size(), onScreen(QSize(800, 600)));
    EXPECT_EQ(g_handler->GetListener(), static_cast<ClientHandler::Listener*>(window->popups().value(tool)->webView()));
    window->showDebug();
    EXPECT_EQ(window->popups().size(), 2);
}

// The device id a hot key belongs to is compared with conf.xml's ids, never written into the
// query; a settings page outside the program folder is not opened.
TEST_F(WindowTest, HotKeysOpenOnlyTheirOwnDevicesPageInTheProgramFolder)
{
    openWindow("<client LoadPath=\"" + QString(test_support::startPage()) + "\"/>"
               "<conf deviceId=\"046DC52B\"><productInfo device=\"m1\"/></conf>"
               "<conf deviceId=\"out\"><productInfo device=\"../../../x\"/></conf>"
               "<conf deviceId=\"escaped\"><productInfo device=\"%2e%2e/%2e%2e/%2e%2e/x\"/></conf>");
    const QString ids[] = {"x' or '1'='1", "046DC52B' or @deviceId='046DC52B", QString("046DC52B") + QChar(0) + "x",
                           "out", "escaped"};
    for (const QString& id : ids) {
        SCOPED_TRACE(id.toStdString());
        window->addHotKeyEntry(id);
        window->setDeviceHotKey(id, "F2");
        ASSERT_TRUE(window->hotKeys().value(id));
        emit window->hotKeys().value(id)->activated();
        EXPECT_TRUE(window->popups().isEmpty());
    }
}

// The quit paths: each ends the event loop once and writes the changed page files back. A process
// quits once, so each of these runs in a process of its own.
class QuitTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        openWindow();
        app->psInstallEventFilter();
        window->winId();
        window->initWindow();
        ASSERT_EQ(window->modifyCachedFile(path("a.xml"), "<a/>"), PageFileCache::Result::Ok);
        ASSERT_EQ(window->modifyCachedFile(path("a.xml"), "<b/>"), PageFileCache::Result::Ok);
    }
    QByteArray written() const { return test_support::readFile(path("a.xml")); }

    // Runs the event loop with trigger called in its first turn: true when the loop ended through
    // the program's quit, false when it had to be ended after a generous bound.
    bool quitsAfter(const std::function<void()>& trigger)
    {
        QTimer::singleShot(0, trigger);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(20000);
        return QCoreApplication::exec() == 0 && isQuitRequested();
    }
    // A page command as the query handler forwards it, with its one reference added by hand.
    void send(const QString& request)
    {
        CefRefPtr<test_support::RecordingCallback> callback = new test_support::RecordingCallback;
        callback->AddRef();
        window->onJsMessage(request, callback);
        answers.push_back(callback);
    }
    std::vector<CefRefPtr<test_support::RecordingCallback>> answers;
};

TEST_F(QuitTest, TheTrayQuitsOnceAndWritesBack)
{
    if (test_support::ranInOwnProcess())
        return;
    window->initSystemTray();
    QAction* quit = window->tray()->contextMenu()->actions().last();
    int aboutToQuit = 0;
    QObject::connect(app, &QCoreApplication::aboutToQuit, window, [&] { ++aboutToQuit; });
    EXPECT_TRUE(quitsAfter([&] {
        quit->trigger();
        quit->trigger();
    }));
    EXPECT_EQ(aboutToQuit, 1);
    EXPECT_EQ(written(), QByteArray("<?xml version=\"1.0\"?>\n<b />\n"));
}

TEST_F(QuitTest, TheEndOfTheSessionQuitsAndWritesBack)
{
    if (test_support::ranInOwnProcess())
        return;
    // The session's end quits whatever wParam says.
    EXPECT_TRUE(quitsAfter([&] { win32sim::dispatchQueuedMessage(window->psHwnd(), WM_ENDSESSION, FALSE, 0); }));
    EXPECT_EQ(written(), QByteArray("<?xml version=\"1.0\"?>\n<b />\n"));
}

TEST_F(QuitTest, CloseAppQuitsAndWritesBack)
{
    if (test_support::ranInOwnProcess())
        return;
    EXPECT_TRUE(quitsAfter([&] { send(R"({"FuncName":"CloseApp"})"); }));
    EXPECT_EQ(written(), QByteArray("<?xml version=\"1.0\"?>\n<b />\n"));
    ASSERT_EQ(answers.size(), 1u);
    ASSERT_EQ(answers[0]->answers().size(), 1u);
    EXPECT_EQ(answers[0]->answers()[0].text, "modify conf sucess");
}

TEST_F(QuitTest, CloseXWithCloseappQuitsAndWritesBack)
{
    if (test_support::ranInOwnProcess())
        return;
    ASSERT_TRUE(test_support::writeFile(path("Resources/conf.xml"), "<root><client CloseFunc=\"Closeapp\"/></root>"));
    EXPECT_TRUE(quitsAfter([&] { send(R"({"FuncName":"CloseX"})"); }));
    EXPECT_EQ(written(), QByteArray("<?xml version=\"1.0\"?>\n<b />\n"));
    ASSERT_EQ(answers.size(), 1u);
    ASSERT_EQ(answers[0]->answers().size(), 1u);
    EXPECT_EQ(answers[0]->answers()[0].text, "modify conf sucess");
}

} // namespace
