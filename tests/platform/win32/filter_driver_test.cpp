// Events, the process heap and priority class, and the simulated keyboard and mouse filter driver,
// through the real-shaped calls and the layer's controls.
#include "windows.h"
#include "win32sim/device_tree.h"
#include "win32sim/faults.h"
#include "win32sim/filter_driver.h"
#include "win32sim/handles.h"
#include "win32sim/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using win32sim::FilterKeyRecord;
using win32sim::FilterMouseRecord;
using win32sim::StrokeRoute;

const DWORD kSetPrecedence = 0x222004, kGetPrecedence = 0x222008, kSetFilter = 0x222010, kGetFilter = 0x222020,
            kSetEvent = 0x222040, kWrite = 0x222080, kRead = 0x222100, kGetHardwareId = 0x222200;

HANDLE openDevice(int device)
{
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\interception%02d", device - 1);
    return CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

class EventsTest : public ::testing::Test {
protected:
    void SetUp() override { handles = win32sim::openHandleCount(); }
    void TearDown() override
    {
        win32sim::clearFaults();
        EXPECT_EQ(win32sim::openHandleCount(), handles);
    }
    int handles = 0;
};

TEST_F(EventsTest, WaitsAnswerTheLowestSignalledEventAndResetOnlyAutoResetOnes)
{
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE automatic = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(manual && automatic);
    HANDLE both[] = {manual, automatic};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(automatic));
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT); // reset by the wait
    EXPECT_TRUE(SetEvent(manual));
    EXPECT_TRUE(SetEvent(automatic));
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0); // stays signalled
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);

    // A wait without time limit ends when another thread signals.
    std::thread signaller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(manual);
    });
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, INFINITE), WAIT_OBJECT_0);
    signaller.join();

    // Bad arguments, handles of another kind, and an injected failure.
    HANDLE process = GetCurrentProcess();
    EXPECT_EQ(WaitForMultipleObjects(0, both, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(process));
    win32sim::failNextCall("WaitForMultipleObjects", ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, INFINITE), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "named"), nullptr);
    EXPECT_TRUE(CloseHandle(manual));
    EXPECT_TRUE(CloseHandle(automatic));
    EXPECT_FALSE(SetEvent(manual));
}

TEST_F(EventsTest, HeapBlocksAndPriorityClass)
{
    HANDLE heap = GetProcessHeap();
    auto* zeroed = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 64));
    ASSERT_TRUE(zeroed);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(zeroed[i], 0);
    EXPECT_EQ(win32sim::liveHeapBlocks(), 1);
    EXPECT_TRUE(HeapFree(heap, 0, zeroed));
    EXPECT_FALSE(HeapFree(heap, 0, zeroed)); // not given out any more
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
    win32sim::failNextCall("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(HeapAlloc(heap, 0, 8), nullptr);
    EXPECT_EQ(win32sim::liveHeapBlocks(), 0);

    win32sim::resetProcess();
    HANDLE self = GetCurrentProcess();
    EXPECT_EQ(GetPriorityClass(self), NORMAL_PRIORITY_CLASS);
    EXPECT_TRUE(SetPriorityClass(self, HIGH_PRIORITY_CLASS));
    EXPECT_FALSE(SetPriorityClass(self, 0x1234));
    EXPECT_FALSE(SetPriorityClass(reinterpret_cast<HANDLE>(uintptr_t(8)), NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(GetPriorityClass(self), HIGH_PRIORITY_CLASS);
    EXPECT_EQ(win32sim::priorityClassCalls(), std::vector<DWORD>{HIGH_PRIORITY_CLASS});
    win32sim::resetProcess();
}

class FilterDriverTest : public EventsTest {
protected:
    void SetUp() override
    {
        win32sim::resetDeviceTree();
        EventsTest::SetUp();
    }
    void TearDown() override
    {
        EventsTest::TearDown();
        win32sim::resetDeviceTree();
    }
    // Opens the device with an event set and a filter.
    void attach(int device, uint16_t filter, HANDLE* h, HANDLE* event)
    {
        *h = openDevice(device);
        ASSERT_NE(*h, INVALID_HANDLE_VALUE);
        *event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        uint32_t words[2] = {uint32_t(reinterpret_cast<uintptr_t>(*event)), 0};
        DWORD n = 9;
        ASSERT_TRUE(DeviceIoControl(*h, kSetEvent, words, sizeof words, nullptr, 0, &n, nullptr));
        EXPECT_EQ(n, 0u);
        ASSERT_TRUE(DeviceIoControl(*h, kSetFilter, &filter, sizeof filter, nullptr, 0, &n, nullptr));
    }
    static FilterMouseRecord mouse(uint16_t buttons, int32_t x = 0)
    {
        FilterMouseRecord r;
        r.buttonFlags = buttons;
        r.lastX = x;
        return r;
    }
};

TEST_F(FilterDriverTest, DevicesAreTheTreesKeyboardsThenItsMiceWithTheirHardwareIds)
{
    const std::vector<win32sim::FilterDevice> devices = win32sim::filterDevices();
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0].device, 1);
    EXPECT_EQ(devices[0].instanceId, "HID\\VID_1A2C&PID_0E30&MI_00\\7&4C5D6E7F&0&0000");
    EXPECT_EQ(devices[1].device, 2);
    EXPECT_TRUE(devices[1].instanceId.contains("ZORVA"));
    EXPECT_EQ(devices[2].device, 11);
    EXPECT_EQ(devices[2].instanceId, "HID\\VID_1A2C&PID_0E24&MI_00\\7&3B2A1C4D&0&0000");
    EXPECT_EQ(devices[3].device, 12);
    EXPECT_EQ(win32sim::filterDeviceOf("hid\\zorva&col02\\2&1c0fe9a5&0&0001"), 12);

    // The hardware ids as a multi-string; a short buffer gets what fits, unterminated.
    HANDLE h = openDevice(11);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char16_t id[200];
    std::memset(id, 0xAB, sizeof id);
    DWORD n = 0;
    ASSERT_TRUE(DeviceIoControl(h, kGetHardwareId, nullptr, 0, id, sizeof id, &n, nullptr));
    std::u16string expected;
    for (const QString& s : devices[2].hardwareIds)
        expected += s.toStdU16String() + u'\0';
    expected += u'\0';
    ASSERT_EQ(n, expected.size() * 2);
    EXPECT_EQ(std::u16string(id, n / 2), expected);
    ASSERT_TRUE(DeviceIoControl(h, kGetHardwareId, nullptr, 0, id, 10, &n, nullptr));
    EXPECT_EQ(n, 10u);
    EXPECT_EQ(std::u16string(id, 5), u"HID\\V");
    EXPECT_TRUE(CloseHandle(h));

    // A device without a node has no id; numbers outside 00-19 and an uninstalled driver open nothing.
    h = openDevice(13);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeviceIoControl(h, kGetHardwareId, nullptr, 0, id, sizeof id, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(openDevice(21), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA("\\\\.\\interception5", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    win32sim::setFilterDriverInstalled(false);
    EXPECT_EQ(openDevice(1), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilterDriverTest, FilteredStrokesWaitWithTheEventSignalledUntilTheReadThatTakesTheLast)
{
    HANDLE h, event;
    attach(11, 0x3FF, &h, &event);
    // Movement and the wheel pass the button filter; buttons wait.
    EXPECT_EQ(win32sim::injectMouseStroke(11, mouse(0, 5)), StrokeRoute::Delivered);
    EXPECT_EQ(win32sim::injectMouseStroke(11, mouse(0x400)), StrokeRoute::Delivered);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_EQ(win32sim::injectMouseStroke(11, mouse(0x10, 1)), StrokeRoute::Queued);
    EXPECT_EQ(win32sim::injectMouseStroke(11, mouse(0x20, 2)), StrokeRoute::Queued);
    EXPECT_EQ(win32sim::injectMouseStroke(11, mouse(0x4, 3)), StrokeRoute::Queued);
    EXPECT_EQ(win32sim::injectMouseStroke(13, mouse(0x4)), StrokeRoute::NoDevice);
    EXPECT_EQ(win32sim::injectMouseStroke(1, mouse(0x4)), StrokeRoute::NoDevice);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);

    // Reads take whole records only.
    FilterMouseRecord r[3];
    DWORD n = 0;
    ASSERT_TRUE(DeviceIoControl(h, kRead, nullptr, 0, r, 47, &n, nullptr));
    EXPECT_EQ(n, 24u);
    EXPECT_EQ(r[0], mouse(0x10, 1));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(DeviceIoControl(h, kRead, nullptr, 0, r, sizeof r, &n, nullptr));
    EXPECT_EQ(n, 48u);
    EXPECT_EQ(r[0], mouse(0x20, 2));
    EXPECT_EQ(r[1], mouse(0x4, 3));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(DeviceIoControl(h, kRead, nullptr, 0, r, sizeof r, &n, nullptr));
    EXPECT_EQ(n, 0u);

    // Written records go up as the device's own; what was passed over is there too.
    FilterMouseRecord back[2] = {mouse(0x10, 7), mouse(0x20, 8)};
    ASSERT_TRUE(DeviceIoControl(h, kWrite, back, sizeof back + 5, nullptr, 0, &n, nullptr));
    EXPECT_EQ(n, 48u);
    const std::vector<win32sim::DeliveredStroke> d = win32sim::deliveredStrokes();
    ASSERT_EQ(d.size(), 4u);
    EXPECT_FALSE(d[0].written);
    EXPECT_EQ(d[0].mouse, mouse(0, 5));
    EXPECT_EQ(d[1].mouse, mouse(0x400));
    EXPECT_TRUE(d[2].written);
    EXPECT_EQ(d[2].device, 11);
    EXPECT_EQ(d[3].mouse, mouse(0x20, 8));

    // Requests read back; malformed ones fail.
    uint16_t filter = 0;
    ASSERT_TRUE(DeviceIoControl(h, kGetFilter, nullptr, 0, &filter, sizeof filter, &n, nullptr));
    EXPECT_EQ(filter, 0x3FF);
    int32_t precedence = 7;
    ASSERT_TRUE(DeviceIoControl(h, kSetPrecedence, &precedence, sizeof precedence, nullptr, 0, &n, nullptr));
    precedence = 0;
    ASSERT_TRUE(DeviceIoControl(h, kGetPrecedence, nullptr, 0, &precedence, sizeof precedence, &n, nullptr));
    EXPECT_EQ(precedence, 7);
    EXPECT_FALSE(DeviceIoControl(h, kSetFilter, &precedence, sizeof precedence, nullptr, 0, &n, nullptr));
    EXPECT_FALSE(DeviceIoControl(h, 0x222400, nullptr, 0, nullptr, 0, &n, nullptr));
    win32sim::failNextCall("DeviceIoControl", ERROR_GEN_FAILURE);
    EXPECT_FALSE(DeviceIoControl(h, kGetFilter, nullptr, 0, &filter, sizeof filter, &n, nullptr));
    EXPECT_EQ(n, 0u);

    // Closing the handle that set the event lets waiting strokes go on and clears the filter.
    EXPECT_EQ(win32sim::injectMouseStroke(11, mouse(0x40)), StrokeRoute::Queued);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(win32sim::filterOf(11), 0);
    EXPECT_FALSE(win32sim::hasEvent(11));
    EXPECT_EQ(win32sim::deliveredStrokes().back().mouse, mouse(0x40));
    EXPECT_EQ(win32sim::injectMouseStroke(11, mouse(0x40)), StrokeRoute::Delivered);
    EXPECT_TRUE(CloseHandle(event));
}

TEST_F(FilterDriverTest, KeyboardFiltersTakePressesAndReleasesApart)
{
    HANDLE h, event;
    attach(1, 0x2, &h, &event);
    FilterKeyRecord press;
    press.makeCode = 0x1E;
    FilterKeyRecord release = press;
    release.flags = 0x1 | 0x2;
    EXPECT_EQ(win32sim::injectKeyStroke(1, press), StrokeRoute::Delivered);
    EXPECT_EQ(win32sim::injectKeyStroke(1, release), StrokeRoute::Queued);
    EXPECT_EQ(win32sim::injectKeyStroke(11, release), StrokeRoute::NoDevice);
    FilterKeyRecord r[2];
    DWORD n = 0;
    ASSERT_TRUE(DeviceIoControl(h, kRead, nullptr, 0, r, sizeof r, &n, nullptr));
    ASSERT_EQ(n, 12u);
    EXPECT_EQ(r[0], release);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(CloseHandle(event));
}

TEST_F(FilterDriverTest, TheVirtualMouseComesBackAsStrokesOfItsDevice)
{
    HANDLE h, event;
    attach(12, 0x7FF, &h, &event);
    HANDLE control = CreateFileA("\\\\?\\hid#zorva&col03#2&1c0fe9a5&0&0002#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                                 GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(control, INVALID_HANDLE_VALUE);
    const auto relative = [&](uint8_t buttons, int8_t wheel) {
        uint8_t report[65] = {0x40, 5, 4, buttons, 0, 0, uint8_t(wheel)};
        DWORD written = 0;
        return WriteFile(control, report, sizeof report, &written, nullptr);
    };
    ASSERT_TRUE(relative(0x04, 0)); // middle pressed
    ASSERT_TRUE(relative(0x04, 0)); // no change: no stroke
    ASSERT_TRUE(relative(0x01, 0)); // middle released, left pressed
    ASSERT_TRUE(relative(0x01, -1));
    FilterMouseRecord r[4];
    DWORD n = 0;
    ASSERT_TRUE(DeviceIoControl(h, kRead, nullptr, 0, r, sizeof r, &n, nullptr));
    ASSERT_EQ(n, 72u);
    EXPECT_EQ(r[0].buttonFlags, 0x10);
    EXPECT_EQ(r[1].buttonFlags, 0x20 | 0x01);
    EXPECT_EQ(r[2].buttonFlags, 0x400);
    EXPECT_EQ(int16_t(r[2].buttonData), -120);
    EXPECT_TRUE(CloseHandle(control));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(CloseHandle(event));
}

} // namespace
