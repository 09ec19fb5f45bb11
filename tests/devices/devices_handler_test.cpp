// The vendor library binding against the simulated libraries: entry points, the device-event
// counter, the data callback and the refresh on events.
#include "page_events.h"
#include "test_app.h"
#include "test_files.h"
#include "vqsim_devices.h"
#include "wait.h"
#include "win32sim/cursor.h"

#include "app/window.h"
#include "cefclient/client_handler.h"
#include "devices/device_filter.h"
#include "devices/device_functions.h"
#include "devices/devices_handler.h"

#include "win32sim/device_tree.h"

#include "include/base/cef_logging.h"
#include "cef_extras/logging.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QThread>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

const int kWaitMs = 5000;

std::u16string u16(const char* text)
{
    QString s = QString::fromUtf8(text);
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size()));
}

class BindingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication::get();
        ASSERT_TRUE(vqsim().loaded());
        sim = std::make_unique<SimDevices>();
        handler = pageEvents.handler();
        logPath = logDir.filePath(QStringLiteral("app.log"));
        cef_logging::SetLogDestination(logPath.toStdString(), LOGSEVERITY_INFO);
    }
    void TearDown() override
    {
        vqsim().waitIdle(kWaitMs);
        vqsim().shutdown();
        TestApplication::get()->setMainWindow(nullptr);
        delete window;
        window = nullptr;
        cef_logging::SetLogDestination(std::string(), LOGSEVERITY_INFO);
        TestApplication::get()->setInputDevices(InputDeviceList());
        sim.reset();
    }

    // The window registered as the main window: five registrations (its two device objects, its list
    // reader and the two of its description handler).
    void makeWindow()
    {
        window = new Window();
        TestApplication::get()->setMainWindow(window);
    }

    int devicesChangedCount(int code = -1) const
    {
        int n = 0;
        for (const test_support::PageEvent& e : pageEvents.events())
            if (e.name == QLatin1String("devicesChanged") && (code < 0 || e.args.value(0).toInt() == code))
                ++n;
        return n;
    }

    // The counter values of the "device event" log lines, in order.
    std::vector<int> loggedCounters() const
    {
        std::vector<int> out;
        const QRegularExpression re(QStringLiteral("==================device event:(\\d+)"));
        for (const QByteArray& line : test_support::readFile(logPath).split('\n')) {
            QRegularExpressionMatch m = re.match(QString::fromUtf8(line));
            if (m.hasMatch())
                out.push_back(m.captured(1).toInt());
        }
        return out;
    }

    test_support::MainBrowserEvents pageEvents;
    std::unique_ptr<SimDevices> sim;
    CefRefPtr<ClientHandler> handler;
    Window* window = nullptr;
    QTemporaryDir logDir;
    QString logPath;
};

TEST_F(BindingTest, LoadsBothLibrariesAndRegistersOncePerInstance)
{
    devices_handler first;
    EXPECT_TRUE(first.hasRgbDevice());
    EXPECT_EQ(vqsim().eventRegistrations(), 1);
    devices_handler second;
    EXPECT_EQ(vqsim().eventRegistrations(), 2);
    EXPECT_EQ(simCalls("vqOnDeviceEvent"), 2);
}

TEST_F(BindingTest, GetDevicesPassesTheUsageFilterAndRegistersTheFirstDeviceForData)
{
    devices_handler binding;
    vqsim().clearCalls();
    DeviceInfoList list = binding.getDevices();
    EXPECT_EQ(list.bytes[0] | (list.bytes[1] << 8), 2);
    // The simulated library lists only devices whose usage page is in the filter: both are.
    EXPECT_EQ(simCalls("vqDevices"), 1);
    EXPECT_EQ(lastSimCall("vqDevices").length, 42102);
    VqSimCall data = lastSimCall("vqonDeviceData");
    EXPECT_STREQ(data.id, kMouseId);
    EXPECT_EQ(data.arg, 0x1016);
    EXPECT_EQ(data.result, 0);
    binding.getDevices();
    EXPECT_EQ(simCalls("vqonDeviceData"), 2);
}

TEST_F(BindingTest, NoDataRegistrationWithoutDevices)
{
    SimDevices none(QStringLiteral("# no devices\n"));
    devices_handler binding;
    DeviceInfoList list = binding.getDevices();
    EXPECT_EQ(list.bytes[0], 0);
    EXPECT_EQ(simCalls("vqonDeviceData"), 0);
}

TEST_F(BindingTest, WrappersJudgeResultsAndPassArguments)
{
    devices_handler binding;
    const std::u16string mouse = u16(kMouseId);
    DeviceBlock block;
    block.bytes[0] = 0x11;
    block.bytes[1] = 0x22;
    EXPECT_TRUE(binding.writeProp(mouse.c_str(), block, 2, 77));
    DeviceBlock back = binding.readProp(mouse.c_str(), 2, 77);
    EXPECT_EQ(back.bytes[0], 0x11);
    EXPECT_EQ(back.bytes[1], 0x22);
    EXPECT_EQ(back.bytes[2], 0);

    EXPECT_TRUE(binding.write(mouse.c_str(), block, 2, 0x100));
    EXPECT_EQ(binding.read(mouse.c_str(), 2, 0x100).bytes[1], 0x22);

    EXPECT_TRUE(binding.reset(mouse.c_str(), 2, 0));
    EXPECT_EQ(lastSimCall("vqReset").code, 2);
    EXPECT_FALSE(binding.reset(mouse.c_str(), 3, 1)); // code 259 is refused
    EXPECT_EQ(lastSimCall("vqReset").code, 259);

    vqsim().failNext("vqWriteProp");
    EXPECT_FALSE(binding.writeProp(mouse.c_str(), block, 2, 77));
    EXPECT_FALSE(binding.writeProp(u"", block, 2, 77));
    EXPECT_FALSE(binding.writeProp(u"HID\\VID_0000&PID_0000", block, 2, 77));

    EXPECT_TRUE(binding.deviceExist(mouse.c_str()));
    EXPECT_FALSE(binding.deviceExist(u"nothing"));
    EXPECT_TRUE(binding.eraseRom(mouse.c_str()));
    EXPECT_EQ(binding.checkRom(mouse.c_str(), 4, 5), 0);
    EXPECT_EQ(lastSimCall("vqCheckRom").code, 4);
    EXPECT_EQ(lastSimCall("vqCheckRom").arg, 5);
    EXPECT_EQ(binding.bornRom(mouse.c_str(), block, 1, 2), 0);
    EXPECT_TRUE(binding.notify(mouse.c_str(), u"", uint16_t(9)));
    EXPECT_EQ(lastSimCall("vqNotify").code, 9);
    EXPECT_EQ(lastSimCall("vqNotify").length, 0);
    const uint8_t bytes[3] = {1, 2, 3};
    EXPECT_TRUE(binding.notify(mouse.c_str(), u"", bytes, 3));
    EXPECT_EQ(lastSimCall("vqNotify").code, 7);
    EXPECT_EQ(lastSimCall("vqNotify").length, 3);

    binding.reboot(mouse.c_str());
    EXPECT_EQ(lastSimCall("vqReset").code, 1);
    EXPECT_EQ(simCalls("vqRebootRom"), 0);

    DeviceAnswer answer = binding.ask(mouse.c_str(), u"");
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(answer.bytes)), QByteArray("M1.0;M100000001"));
    EXPECT_EQ(lastSimCall("vqAsk").length, 73);

    const uint8_t sn[14] = {'S', 'N', '9'};
    EXPECT_TRUE(binding.idWrite(mouse.c_str(), u"", sn));
    EXPECT_EQ(lastSimCall("vqIDWrite").code, 3);
    EXPECT_EQ(lastSimCall("vqIDWrite").length, 14);
    answer = binding.ask(mouse.c_str(), u"");
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(answer.bytes)), QByteArray("M1.0;SN9"));
    EXPECT_TRUE(binding.clearId(mouse.c_str(), u""));
    EXPECT_EQ(lastSimCall("vqIDWrite").code, 2);
    EXPECT_EQ(lastSimCall("vqIDWrite").length, 17);

}

TEST_F(BindingTest, FiveRegistrationsActOncePerEvent)
{
    makeWindow();
    ASSERT_EQ(vqsim().eventRegistrations(), 5);

    for (int code : {2, 1, 77})
        vqsim().emitEvent(code);
    ASSERT_TRUE(vqsim().waitIdle(kWaitMs));

    EXPECT_EQ(devicesChangedCount(), 3);
    EXPECT_EQ(devicesChangedCount(2), 1);
    EXPECT_EQ(devicesChangedCount(1), 1);
    EXPECT_EQ(devicesChangedCount(77), 1); // codes pass unchanged
    std::vector<int> counters = loggedCounters();
    ASSERT_EQ(counters.size(), 15u);
    for (size_t i = 1; i < counters.size(); ++i)
        EXPECT_EQ(counters[i], (counters[i - 1] + 1) % 5);
}

// The capture loop's own binding is a sixth registration: six calls per event on a counter of five,
// so one event in five acts twice (two refreshes and two "devicesChanged"), the others once.
TEST_F(BindingTest, TheCaptureLoopsBindingMakesOneEventInFiveActTwice)
{
    makeWindow();
    QThread thread;
    DEVICE_FILTER filter(&thread);
    ASSERT_EQ(vqsim().eventRegistrations(), 6);
    std::vector<int> acted;
    for (int i = 0; i < 5; ++i) {
        const int before = devicesChangedCount();
        vqsim().emitEvent(2);
        ASSERT_TRUE(vqsim().waitIdle(kWaitMs));
        acted.push_back(devicesChangedCount() - before);
    }
    std::sort(acted.begin(), acted.end());
    EXPECT_EQ(acted, (std::vector<int>{1, 1, 1, 1, 2}));
}

TEST_F(BindingTest, OneRegistrationActsOnEveryFifthEvent)
{
    devices_handler one;
    ASSERT_EQ(vqsim().eventRegistrations(), 1);
    std::vector<int> actedAt;
    for (int i = 0; i < 10; ++i) {
        const int before = devicesChangedCount();
        vqsim().emitEvent(i);
        ASSERT_TRUE(vqsim().waitIdle(kWaitMs));
        if (devicesChangedCount() > before)
            actedAt.push_back(i);
    }
    ASSERT_EQ(actedAt.size(), 2u);
    EXPECT_EQ(actedAt[1] - actedAt[0], 5);
    // The logged value is the counter after the event, not the code; it reads 1 after an acting event.
    std::vector<int> counters = loggedCounters();
    ASSERT_EQ(counters.size(), 10u);
    EXPECT_EQ(counters[size_t(actedAt[0])], 1);
}

TEST_F(BindingTest, AnActingEventRefreshesTheWindowsDeviceList)
{
    makeWindow();
    EXPECT_EQ(window->deviceMap().keys(), (QStringList{"K1.0", "M1.0"}));
    vqsim().addDevice("Version=M2.0\nDeviceId=HID\\VID_1A2C&PID_0E40\\1\nDevicePath=p\nUsagePage=0xFFA0\n");
    ASSERT_TRUE(vqsim().waitIdle(kWaitMs));
    EXPECT_EQ(window->deviceMap().keys(), (QStringList{"K1.0", "M1.0", "M2.0"}));
    EXPECT_EQ(devicesChangedCount(2), 1);

    vqsim().removeDevice(kKeyboardId);
    ASSERT_TRUE(vqsim().waitIdle(kWaitMs));
    EXPECT_EQ(window->deviceMap().keys(), (QStringList{"M1.0", "M2.0"}));
    EXPECT_EQ(devicesChangedCount(1), 1);
}

// An acting event rebuilds the list, then tells the page, then reads the input devices anew. The
// handler's lock holds the event at the page's door: meanwhile a reader gets the new list at once,
// and the input devices are still the old ones.
TEST_F(BindingTest, TheListIsRebuiltBeforeThePageIsToldAndTheInputDevicesAfter)
{
    win32sim::resetDeviceTree();
    makeWindow();
    win32sim::addDevices("[device]\nClass=USB\nInstanceId=USB\\VID_1A2C&PID_0E40\\M3\n"
                         "Interface=USB,\\\\?\\usb#vid_1a2c&pid_0e40#m3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}\n"
                         "[device]\nClass=Mouse\nInstanceId=HID\\VID_1A2C&PID_0E40&MI_00\\7&9&0&0000\n"
                         "HardwareId=HID\\VID_1A2C&PID_0E40&MI_00\n");
    std::atomic<bool> stop{false}, listed{false};
    handler->Lock();
    vqsim().addDevice("Version=M2.0\nDeviceId=HID\\VID_1A2C&PID_0E40&MI_01\\1\nDevicePath=p\nUsagePage=0xFFA0\n");
    // On a thread of its own: a reader that waited for the event would never let go.
    std::thread reader([&] {
        while (!stop && !listed)
            listed = window->deviceMap().contains(QStringLiteral("M2.0"));
    });
    const bool listedWhileHeld = test_support::waitFor([&] { return listed.load(); }, kWaitMs);
    const int toldWhileHeld = devicesChangedCount();
    const int inputDevicesWhileHeld = TestApplication::get()->inputDevices().devices.size();
    handler->Unlock();
    stop = true;
    reader.join();
    EXPECT_TRUE(listedWhileHeld);
    EXPECT_EQ(toldWhileHeld, 0);
    EXPECT_EQ(inputDevicesWhileHeld, 0);

    ASSERT_TRUE(vqsim().waitIdle(kWaitMs));
    EXPECT_EQ(devicesChangedCount(2), 1);
    EXPECT_EQ(TestApplication::get()->inputDevices().keys, (QStringList{"1A2C0E24", "1A2C0E30", "1A2C0E40"}));
    win32sim::resetDeviceTree();
}

TEST_F(BindingTest, AnActingEventReplacesThePresentInputDevices)
{
    win32sim::resetDeviceTree();
    makeWindow();
    ASSERT_TRUE(TestApplication::get()->inputDevices().devices.isEmpty());
    // A third mouse in the device tree, and the event the vendor library raises for it.
    win32sim::addDevices("[device]\nClass=USB\nInstanceId=USB\\VID_1A2C&PID_0E40\\M3\n"
                         "Interface=USB,\\\\?\\usb#vid_1a2c&pid_0e40#m3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}\n"
                         "[device]\nClass=Mouse\nInstanceId=HID\\VID_1A2C&PID_0E40&MI_00\\7&9&0&0000\n"
                         "HardwareId=HID\\VID_1A2C&PID_0E40&MI_00\n");
    vqsim().addDevice("Version=M2.0\nDeviceId=HID\\VID_1A2C&PID_0E40&MI_01\\1\nDevicePath=p\nUsagePage=0xFFA0\n");
    ASSERT_TRUE(vqsim().waitIdle(kWaitMs));
    InputDeviceList list = TestApplication::get()->inputDevices();
    EXPECT_EQ(list.keys, (QStringList{"1A2C0E24", "1A2C0E30", "1A2C0E40"}));
    ASSERT_EQ(list.devices.size(), 3);
    EXPECT_EQ(list.devices[2].hardwareId, "HID\\VID_1A2C&PID_0E40&MI_00");

    // Unplugged: the next event's list no longer holds it.
    win32sim::removeDevice("HID\\VID_1A2C&PID_0E40&MI_00\\7&9&0&0000");
    vqsim().removeDevice("HID\\VID_1A2C&PID_0E40&MI_01\\1");
    ASSERT_TRUE(vqsim().waitIdle(kWaitMs));
    EXPECT_EQ(TestApplication::get()->inputDevices().keys, (QStringList{"1A2C0E24", "1A2C0E30"}));
    win32sim::resetDeviceTree();
}

TEST_F(BindingTest, EventBeforeTheMainWindowExistsCountsAndLogs)
{
    // Five registrations, none of them a window; and no window is registered as the main one.
    DeviceFunctions a, b, c, d, e;
    vqsim().emitEvent(2);
    ASSERT_TRUE(vqsim().waitIdle(kWaitMs));
    EXPECT_EQ(loggedCounters().size(), 5u);
    EXPECT_EQ(devicesChangedCount(2), 1);

    // Without a handler either, the event is still only counted.
    g_handler = nullptr;
    vqsim().emitEvent(3);
    ASSERT_TRUE(vqsim().waitIdle(kWaitMs));
    EXPECT_EQ(loggedCounters().size(), 10u);
    g_handler = handler;
    EXPECT_EQ(devicesChangedCount(3), 0);
}

TEST_F(BindingTest, DataReportsBecomeKeyDownAndMouseMove)
{
    makeWindow(); // its list read registers the mouse for data
    const uint8_t key[10] = {0x01, 0x05, 0, 0, 0, 0, 0, 0, 0xAA, 0xBB};
    const uint8_t move[8] = {0x01, 0x08, 0, 0, 0, 0, 0, 0};
    const uint8_t other[8] = {0x01, 0x50, 0, 0, 0, 0, 0, 0};
    const uint8_t tooShort[4] = {0x01, 0x05, 0, 0};
    // The movement is reported from the library's thread with where the pointer is then.
    win32sim::moveCursor(321, 123);
    ASSERT_EQ(vqsim().emitData(kMouseId, key, 10), 0);
    ASSERT_EQ(vqsim().emitData(kMouseId, move, 8), 0);
    ASSERT_EQ(vqsim().emitData(kMouseId, other, 8), 0);
    EXPECT_NE(vqsim().emitData(kMouseId, tooShort, 4), 0); // no device report is that short
    ASSERT_TRUE(vqsim().waitIdle(kWaitMs));

    QList<test_support::PageEvent> events = pageEvents.events();
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0].name, QStringLiteral("keyDown"));
    EXPECT_TRUE(events[0].args.isEmpty());
    EXPECT_EQ(events[1].name, QStringLiteral("mouseMove"));
    EXPECT_EQ(events[1].args, QVariantList{"321,123"});

    // Only the first device is registered for data.
    EXPECT_NE(vqsim().emitData(kKeyboardId, key, 8), 0);
}

TEST_F(BindingTest, DataCallbackFormatsTheFirstEightBytes)
{
    const uint8_t bytes[9] = {0x01, 0x05, 0xAB, 0, 0, 0, 0, 0xFF, 0x12};
    const uint8_t* report = bytes;
    // The length is not read: whatever the library passes, the first 8 bytes make the event.
    for (int32_t length : {9, 8, 0, -1})
        EXPECT_TRUE(deviceDataCallback(&report, length));
    EXPECT_TRUE(deviceDataCallback(nullptr, 8));
    const uint8_t* null = nullptr;
    EXPECT_TRUE(deviceDataCallback(&null, 8));
    ASSERT_EQ(pageEvents.events().size(), 4);
    for (const test_support::PageEvent& e : pageEvents.events())
        EXPECT_EQ(e.name, QStringLiteral("keyDown"));
}

TEST_F(BindingTest, ActingEventReadsTheListAgainFromInsideTheCallback)
{
    // The refresh on the library's thread re-enters vqDevices from inside the callback.
    makeWindow();
    vqsim().clearCalls();
    vqsim().emitEvent(2);
    ASSERT_TRUE(vqsim().waitIdle(kWaitMs));
    EXPECT_EQ(simCalls("vqDevices"), 1);
    EXPECT_EQ(simCalls("vqonDeviceData"), 1);
}

TEST_F(BindingTest, ReadersSeeTheOldOrTheNewListWhole)
{
    makeWindow();
    const char* entry = "Version=M2.0\nDeviceId=HID\\VID_1A2C&PID_0E40\\1\nDevicePath=p\n";
    for (int i = 0; i < 20; ++i) {
        vqsim().addDevice(entry);
        vqsim().removeDevice("HID\\VID_1A2C&PID_0E40\\1");
    }
    int reads = 0;
    do {
        const DeviceMap map = window->deviceMap();
        ASSERT_TRUE(map.size() == 2 || map.size() == 3) << map.size();
        for (const QJsonObject& device : map)
            ASSERT_EQ(device.size(), 7);
        ++reads;
    } while (!vqsim().waitIdle(0) && reads < 1000000);
    ASSERT_TRUE(vqsim().waitIdle(kWaitMs));
    EXPECT_EQ(window->deviceMap().keys(), (QStringList{"K1.0", "M1.0"}));
    EXPECT_EQ(devicesChangedCount(), 40);
}

} // namespace
