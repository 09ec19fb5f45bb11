// Device handles, the HID calls and the simulated virtual HID device.
#include "windows.h"
#include "win32sim/device_tree.h"
#include "win32sim/faults.h"
#include "win32sim/handles.h"
#include "win32sim/virtual_hid.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <set>
#include <vector>

namespace {

const char kVendorMouse[] = "\\\\?\\HID#VID_1A2C&PID_0E24&MI_01#7&1A2B3C4D&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const char kMouse[] = "\\\\?\\hid#vid_1a2c&pid_0e24&mi_00#7&3b2a1c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const char kControl[] = "\\\\?\\hid#zorva&col03#2&1c0fe9a5&0&0002#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const char kMessage[] = "\\\\?\\hid#zorva&col04#2&1c0fe9a5&0&0003#{4d1e55b2-f16f-11cf-88cb-001111000030}";

HANDLE open(const char* path, DWORD access = GENERIC_READ | GENERIC_WRITE)
{
    return CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::vector<uint8_t> controlReport(std::vector<uint8_t> embedded)
{
    std::vector<uint8_t> r(65, 0);
    r[0] = 0x40;
    r[1] = uint8_t(embedded.size());
    std::copy(embedded.begin(), embedded.end(), r.begin() + 2);
    return r;
}

class HidTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        win32sim::resetDeviceTree();
        handlesBefore = win32sim::openHandleCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(win32sim::openHandleCount(), handlesBefore);
        EXPECT_EQ(win32sim::livePreparsedData(), 0);
        win32sim::resetDeviceTree();
    }
    BOOL write(HANDLE h, const std::vector<uint8_t>& bytes)
    {
        DWORD written = 7;
        const BOOL ok = WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
        EXPECT_EQ(written, ok ? DWORD(bytes.size()) : 0u);
        return ok;
    }
    int handlesBefore = 0;
};

TEST_F(HidTest, HandlesAreSmallNeverReusedAndOfOneKind)
{
    std::set<uintptr_t> seen;
    for (int i = 0; i < 50; ++i) {
        HANDLE h = open(kVendorMouse);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        const uintptr_t v = reinterpret_cast<uintptr_t>(h);
        EXPECT_EQ(v % 4, 0u);
        EXPECT_LT(v, uintptr_t(1) << 32); // fits the 4 bytes a driver record keeps
        EXPECT_TRUE(seen.insert(v).second);
        // The handle carried in 4 bytes names the same object.
        const HANDLE narrowed = reinterpret_cast<HANDLE>(uintptr_t(uint32_t(v)));
        HIDD_ATTRIBUTES a;
        a.Size = sizeof a;
        EXPECT_TRUE(HidD_GetAttributes(narrowed, &a));
        EXPECT_TRUE(CloseHandle(h));
    }
    const int invalid = win32sim::invalidHandleUses();
    const HANDLE stale = reinterpret_cast<HANDLE>(*seen.begin());
    EXPECT_FALSE(CloseHandle(stale));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(win32sim::invalidHandleUses(), invalid + 3);

    // Paths are matched without regard to letter case; other paths and dispositions are not found.
    EXPECT_EQ(open("\\\\?\\hid#nothing"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(CreateFileA(kVendorMouse, GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    win32sim::failNextCall("CreateFileA", ERROR_SHARING_VIOLATION);
    EXPECT_EQ(open(kVendorMouse), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
}

TEST_F(HidTest, CollectionsReportTheirAttributesAndCapabilities)
{
    HANDLE h = open(kVendorMouse);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    HIDD_ATTRIBUTES a;
    a.Size = 4;
    EXPECT_FALSE(HidD_GetAttributes(h, &a));
    a.Size = sizeof a;
    ASSERT_TRUE(HidD_GetAttributes(h, &a));
    EXPECT_EQ(a.VendorID, 0x1A2C);
    EXPECT_EQ(a.ProductID, 0x0E24);
    EXPECT_EQ(a.VersionNumber, 0x0100);

    PHIDP_PREPARSED_DATA data = nullptr;
    ASSERT_TRUE(HidD_GetPreparsedData(h, &data));
    EXPECT_EQ(win32sim::livePreparsedData(), 1);
    HIDP_CAPS caps;
    ASSERT_EQ(HidP_GetCaps(data, &caps), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(caps.UsagePage, 0xFFA0);
    EXPECT_EQ(caps.Usage, 1);
    EXPECT_EQ(caps.OutputReportByteLength, 65);
    EXPECT_TRUE(HidD_FreePreparsedData(data));
    // Freed data, or data never given out, is refused and counted.
    EXPECT_EQ(HidP_GetCaps(data, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
    const int invalid = win32sim::invalidPreparsedDataFrees();
    EXPECT_FALSE(HidD_FreePreparsedData(data));
    EXPECT_FALSE(HidD_FreePreparsedData(nullptr));
    EXPECT_EQ(win32sim::invalidPreparsedDataFrees(), invalid + 2);

    EXPECT_FALSE(HidD_SetNumInputBuffers(h, 1));
    EXPECT_TRUE(HidD_SetNumInputBuffers(h, 10));
    EXPECT_FALSE(HidD_SetNumInputBuffers(h, 513));
    win32sim::failNextCall("HidD_SetNumInputBuffers", ERROR_GEN_FAILURE);
    EXPECT_FALSE(HidD_SetNumInputBuffers(h, 10));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_GEN_FAILURE));

    // A device that goes away leaves its handles naming nothing but still to be closed.
    ASSERT_EQ(win32sim::removeDevice("HID\\VID_1A2C&PID_0E24&MI_01\\7&1A2B3C4D&0&0000"), 1);
    EXPECT_FALSE(HidD_GetAttributes(h, &a));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(HidTest, KeyboardsAndMiceOpenOnlyWithoutAccess)
{
    EXPECT_EQ(open(kMouse), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    HANDLE h = open(kMouse, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    HIDD_ATTRIBUTES a;
    a.Size = sizeof a;
    EXPECT_TRUE(HidD_GetAttributes(h, &a));
    uint8_t report[5] = {};
    DWORD n = 0;
    EXPECT_FALSE(ReadFile(h, report, sizeof report, &n, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(HidTest, TheVirtualDeviceDecodesTheReportsItAccepts)
{
    HANDLE control = open(kControl);
    ASSERT_NE(control, INVALID_HANDLE_VALUE);
    struct Case {
        const char* name;
        std::vector<uint8_t> embedded;
    } accepted[] = {
        {"key A with left shift", {0x07, 0x02, 0x00, 0x04, 0, 0, 0, 0, 0}},
        {"left button, right 5, up 3, wheel 1", {0x04, 0x01, 0x05, 0xFD, 0x01}},
        {"absolute 0x1234,0x0102 with the right button", {0x03, 0x02, 0x34, 0x12, 0x02, 0x01, 0x00}},
        {"digitizer", {0x05, 0x03, 0x10, 0x00, 0x20, 0x00}},
        {"joystick", {0x06, 1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const Case& c : accepted)
        EXPECT_TRUE(write(control, controlReport(c.embedded))) << c.name;
    win32sim::VirtualHidState s = win32sim::virtualHidState();
    EXPECT_EQ(s.modifiers, 0x02);
    EXPECT_EQ(s.keys, (std::array<uint8_t, 6>{0x04, 0, 0, 0, 0, 0}));
    EXPECT_EQ(s.relativeButtons, 0x01);
    EXPECT_EQ(s.relativeX, 5);
    EXPECT_EQ(s.relativeY, -3);
    EXPECT_EQ(s.wheel, 1);
    EXPECT_EQ(s.absoluteButtons, 0x02);
    EXPECT_EQ(s.absoluteX, 0x1234);
    EXPECT_EQ(s.absoluteY, 0x0102);
    EXPECT_EQ(s.digitizerStatus, 3);
    EXPECT_EQ(s.digitizerX, 0x10);
    EXPECT_EQ(s.joystick, (std::array<uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));

    // Releasing and moving again: held state follows, motion adds up.
    EXPECT_TRUE(write(control, controlReport({0x04, 0x00, 0xFB, 0x01, 0x00})));
    EXPECT_TRUE(write(control, controlReport({0x07, 0, 0, 0, 0, 0, 0, 0, 0})));
    s = win32sim::virtualHidState();
    EXPECT_EQ(s.relativeButtons, 0);
    EXPECT_EQ(s.relativeX, 0);
    EXPECT_EQ(s.relativeY, -2);
    EXPECT_EQ(s.modifiers, 0);
    EXPECT_EQ(s.keys[0], 0);

    // Refused: an unknown id, a length that does not match the id, another control id, a write of
    // another size.
    std::vector<uint8_t> otherId = controlReport({0x04, 0x01, 0, 0, 0});
    otherId[0] = 0x41;
    const std::vector<std::vector<uint8_t>> refused = {
        controlReport({0x09, 1, 2, 3}), controlReport({0x04, 0x01, 0, 0, 0, 0}), otherId};
    for (const std::vector<uint8_t>& r : refused) {
        EXPECT_FALSE(write(control, r));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
    std::vector<uint8_t> shortWrite = controlReport({0x04, 0x01, 0, 0, 0});
    shortWrite.resize(64);
    EXPECT_FALSE(write(control, shortWrite));
    EXPECT_EQ(win32sim::virtualHidState().relativeButtons, 0);

    const std::vector<win32sim::VirtualHidReport> log = win32sim::virtualHidReports();
    ASSERT_EQ(log.size(), 10u); // the short write never reached the driver
    EXPECT_EQ(log[0].bytes, controlReport(accepted[0].embedded));
    EXPECT_TRUE(log[6].accepted);
    EXPECT_FALSE(log[7].accepted);
    EXPECT_FALSE(log[0].outputReport);

    // Through the control channel too, and multi-touch series.
    std::vector<uint8_t> touch = controlReport({0x01, 1, 7, 0x10, 0, 0x20, 0, 4, 0, 4, 0, 1, 8, 0x30, 0, 0x40, 0, 4, 0,
                                                4, 0, 3});
    EXPECT_TRUE(HidD_SetOutputReport(control, touch.data(), 65));
    touch = controlReport({0x01, 1, 9, 0x50, 0, 0x60, 0, 4, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(HidD_SetOutputReport(control, touch.data(), 65));
    s = win32sim::virtualHidState();
    EXPECT_EQ(s.touchCount, 3);
    ASSERT_EQ(s.touches.size(), 3u);
    EXPECT_EQ(s.touches[1].contactId, 8);
    EXPECT_EQ(s.touches[2].x, 0x50);
    EXPECT_TRUE(win32sim::virtualHidReports().back().outputReport);

    // Read-only, the control collection takes no report.
    HANDLE readOnly = open(kControl, GENERIC_READ);
    EXPECT_FALSE(write(readOnly, controlReport({0x04, 0, 0, 0, 0})));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(readOnly));
    EXPECT_TRUE(CloseHandle(control));
}

TEST_F(HidTest, MessagesComeBackOnTheMessageCollection)
{
    HANDLE control = open(kControl);
    HANDLE message = open(kMessage);
    ASSERT_NE(message, INVALID_HANDLE_VALUE);
    uint8_t in[33] = {};
    DWORD n = 0;
    EXPECT_FALSE(ReadFile(message, in, sizeof in, &n, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_DATA));
    std::vector<uint8_t> embedded(33, 0);
    embedded[0] = 0x10;
    for (int i = 1; i < 33; ++i)
        embedded[size_t(i)] = uint8_t(i);
    EXPECT_TRUE(write(control, controlReport(embedded)));
    ASSERT_TRUE(ReadFile(message, in, sizeof in, &n, nullptr));
    EXPECT_EQ(n, 33u);
    EXPECT_EQ(std::vector<uint8_t>(in, in + 33), embedded);
    // The message collection takes no output report.
    EXPECT_FALSE(write(message, controlReport({0x04, 0, 0, 0, 0})));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_FUNCTION));

    // Without its driver the device is gone, and so are its handles.
    win32sim::setVirtualHidInstalled(false);
    EXPECT_EQ(open(kControl), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(write(control, controlReport({0x04, 0, 0, 0, 0})));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(CloseHandle(control));
    EXPECT_TRUE(CloseHandle(message));
}

} // namespace
