// The filter-driver client over the simulated driver: contexts, filters, waits, and strokes
// converted to and from the driver's records field by field.
#include "row_name.h"

#include "devices/interception.h"

#include "win32sim/device_tree.h"
#include "win32sim/faults.h"
#include "win32sim/filter_driver.h"
#include "win32sim/handles.h"
#include "win32sim/process.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using win32sim::FilterKeyRecord;
using win32sim::FilterMouseRecord;
using win32sim::StrokeRoute;

const int kKeyboard = 1, kMouse = 11, kVirtualMouse = 12;

class InterceptionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        win32sim::resetDeviceTree();
        handles = win32sim::openHandleCount();
        blocks = win32sim::liveHeapBlocks();
    }
    void TearDown() override
    {
        interception_destroy_context(context);
        EXPECT_EQ(win32sim::openHandleCount(), handles);
        EXPECT_EQ(win32sim::liveHeapBlocks(), blocks);
        win32sim::resetDeviceTree();
    }
    InterceptionContext context = nullptr;
    int handles = 0, blocks = 0;
};

TEST_F(InterceptionTest, StrokesBecomeRecordsAndBackFieldByField)
{
    context = interception_create_context();
    ASSERT_TRUE(context);
    EXPECT_EQ(win32sim::openHandleCount(), handles + 40);
    EXPECT_EQ(win32sim::liveHeapBlocks(), blocks + 1); // the context only

    // Sent: every stroke field in its record field; unit id, reserved and raw buttons zero.
    Stroke out[2];
    out[0].key = {0x1E2F, 0x0003, 0xA1B2C3D4};
    out[1].key = {0x0102, 0x0000, 7};
    EXPECT_EQ(interception_send(context, kKeyboard, out, 2), 2);
    Stroke mouse;
    mouse.mouse = {0x0010, 0x0102, -240, -123456, 654321, 0xCAFEBABE};
    EXPECT_EQ(interception_send(context, kMouse, &mouse, 1), 1);
    const std::vector<win32sim::DeliveredStroke> d = win32sim::deliveredStrokes();
    ASSERT_EQ(d.size(), 3u);
    FilterKeyRecord key;
    key.makeCode = 0x1E2F;
    key.flags = 0x0003;
    key.extraInformation = 0xA1B2C3D4;
    EXPECT_EQ(d[0].device, kKeyboard);
    EXPECT_TRUE(d[0].written);
    EXPECT_EQ(d[0].key, key);
    EXPECT_EQ(d[1].key.makeCode, 0x0102);
    FilterMouseRecord m;
    m.flags = 0x0102;
    m.buttonFlags = 0x0010;
    m.buttonData = uint16_t(-240);
    m.lastX = -123456;
    m.lastY = 654321;
    m.extraInformation = 0xCAFEBABE;
    EXPECT_EQ(d[2].device, kMouse);
    EXPECT_EQ(d[2].mouse, m);

    // Received: the record's fields in the stroke's; unit id, reserved and raw buttons dropped.
    interception_set_filter(context, interception_is_keyboard, 0x3);
    interception_set_filter(context, interception_is_mouse, 0x3FF);
    EXPECT_EQ(interception_get_filter(context, kKeyboard), 0x3);
    EXPECT_EQ(interception_get_filter(context, kMouse), 0x3FF);
    key.unitId = 5;
    key.reserved = 9;
    ASSERT_EQ(win32sim::injectKeyStroke(kKeyboard, key), StrokeRoute::Queued);
    m.unitId = 3;
    m.rawButtons = 0x55AA;
    ASSERT_EQ(win32sim::injectMouseStroke(kMouse, m), StrokeRoute::Queued);
    ASSERT_EQ(win32sim::injectMouseStroke(kMouse, m), StrokeRoute::Queued);
    Stroke in[3];
    std::memset(in, 0x5A, sizeof in);
    ASSERT_EQ(interception_receive(context, kKeyboard, in, 3), 1);
    EXPECT_EQ(in[0].key.code, 0x1E2F);
    EXPECT_EQ(in[0].key.state, 0x0003);
    EXPECT_EQ(in[0].key.information, 0xA1B2C3D4u);
    ASSERT_EQ(interception_receive(context, kMouse, in, 3), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(in[i].mouse.state, 0x0010);
        EXPECT_EQ(in[i].mouse.flags, 0x0102);
        EXPECT_EQ(in[i].mouse.rolling, -240);
        EXPECT_EQ(in[i].mouse.x, -123456);
        EXPECT_EQ(in[i].mouse.y, 654321);
        EXPECT_EQ(in[i].mouse.information, 0xCAFEBABEu);
    }
    EXPECT_EQ(win32sim::liveHeapBlocks(), blocks + 1); // record blocks given back

    interception_set_precedence(context, kMouse, -3);
    EXPECT_EQ(interception_get_precedence(context, kMouse), -3);
    EXPECT_EQ(win32sim::precedenceOf(kMouse), -3);
}

TEST_F(InterceptionTest, WaitsAnswerTheDeviceWithStrokesAcrossDevices)
{
    context = interception_create_context();
    ASSERT_TRUE(context);
    interception_set_filter(context, interception_is_mouse, 0x3FF);
    FilterMouseRecord press;
    press.buttonFlags = 0x10;
    FilterKeyRecord key;
    key.makeCode = 0x1E;
    // Keyboards have no filter: their strokes go straight on.
    EXPECT_EQ(win32sim::injectKeyStroke(kKeyboard, key), StrokeRoute::Delivered);
    ASSERT_EQ(win32sim::injectMouseStroke(kVirtualMouse, press), StrokeRoute::Queued);
    ASSERT_EQ(win32sim::injectMouseStroke(kMouse, press), StrokeRoute::Queued);
    Stroke s;
    EXPECT_EQ(interception_wait(context), kMouse);
    EXPECT_EQ(interception_receive(context, kMouse, &s, 1), 1);
    EXPECT_EQ(interception_wait_fastcall(context), kVirtualMouse);
    EXPECT_EQ(interception_receive(context, kVirtualMouse, &s, 1), 1);

    // The hardware id as the driver wrote it.
    char16_t id[100] = {};
    const unsigned bytes = interception_get_hardware_id(context, kMouse, id, sizeof id);
    EXPECT_GT(bytes, 40u);
    EXPECT_EQ(QString::fromUtf16(id), "HID\\VID_1A2C&PID_0E24&REV_0100&MI_00");

    // A signalled stop ends the wait with 0, as does a failing wait.
    HANDLE stop = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(interception_wait_until(context, stop), 0);
    ASSERT_EQ(win32sim::injectMouseStroke(kMouse, press), StrokeRoute::Queued);
    EXPECT_EQ(interception_wait_until(context, stop), kMouse); // strokes first
    EXPECT_EQ(interception_receive(context, kMouse, &s, 1), 1);
    EXPECT_TRUE(CloseHandle(stop));
    win32sim::failNextCall("WaitForMultipleObjects", ERROR_INVALID_HANDLE);
    EXPECT_EQ(interception_wait(context), 0);
}

TEST_F(InterceptionTest, InvalidDevicesAndNullContextsMakeNoRequest)
{
    context = interception_create_context();
    ASSERT_TRUE(context);
    Stroke s[1] = {};
    char16_t id[10];
    // Armed, the fault would make the next request fail: none of these asks the driver.
    win32sim::failNextCall("DeviceIoControl", ERROR_GEN_FAILURE);
    for (InterceptionDevice device : {0, 21, -1}) {
        SCOPED_TRACE(device);
        EXPECT_TRUE(interception_is_invalid(device));
        EXPECT_EQ(interception_receive(context, device, s, 1), 0);
        EXPECT_EQ(interception_send(context, device, s, 1), 0);
        EXPECT_EQ(interception_get_hardware_id(context, device, id, sizeof id), 0u);
    }
    EXPECT_EQ(interception_receive(context, kMouse, s, 0), 0);
    EXPECT_EQ(interception_send(context, kMouse, s, 0), 0);
    EXPECT_EQ(interception_wait(nullptr), 0);
    EXPECT_EQ(interception_receive(nullptr, kMouse, s, 1), 0);
    EXPECT_EQ(interception_send(nullptr, kMouse, s, 1), 0);
    EXPECT_EQ(interception_get_hardware_id(nullptr, kMouse, id, sizeof id), 0u);
    interception_destroy_context(nullptr);
    EXPECT_EQ(interception_send(context, kMouse, s, 1), 0); // the armed fault
    EXPECT_EQ(interception_send(context, kMouse, s, 1), 1);

    EXPECT_TRUE(interception_is_keyboard(1) && interception_is_keyboard(10) && !interception_is_keyboard(11));
    EXPECT_TRUE(interception_is_mouse(11) && interception_is_mouse(20) && !interception_is_mouse(21));

    // A failed record allocation: nothing received, the stroke stays queued.
    interception_set_filter(context, interception_is_mouse, 0x3FF);
    FilterMouseRecord press;
    press.buttonFlags = 0x4;
    ASSERT_EQ(win32sim::injectMouseStroke(kMouse, press), StrokeRoute::Queued);
    win32sim::failNextCall("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(interception_receive(context, kMouse, s, 1), 0);
    EXPECT_EQ(win32sim::queuedStrokes(kMouse), 1);
}

// Devices 1 to 10 are keyboards, 11 to 20 mice; any other number is no device.
struct KindCase {
    const char* name;
    InterceptionDevice device;
    bool keyboard, mouse;
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class DeviceKinds : public InterceptionTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(DeviceKinds, AnswerByNumberAndTheMouseFilterReachesOnlyMice)
{
    const KindCase& c = GetParam();
    EXPECT_EQ(bool(interception_is_keyboard(c.device)), c.keyboard);
    EXPECT_EQ(bool(interception_is_mouse(c.device)), c.mouse);
    EXPECT_EQ(bool(interception_is_invalid(c.device)), !c.keyboard && !c.mouse);
    if (interception_is_invalid(c.device))
        return;
    context = interception_create_context();
    ASSERT_TRUE(context);
    interception_set_filter(context, interception_is_mouse, 0x3FF);
    EXPECT_EQ(win32sim::filterOf(c.device), c.mouse ? 0x3FF : 0);
    EXPECT_EQ(interception_get_filter(context, c.device), c.mouse ? 0x3FF : 0);
}

INSTANTIATE_TEST_SUITE_P(Numbers, DeviceKinds,
                         ::testing::Values(KindCase{"Zero", 0, false, false}, KindCase{"FirstKeyboard", 1, true, false},
                                           KindCase{"SecondKeyboard", 2, true, false},
                                           KindCase{"LastKeyboard", 10, true, false},
                                           KindCase{"FirstMouse", 11, false, true},
                                           KindCase{"SecondMouse", 12, false, true},
                                           KindCase{"LastMouse", 20, false, true},
                                           KindCase{"PastTheLast", 21, false, false},
                                           KindCase{"Negative", -1, false, false}), test_support::RowName());

struct CreateFailure {
    const char* name;
    const char* call;
    int callsBefore;
};

class InterceptionCreateTest : public InterceptionTest, public ::testing::WithParamInterface<CreateFailure> {};

TEST_P(InterceptionCreateTest, AFailureLeavesNoHandleAndNoContext)
{
    win32sim::failNextCall(GetParam().call, ERROR_GEN_FAILURE, GetParam().callsBefore);
    EXPECT_EQ(interception_create_context(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Steps, InterceptionCreateTest,
                         ::testing::Values(CreateFailure{"FirstDevice", "CreateFileA", 0},
                                           CreateFailure{"SixthDevice", "CreateFileA", 5},
                                           CreateFailure{"LastDevice", "CreateFileA", 19},
                                           CreateFailure{"FirstEvent", "DeviceIoControl", 0},
                                           CreateFailure{"TwelfthEvent", "DeviceIoControl", 11},
                                           CreateFailure{"Block", "HeapAlloc", 0}), test_support::RowName());

TEST_F(InterceptionTest, WithoutTheDriverNoContextIsMade)
{
    win32sim::setFilterDriverInstalled(false);
    EXPECT_EQ(interception_create_context(), nullptr);
}

} // namespace
