// The virtual HID device client against the simulated device: discovery and connection with their
// diagnostics, and every report exactly as the device received it.
#include "row_name.h"

#include "devices/vmulti_client.h"

#include "win32sim/device_tree.h"
#include "win32sim/faults.h"
#include "win32sim/handles.h"
#include "win32sim/virtual_hid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kLookControl[] = "\n....looking for our HID device (with UP=0xff00 and Usage=0x1)\n";
const char kLookMessage[] = "\n....looking for our HID device (with UP=0xff00 and Usage=0x2)\n";
const char kDenied[] = "Error: CreateFile failed: 5\n";
const char kFound[] = "Success: Found my device.. \n";
const char kNotFound[] = "Failure: Could not find our HID device \n";

// The built-in tree's HID interfaces in order: the mouse's two, the keyboard's two, the game
// controller, then the virtual device's keyboard, mouse, control and message collections. The
// system's keyboards and mice cannot be opened for writing; the others are opened and looked at.
std::string searchOutput(const char* look, int interfacesBeforeFound)
{
    const char* const steps[] = {kDenied, "", kDenied, "", "", kDenied, kDenied, "", ""};
    std::string out = look;
    for (int i = 0; i < interfacesBeforeFound; ++i)
        out += steps[i];
    return out + kFound;
}

std::vector<uint8_t> bytes(std::initializer_list<int> prefix)
{
    std::vector<uint8_t> r(VMULTI_CONTROL_REPORT_SIZE, 0);
    size_t i = 0;
    for (int b : prefix)
        r[i++] = uint8_t(b);
    return r;
}

class VMultiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        win32sim::resetDeviceTree();
        handlesBefore = win32sim::openHandleCount();
        vmulti = vmulti_alloc();
        ASSERT_TRUE(vmulti);
    }
    void TearDown() override
    {
        vmulti_disconnect(vmulti);
        vmulti_free(vmulti);
        EXPECT_EQ(win32sim::openHandleCount(), handlesBefore);
        EXPECT_EQ(win32sim::livePreparsedData(), 0);
        win32sim::resetDeviceTree();
    }
    // Connects, and answers what it printed.
    std::string connect(bool* connected)
    {
        ::testing::internal::CaptureStdout();
        *connected = vmulti_connect(vmulti);
        return ::testing::internal::GetCapturedStdout();
    }
    void connectOrFail()
    {
        bool connected = false;
        connect(&connected);
        ASSERT_TRUE(connected);
        win32sim::clearVirtualHid();
    }
    static std::vector<uint8_t> lastReport()
    {
        const std::vector<win32sim::VirtualHidReport> log = win32sim::virtualHidReports();
        return log.empty() ? std::vector<uint8_t>() : log.back().bytes;
    }

    pvmulti_client vmulti = nullptr;
    int handlesBefore = 0;
};

TEST_F(VMultiTest, ConnectsToTheControlAndMessageCollectionsPastTheOtherDevices)
{
    EXPECT_EQ(vmulti->hControl, INVALID_HANDLE_VALUE);
    EXPECT_EQ(vmulti->hMessage, INVALID_HANDLE_VALUE);
    bool connected = false;
    const std::string out = connect(&connected);
    EXPECT_TRUE(connected);
    EXPECT_EQ(out, searchOutput(kLookControl, 7) + searchOutput(kLookMessage, 8));
    EXPECT_NE(vmulti->hControl, INVALID_HANDLE_VALUE);
    EXPECT_NE(vmulti->hMessage, INVALID_HANDLE_VALUE);
    EXPECT_EQ(win32sim::openHandleCount(), handlesBefore + 2);
    vmulti_disconnect(vmulti);
    EXPECT_EQ(vmulti->hControl, INVALID_HANDLE_VALUE);
    EXPECT_EQ(win32sim::openHandleCount(), handlesBefore);
}

struct ConnectCase {
    const char* name;
    std::function<void()> arrange;
    bool connected;
    std::string output;
};

void PrintTo(const ConnectCase& c, std::ostream* os) { *os << c.name; }

class VMultiConnect : public VMultiTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(VMultiConnect, LeavesTheClientConnectedOrWithNoHandleOpen)
{
    const ConnectCase& c = GetParam();
    c.arrange();
    const int invalidBefore = win32sim::invalidHandleUses();
    const int badFreesBefore = win32sim::invalidPreparsedDataFrees();
    bool connected = false;
    EXPECT_EQ(connect(&connected), c.output);
    EXPECT_EQ(connected, c.connected);
    if (!connected) {
        EXPECT_EQ(vmulti->hControl, INVALID_HANDLE_VALUE);
        EXPECT_EQ(vmulti->hMessage, INVALID_HANDLE_VALUE);
        EXPECT_EQ(win32sim::openHandleCount(), handlesBefore);
        vmulti_disconnect(vmulti); // closes nothing more
    }
    EXPECT_EQ(win32sim::invalidHandleUses(), invalidBefore);
    EXPECT_EQ(win32sim::invalidPreparsedDataFrees(), badFreesBefore);
}

std::vector<ConnectCase> connectCases()
{
    const std::string connectedOutput = searchOutput(kLookControl, 7) + searchOutput(kLookMessage, 8);
    return {
        {"DriverNotInstalled", [] { win32sim::setVirtualHidInstalled(false); }, false,
         std::string(kLookControl) + kDenied + kDenied + kNotFound},
        {"NoMessageCollection", [] { win32sim::removeDevice("HID\\ZORVA&COL04\\2&1C0FE9A5&0&0003"); }, false,
         searchOutput(kLookControl, 7) + kLookMessage + kDenied + kDenied + kDenied + kDenied + kNotFound},
        {"BufferCountRefused", [] { win32sim::failNextCall("HidD_SetNumInputBuffers", ERROR_GEN_FAILURE); }, false,
         connectedOutput + "failed HidD_SetNumInputBuffers 31\n"},
        {"NoHidDeviceList", [] { win32sim::failNextCall("SetupDiGetClassDevsA", ERROR_ACCESS_DENIED); }, false,
         "SetupDiGetClassDevs failed: 5\n"},
        // Failures on one interface only move the search on to the next.
        {"AWrongDeviceWithoutPreparsedData", [] { win32sim::failNextCall("HidD_GetPreparsedData", ERROR_GEN_FAILURE); },
         true,
         std::string(kLookControl) + kDenied + "Error: HidD_GetPreparsedData failed \n" + kDenied + kDenied + kDenied
             + kFound + searchOutput(kLookMessage, 8)},
        {"AWrongDeviceWithoutAttributes", [] { win32sim::failNextCall("HidD_GetAttributes", ERROR_GEN_FAILURE); }, true,
         std::string(kLookControl) + kDenied + "Error: HidD_GetAttributes failed \n" + kDenied + kDenied + kDenied
             + kFound + searchOutput(kLookMessage, 8)},
        {"AnUnreadableDetail", [] { win32sim::misreportNextDetailSize(2); }, true,
         std::string(kLookControl) + "Error: SetupDiGetInterfaceDeviceDetail failed\n" + kDenied + kDenied + kDenied
             + kFound + searchOutput(kLookMessage, 8)},
        {"AnInterfaceThatCannotBeOpened", [] { win32sim::failNextCall("CreateFileA", ERROR_GEN_FAILURE); }, true,
         std::string(kLookControl) + "Error: CreateFile failed: 31\n" + kDenied + kDenied + kDenied + kFound
             + searchOutput(kLookMessage, 8)},
        // The control collection's capabilities cannot be read: only the message collection is left.
        {"ControlCollectionWithoutCapabilities", [] { win32sim::failNextCall("HidP_GetCaps", 0); }, false,
         std::string(kLookControl) + kDenied + kDenied + kDenied + kDenied + "Error: HidP_GetCaps failed \n"
             + kNotFound},
    };
}

INSTANTIATE_TEST_SUITE_P(Faults, VMultiConnect, ::testing::ValuesIn(connectCases()), test_support::RowName());

struct ReportCase {
    const char* name;
    std::function<bool(pvmulti_client)> write;
    std::vector<uint8_t> expected;
};

void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

class VMultiReports : public VMultiTest, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(VMultiReports, AreFramedInTheControlReport)
{
    connectOrFail();
    const ReportCase& c = GetParam();
    EXPECT_TRUE(c.write(vmulti));
    const std::vector<win32sim::VirtualHidReport> log = win32sim::virtualHidReports();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].bytes, c.expected);
    EXPECT_TRUE(log[0].accepted);
}

std::vector<ReportCase> reportCases()
{
    auto keys = [](BYTE mods, std::vector<BYTE> k) {
        k.resize(6);
        return [mods, k](pvmulti_client v) mutable { return vmulti_update_keyboard(v, mods, k.data()); };
    };
    std::vector<BYTE> message(32);
    for (int i = 0; i < 32; ++i)
        message[size_t(i)] = BYTE(i + 1);
    std::vector<uint8_t> messageReport = bytes({0x40, 0x21, 0x10});
    for (int i = 0; i < 32; ++i)
        messageReport[size_t(3 + i)] = uint8_t(i + 1);
    return {
        {"KeyA", keys(0, {0x04}), bytes({0x40, 0x09, 0x07, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00})},
        {"CtrlShiftWithTwoKeys", keys(0x03, {0x06, 0x19}),
         bytes({0x40, 0x09, 0x07, 0x03, 0x00, 0x06, 0x19, 0x00, 0x00, 0x00, 0x00})},
        {"SixKeys", keys(0x80, {1, 2, 3, 4, 5, 6}), bytes({0x40, 0x09, 0x07, 0x80, 0x00, 1, 2, 3, 4, 5, 6})},
        {"LeftButtonPress", [](pvmulti_client v) { return vmulti_update_relative_mouse(v, 1, 0, 0, 0); },
         bytes({0x40, 0x05, 0x04, 0x01, 0x00, 0x00, 0x00})},
        {"ButtonsReleased", [](pvmulti_client v) { return vmulti_update_relative_mouse(v, 0, 0, 0, 0); },
         bytes({0x40, 0x05, 0x04, 0x00, 0x00, 0x00, 0x00})},
        {"OneWheelNotchUp", [](pvmulti_client v) { return vmulti_update_relative_mouse(v, 0, 0, 0, 1); },
         bytes({0x40, 0x05, 0x04, 0x00, 0x00, 0x00, 0x01})},
        {"MotionLeftAndDown", [](pvmulti_client v) { return vmulti_update_relative_mouse(v, 0x10, 0xFB, 0x03, 0xFF); },
         bytes({0x40, 0x05, 0x04, 0x10, 0xFB, 0x03, 0xFF})},
        {"AbsoluteMouse", [](pvmulti_client v) { return vmulti_update_mouse(v, 0x04, 0x1234, 0x5678, 0x02); },
         bytes({0x40, 0x07, 0x03, 0x04, 0x34, 0x12, 0x78, 0x56, 0x02})},
        {"Digitizer", [](pvmulti_client v) { return vmulti_update_digi(v, 0x03, 0x0102, 0x0304); },
         bytes({0x40, 0x06, 0x05, 0x03, 0x02, 0x01, 0x04, 0x03})},
        {"Joystick", [](pvmulti_client v) { return vmulti_update_joystick(v, 0x0201, 3, 4, 5, 6, 7, 8); },
         bytes({0x40, 0x09, 0x06, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08})},
        {"Message", [message](pvmulti_client v) { return vmulti_write_message(v, message.data()); }, messageReport},
    };
}

INSTANTIATE_TEST_SUITE_P(Builders, VMultiReports, ::testing::ValuesIn(reportCases()), test_support::RowName());

TEST_F(VMultiTest, TouchesGoTwoPerReportAndAnOddCountEndsWithAnEmptyRecord)
{
    connectOrFail();
    // Exactly three records: a fourth is never read.
    VMULTI_TOUCH touches[3] = {{1, 7, 0x0110, 0x0220, 4, 5}, {1, 8, 0x0330, 0x0440, 6, 7}, {0, 9, 0x0550, 0x0660, 8, 9}};
    EXPECT_TRUE(vmulti_update_multitouch(vmulti, touches, 3));
    const std::vector<win32sim::VirtualHidReport> log = win32sim::virtualHidReports();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[0].outputReport);
    EXPECT_EQ(log[0].bytes, bytes({0x40, 0x16, 0x01, 1, 7, 0x10, 0x01, 0x20, 0x02, 4, 0, 5, 0, 1, 8, 0x30, 0x03, 0x40,
                                   0x04, 6, 0, 7, 0, 3}));
    EXPECT_EQ(log[1].bytes, bytes({0x40, 0x16, 0x01, 0, 9, 0x50, 0x05, 0x60, 0x06, 8, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                   0, 0, 0}));
    const win32sim::VirtualHidState s = win32sim::virtualHidState();
    EXPECT_EQ(s.touchCount, 3);
    ASSERT_EQ(s.touches.size(), 3u);
    EXPECT_EQ(s.touches[2].contactId, 9);
    EXPECT_TRUE(vmulti_update_multitouch(vmulti, touches, 0)); // nothing to send
    EXPECT_EQ(win32sim::virtualHidReports().size(), 2u);
}

TEST_F(VMultiTest, EachReportIsFramedOnItsOwn)
{
    connectOrFail();
    // A short report after a long one: nothing of the long one is left after it.
    BYTE message[32];
    std::memset(message, 0xAA, sizeof message);
    EXPECT_TRUE(vmulti_write_message(vmulti, message));
    EXPECT_TRUE(vmulti_update_relative_mouse(vmulti, 2, 0, 0, 0));
    EXPECT_EQ(lastReport(), bytes({0x40, 0x05, 0x04, 0x02, 0x00, 0x00, 0x00}));

    // Two threads writing through one client: every report is one of the two, whole.
    win32sim::clearVirtualHid();
    const std::vector<uint8_t> key = bytes({0x40, 0x09, 0x07, 0x01, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00});
    const std::vector<uint8_t> click = bytes({0x40, 0x05, 0x04, 0x01, 0x00, 0x00, 0x00});
    const int rounds = 2000;
    std::thread worker([&] {
        BYTE keys[6] = {0x06};
        for (int i = 0; i < rounds; ++i)
            vmulti_update_keyboard(vmulti, 0x01, keys);
    });
    for (int i = 0; i < rounds; ++i)
        vmulti_update_relative_mouse(vmulti, 1, 0, 0, 0);
    worker.join();
    const std::vector<win32sim::VirtualHidReport> log = win32sim::virtualHidReports();
    ASSERT_EQ(log.size(), size_t(2 * rounds));
    for (const win32sim::VirtualHidReport& r : log) {
        ASSERT_TRUE(r.bytes == key || r.bytes == click);
        ASSERT_TRUE(r.accepted);
    }
}

TEST_F(VMultiTest, MessagesAreReadBackAndFailuresPrinted)
{
    connectOrFail();
    BYTE message[32];
    for (int i = 0; i < 32; ++i)
        message[i] = BYTE(0x20 + i);
    EXPECT_TRUE(vmulti_write_message(vmulti, message));
    BYTE report[33] = {};
    EXPECT_TRUE(vmulti_read_message(vmulti, report));
    EXPECT_EQ(report[0], 0x10);
    EXPECT_EQ(std::vector<BYTE>(report + 1, report + 33), std::vector<BYTE>(message, message + 32));

    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(vmulti_read_message(vmulti, report)); // nothing waiting
    win32sim::failNextCall("WriteFile", ERROR_GEN_FAILURE);
    BYTE keys[6] = {};
    EXPECT_FALSE(vmulti_update_keyboard(vmulti, 0, keys));
    vmulti_disconnect(vmulti);
    EXPECT_FALSE(vmulti_update_relative_mouse(vmulti, 1, 0, 0, 0));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "failed ReadFile 232\nfailed WriteFile 31\nfailed WriteFile 6\n");
}

} // namespace
