// The present keyboards and mice, enumerated from simulated device trees through the SetupAPI.
#include "row_name.h"

#include "devices/devices_handler.h"

#include "win32sim/device_tree.h"
#include "win32sim/faults.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kUsbInterface[] = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// A USB device with its USB device interface; path letter case as given.
QString usbDevice(const QString& vidPid, const QString& serial, bool upperCasePath = false)
{
    QString path = QString("\\\\?\\usb#%1#%2#%3").arg(vidPid.toLower(), serial.toLower(), kUsbInterface);
    if (upperCasePath)
        path = path.toUpper();
    return QString("[device]\nClass=USB\nInstanceId=USB\\%1\\%2\nHardwareId=USB\\%1\nInterface=USB,%3\n")
        .arg(vidPid, serial, path);
}

// An input device node of a setup class, its instance id and hardware ids, and extra lines.
QString inputNode(const QString& cls, const QString& instanceId, const QStringList& hardwareIds,
                  const QString& extra = QString())
{
    QString text = QString("[device]\nClass=%1\nInstanceId=%2\n").arg(cls, instanceId);
    for (const QString& id : hardwareIds)
        text += "HardwareId=" + id + "\n";
    return text + extra;
}

struct Record {
    const char* path;
    const char* hardwareId;
    const char* pid;
    const char* vid;
    const char* type;
    const char* key;
};

struct TreeCase {
    const char* name;
    QString tree; // empty: the built-in tree
    std::vector<Record> expected;
};

void PrintTo(const TreeCase& c, std::ostream* os) { *os << c.name; }

const char kMousePath[] = "\\\\?\\usb#vid_1a2c&pid_0e24#m100000001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

QStringList longHardwareIds()
{
    QStringList ids{"HID\\VID_1A2C&PID_0E50&REV_0100&MI_00"};
    for (int i = 0; i < 12; ++i)
        ids << QString("HID_DEVICE_VENDOR_SPECIFIC_COLLECTION_%1").arg(i);
    return ids;
}

std::vector<TreeCase> treeCases()
{
    const QString mouse00 = inputNode("Mouse", "HID\\VID_1A2C&PID_0E24&MI_00\\7&1&0&0000",
                                      {"HID\\VID_1A2C&PID_0E24&REV_0100&MI_00", "HID_DEVICE_SYSTEM_MOUSE"});
    const QString mouse01 = inputNode("Mouse", "HID\\VID_1A2C&PID_0E24&MI_01&COL02\\7&2&0&0001",
                                      {"HID\\VID_1A2C&PID_0E24&REV_0100&MI_01&COL02"});
    const Record mouse{kMousePath, "HID\\VID_1A2C&PID_0E24&REV_0100&MI_00", "0E24", "1A2C", "mouse", "1A2C0E24"};
    return {
        {"BuiltInMouseAndKeyboard",
         QString(),
         {{kMousePath, "HID\\VID_1A2C&PID_0E24&REV_0100&MI_00", "0E24", "1A2C", "mouse", "1A2C0E24"},
          {"\\\\?\\usb#vid_1a2c&pid_0e30#k100000001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
           "HID\\VID_1A2C&PID_0E30&REV_0100&MI_00", "0E30", "1A2C", "keyboard", "1A2C0E30"}}},
        {"OnlyInterfaceZeroOfADevice", usbDevice("VID_1A2C&PID_0E24", "M100000001") + mouse01 + mouse00
             + inputNode("Mouse", "HID\\VID_1A2C&PID_0E24&MI_02\\7&3&0&0002", {"HID\\VID_1A2C&PID_0E24&MI_02"}),
         {mouse}},
        {"NoInterfaceNumberCountsAsZero",
         usbDevice("VID_3C3C&PID_0001", "S1")
             + inputNode("Mouse", "HID\\VID_3C3C&PID_0001\\7&4&0&0000", {"HID\\VID_3C3C&PID_0001&REV_0001"}),
         {{"\\\\?\\usb#vid_3c3c&pid_0001#s1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", "HID\\VID_3C3C&PID_0001&REV_0001",
           "0001", "3C3C", "mouse", "3C3C0001"}}},
        // One receiver: the record of the vendor and product id is typed by the device met first.
        {"OneRecordPerVendorAndProductId",
         usbDevice("VID_4D4D&PID_0002", "R1")
             + inputNode("Keyboard", "HID\\VID_4D4D&PID_0002&MI_00\\7&5&0&0000", {"HID\\VID_4D4D&PID_0002&MI_00"})
             + inputNode("Mouse", "HID\\VID_4D4D&PID_0002&MI_00&COL02\\7&5&0&0001",
                         {"HID\\VID_4D4D&PID_0002&MI_00&COL02"}),
         {{"\\\\?\\usb#vid_4d4d&pid_0002#r1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", "HID\\VID_4D4D&PID_0002&MI_00",
           "0002", "4D4D", "keyboard", "4D4D0002"}}},
        {"TwoPs2MiceGiveOneRecord",
         inputNode("Mouse", "ACPI\\PNP0F13\\4&1506BC0F&0", {"ACPI\\PNP0F13", "*PNP0F13"})
             + inputNode("Mouse", "ACPI\\PNP0F03\\4&2&0", {"acpi\\pnp0f03"}),
         {{"ACPI\\PNP0F13", "ACPI\\PNP0F13", "0F0E", "ACPI", "mouse", "*PNP0F0E"}}},
        {"Ps2KeyboardKeepsItsIdAsPath", inputNode("Keyboard", "ACPI\\PNP0303\\4&3&0", {"acpi\\PNP0303", "*PNP0303"}),
         {{"acpi\\PNP0303", "ACPI\\PNP0303", "0303", "ACPI", "keyboard", "*PNP0303"}}},
        {"OtherClassesAreNeverListed",
         usbDevice("VID_2F0E&PID_0101", "G1")
             + inputNode("HIDClass", "HID\\VID_2F0E&PID_0101\\7&6&0&0000", {"HID\\VID_2F0E&PID_0101"})
             + inputNode("System", "ACPI\\PNP0F13\\9", {"ACPI\\PNP0F13"}),
         {}},
        {"LowerCaseInstanceIdsAreRead",
         usbDevice("VID_ABCD&PID_EF01", "L1")
             + inputNode("Mouse", "hid\\vid_abcd&pid_ef01&mi_00\\7&7&0&0000", {"hid\\vid_abcd&pid_ef01&mi_00"}),
         {{"\\\\?\\usb#vid_abcd&pid_ef01#l1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", "HID\\VID_ABCD&PID_EF01&MI_00",
           "EF01", "ABCD", "mouse", "ABCDEF01"}}},
        {"AnUpperCaseInterfacePathIsNotFound", usbDevice("VID_1A2C&PID_0E24", "M1", true) + mouse00, {}},
        {"WithoutItsUsbDeviceAMouseIsLeftOut", mouse00, {}},
        // Keys are compared whole: "1A2C0E2" is a key of its own beside "1A2C0E24".
        {"AKeyContainedInAnother",
         usbDevice("VID_1A2C&PID_0E24", "M100000001") + mouse00 + usbDevice("VID_1A2C&PID_0E2", "K3")
             + inputNode("Keyboard", "HID\\VID_1A2C&PID_0E2&MI_00\\7&8&0&0000", {"HID\\VID_1A2C&PID_0E2&MI_00"}),
         {mouse,
          {"\\\\?\\usb#vid_1a2c&pid_0e2#k3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", "HID\\VID_1A2C&PID_0E2&MI_00", "0E2",
           "1A2C", "keyboard", "1A2C0E2"}}},
        // A device whose instance id cannot be read is left out alone.
        {"AnUnreadableInstanceIdSkipsThatDeviceOnly",
         usbDevice("VID_1A2C&PID_0E24", "M100000001")
             + inputNode("Mouse", "HID\\VID_5E5E&PID_0001\\1", {"HID\\VID_5E5E&PID_0001"}, "Quirk=UnreadableInstanceId\n")
             + mouse00,
         {mouse}},
        {"HardwareIdsLongerThanTheFirstBuffer",
         usbDevice("VID_1A2C&PID_0E50", "H1")
             + inputNode("Mouse", "HID\\VID_1A2C&PID_0E50&MI_00\\7&9&0&0000", longHardwareIds()),
         {{"\\\\?\\usb#vid_1a2c&pid_0e50#h1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", "HID\\VID_1A2C&PID_0E50&REV_0100&MI_00",
           "0E50", "1A2C", "mouse", "1A2C0E50"}}},
        {"AnUnterminatedHardwareId",
         usbDevice("VID_1A2C&PID_0E24", "M100000001")
             + inputNode("Mouse", "HID\\VID_1A2C&PID_0E24&MI_00\\7&1&0&0000", {"HID\\VID_1A2C&PID_0E24&REV_0100&MI_00"},
                         "Quirk=UnterminatedHardwareId\n"),
         {mouse}},
        // Hardware ids that never fit: asked a few times, then read as none.
        {"HardwareIdsThatKeepGrowing",
         usbDevice("VID_1A2C&PID_0E24", "M100000001")
             + inputNode("Mouse", "HID\\VID_1A2C&PID_0E24&MI_00\\7&1&0&0000", {"HID\\VID_1A2C&PID_0E24&MI_00"},
                         "Quirk=GrowingHardwareId\n"),
         {{kMousePath, "", "0E24", "1A2C", "mouse", "1A2C0E24"}}},
    };
}

class InputDeviceTree : public ::testing::TestWithParam<TreeCase> {
protected:
    void SetUp() override { win32sim::resetDeviceTree(); }
    void TearDown() override { win32sim::resetDeviceTree(); }
};

TEST_P(InputDeviceTree, Enumerates)
{
    const TreeCase& c = GetParam();
    if (!c.tree.isEmpty())
        win32sim::loadDeviceTree(c.tree);
    ::testing::internal::CaptureStdout();
    const InputDeviceList list = devices_handler::enumerateInputDevices();
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(list.devices.size(), int(c.expected.size()));
    ASSERT_EQ(list.keys.size(), list.devices.size());
    for (int i = 0; i < list.devices.size(); ++i) {
        const InputDeviceRecord& r = list.devices[i];
        const Record& e = c.expected[size_t(i)];
        EXPECT_EQ(r.path, e.path) << i;
        EXPECT_EQ(r.hardwareId, e.hardwareId) << i;
        EXPECT_EQ(r.pid, e.pid) << i;
        EXPECT_EQ(r.vid, e.vid) << i;
        EXPECT_EQ(r.extra, "") << i;
        EXPECT_EQ(r.type, e.type) << i;
        EXPECT_EQ(list.keys[i], e.key) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Trees, InputDeviceTree, ::testing::ValuesIn(treeCases()), test_support::RowName());

class InterfacePaths : public ::testing::Test {
protected:
    void SetUp() override { win32sim::resetDeviceTree(); }
    void TearDown() override { win32sim::resetDeviceTree(); }
};

TEST_F(InterfacePaths, FoundByVendorAndProductIdWithTheirDiagnostics)
{
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(devices_handler::findDevicePath("1A2C0E30"),
              "\\\\?\\usb#vid_1a2c&pid_0e30#k100000001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    EXPECT_EQ(devices_handler::findDevicePath("1a2c0e30"), ""); // the key is compared as given
    win32sim::failNextCall("SetupDiGetClassDevsW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(devices_handler::findDevicePath("1A2C0E30"), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Failure: Could not find our HID device \nSetupDiGetClassDevs failed: 5\n");
}

TEST_F(InterfacePaths, ADetailSizeTooSmallForItsStructureIsRefused)
{
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_DEVICE, nullptr, 0, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USB_DEVICE, 0, &data));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(devices_handler::interfacePath(set, &data), kMousePath);
    // A size below the fixed part would have the size field written past the buffer.
    for (DWORD size : {1u, 2u, DWORD(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) - 1)}) {
        win32sim::misreportNextDetailSize(size);
        EXPECT_EQ(devices_handler::interfacePath(set, &data), "") << size;
    }
    // A detail too small for the path fails the second call.
    win32sim::misreportNextDetailSize(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) + 4);
    EXPECT_EQ(devices_handler::interfacePath(set, &data), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error: SetupDiGetInterfaceDeviceDetail failed\n"
                                                        "Error: SetupDiGetInterfaceDeviceDetail failed\n"
                                                        "Error: SetupDiGetInterfaceDeviceDetail failed\n"
                                                        "Error: SetupDiGetInterfaceDeviceDetail failed\n");
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(InterfacePaths, PatternsAndAFailingDeviceList)
{
    EXPECT_EQ(devices_handler::vidPattern(), "VID_\\w+");
    EXPECT_EQ(devices_handler::pidPattern(), "PID_\\w+");
    EXPECT_EQ(devices_handler::miPattern(), "MI_\\w{1,2}");
    win32sim::failNextCall("SetupDiGetClassDevsW", ERROR_ACCESS_DENIED);
    const InputDeviceList list = devices_handler::enumerateInputDevices();
    EXPECT_TRUE(list.devices.isEmpty());
    EXPECT_TRUE(list.keys.isEmpty());
}

} // namespace
