// The SetupAPI over the simulated device tree: device lists of classes and interfaces, instance ids,
// hardware ids and interface details, with their short-buffer paths, and the tree's own file.
#include "windows.h"
#include "win32sim/device_tree.h"
#include "win32sim/faults.h"
#include "win32sim/handles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

QString text(const WCHAR* units) { return QString::fromUtf16(units); }

class SetupApiTest : public ::testing::Test {
protected:
    void SetUp() override { win32sim::resetDeviceTree(); }
    void TearDown() override { win32sim::resetDeviceTree(); }

    static QString instanceIdAt(HDEVINFO set, DWORD i)
    {
        SP_DEVINFO_DATA info;
        info.cbSize = sizeof info;
        if (!SetupDiEnumDeviceInfo(set, i, &info))
            return QString();
        WCHAR id[MAX_DEVICE_ID_LEN + 1];
        DWORD required = 0;
        return SetupDiGetDeviceInstanceIdW(set, &info, id, MAX_DEVICE_ID_LEN + 1, &required) ? text(id) : "?";
    }

    static QStringList instanceIds(HDEVINFO set)
    {
        QStringList ids;
        for (DWORD i = 0;; ++i) {
            const QString id = instanceIdAt(set, i);
            if (id.isEmpty())
                break;
            ids << id;
        }
        return ids;
    }

    static QStringList interfacePaths(HDEVINFO set, const GUID& cls)
    {
        QStringList paths;
        for (DWORD i = 0;; ++i) {
            SP_DEVICE_INTERFACE_DATA data;
            data.cbSize = sizeof data;
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &cls, i, &data))
                break;
            DWORD required = 0;
            EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
            EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
            std::vector<char> buffer(required);
            auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
            paths << QString::fromUtf8(detail->DevicePath);
        }
        return paths;
    }
};

TEST_F(SetupApiTest, TheBuiltInTreeByClassAndByInterface)
{
    HDEVINFO all = SetupDiGetClassDevsW(nullptr, nullptr, 0, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    ASSERT_NE(all, INVALID_HANDLE_VALUE);
    const QStringList ids = instanceIds(all);
    ASSERT_EQ(ids.size(), 16);
    EXPECT_EQ(ids[0], "USB\\VID_1A2C&PID_0E24\\M100000001");
    EXPECT_EQ(ids[2], "HID\\VID_1A2C&PID_0E24&MI_00\\7&3B2A1C4D&0&0000");
    // The vendor collections carry the ids the simulated vendor library names.
    EXPECT_TRUE(ids.contains("HID\\VID_1A2C&PID_0E24&MI_01\\7&1A2B3C4D&0&0000"));
    EXPECT_TRUE(ids.contains("HID\\VID_1A2C&PID_0E30&MI_01\\7&2C3D4E5F&0&0000"));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(all));

    HDEVINFO mice = SetupDiGetClassDevsW(&GUID_DEVCLASS_MOUSE, nullptr, 0, DIGCF_PRESENT);
    EXPECT_EQ(instanceIds(mice), (QStringList{"HID\\VID_1A2C&PID_0E24&MI_00\\7&3B2A1C4D&0&0000",
                                              "HID\\ZORVA&COL02\\2&1C0FE9A5&0&0001"}));
    SetupDiDestroyDeviceInfoList(mice);

    HDEVINFO usb = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_DEVICE, nullptr, 0, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_EQ(interfacePaths(usb, GUID_DEVINTERFACE_USB_DEVICE),
              (QStringList{"\\\\?\\usb#vid_1a2c&pid_0e24#m100000001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
                           "\\\\?\\usb#vid_1a2c&pid_0e30#k100000001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"}));
    SetupDiDestroyDeviceInfoList(usb);

    GUID hid;
    HidD_GetHidGuid(&hid);
    EXPECT_EQ(hid, GUID_DEVINTERFACE_HID);
    HDEVINFO hids = SetupDiGetClassDevsA(&hid, nullptr, 0, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    const QStringList paths = interfacePaths(hids, hid);
    ASSERT_EQ(paths.size(), 9);
    EXPECT_EQ(paths[1], "\\\\?\\hid#vid_1a2c&pid_0e24&mi_01#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_TRUE(paths[7].startsWith("\\\\?\\hid#zorva&col03#"));
    // The interfaces of one device only.
    SP_DEVINFO_DATA first;
    first.cbSize = sizeof first;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(hids, 0, &first));
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof data;
    EXPECT_TRUE(SetupDiEnumDeviceInterfaces(hids, &first, &GUID_DEVINTERFACE_HID, 0, &data));
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(hids, &first, &GUID_DEVINTERFACE_HID, 1, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_ITEMS));
    SetupDiDestroyDeviceInfoList(hids);
}

TEST_F(SetupApiTest, IdsAndDetailsComeWithTheirSizes)
{
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_MOUSE, nullptr, 0, DIGCF_PRESENT);
    SP_DEVINFO_DATA info;
    info.cbSize = sizeof info;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &info));
    EXPECT_EQ(info.ClassGuid, GUID_DEVCLASS_MOUSE);

    // The instance id: a short buffer gives the characters needed, terminator included.
    const QString id = "HID\\VID_1A2C&PID_0E24&MI_00\\7&3B2A1C4D&0&0000";
    DWORD required = 0;
    WCHAR small[8];
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &info, small, 8, &required));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, DWORD(id.size() + 1));
    std::vector<WCHAR> exact(required);
    ASSERT_TRUE(SetupDiGetDeviceInstanceIdW(set, &info, exact.data(), required, nullptr));
    EXPECT_EQ(text(exact.data()), id);

    // The hardware ids: a multi-string whose size is in bytes.
    DWORD type = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID, &type, nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    const QString ids = QString("HID\\VID_1A2C&PID_0E24&REV_0100&MI_00|HID\\VID_1A2C&PID_0E24&MI_00|HID_DEVICE_SYSTEM_MOUSE|"
                                "HID_DEVICE_UP:0001_U:0002|HID_DEVICE||")
                            .replace('|', QChar(0));
    EXPECT_EQ(required, DWORD(ids.size() * 2));
    std::vector<BYTE> bytes(required);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID, &type, bytes.data(), required - 2, &required));
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID, &type, bytes.data(), required, &required));
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.data()), int(required / 2)), ids);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_COMPATIBLEIDS, &type, bytes.data(), required, &required));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));

    // Structures are taken at the size this layer declares them, not the 32-bit one.
    SP_DEVINFO_DATA wrong = info;
    wrong.cbSize = 28;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &wrong));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_USER_BUFFER));
    SetupDiDestroyDeviceInfoList(set);

    // The interface detail: sized for the path, fixed part at least; a wrong cbSize is refused.
    set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_DEVICE, nullptr, 0, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USB_DEVICE, 0, &data));
    const QString path = "\\\\?\\usb#vid_1a2c&pid_0e24#m100000001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(required, DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (path.size() + 1) * 2));
    std::vector<BYTE> buffer(required);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
    detail->cbSize = 6;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_USER_BUFFER));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required - 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    SP_DEVINFO_DATA owner;
    owner.cbSize = sizeof owner;
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, &owner));
    EXPECT_EQ(text(detail->DevicePath), path);
    EXPECT_EQ(owner.ClassGuid, GUID_DEVCLASS_USB);
    // The control can make the size query report something else once.
    win32sim::misreportNextDetailSize(2);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(required, 2u);
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApiTest, ASetIsASnapshotThatNamesOnlyItsOwnDevices)
{
    HDEVINFO before = SetupDiGetClassDevsW(&GUID_DEVCLASS_KEYBOARD, nullptr, 0, DIGCF_PRESENT);
    EXPECT_EQ(win32sim::removeDevice("hid\\vid_1a2c&pid_0e30&mi_00\\7&4c5d6e7f&0&0000"), 1);
    HDEVINFO after = SetupDiGetClassDevsW(&GUID_DEVCLASS_KEYBOARD, nullptr, 0, DIGCF_PRESENT);
    EXPECT_EQ(instanceIds(before).size(), 2);
    EXPECT_EQ(instanceIds(after), QStringList{"HID\\ZORVA&COL01\\2&1C0FE9A5&0&0000"});

    // A device of one set is not a device of another.
    SP_DEVINFO_DATA info;
    info.cbSize = sizeof info;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(before, 0, &info));
    WCHAR id[MAX_DEVICE_ID_LEN + 1];
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(after, &info, id, MAX_DEVICE_ID_LEN + 1, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    // Destroyed, a set is gone for good, and CloseHandle is not its release.
    EXPECT_FALSE(CloseHandle(after));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(after));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(after));
    EXPECT_FALSE(SetupDiEnumDeviceInfo(after, 0, &info));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetupDiDestroyDeviceInfoList(before);

    // Bad requests.
    EXPECT_EQ(SetupDiGetClassDevsW(nullptr, nullptr, 0, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetupDiGetClassDevsW(nullptr, u"USB", 0, DIGCF_ALLCLASSES), INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetupDiGetClassDevsW(nullptr, nullptr, 0, DIGCF_ALLCLASSES | 0x100), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_FLAGS));
    win32sim::failNextCall("SetupDiGetClassDevsA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, 0, DIGCF_ALLCLASSES), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    HDEVINFO again = SetupDiGetClassDevsA(nullptr, nullptr, 0, DIGCF_ALLCLASSES);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    SetupDiDestroyDeviceInfoList(again);
}

// The look-ups share the present devices until the tree changes: every change is seen by the
// next set, and by the path look-up of the HID calls.
TEST_F(SetupApiTest, EveryChangeOfTheTreeIsSeenByTheNextSet)
{
    const QString extra = "[device]\nClass=Mouse\nInstanceId=HID\\VID_AAAA&PID_0001\\1\n"
                          "Interface=HID,\\\\?\\hid#vid_aaaa&pid_0001#1#{4d1e55b2-f16f-11cf-88cb-001111000030}\n";
    const QString extraPath = "\\\\?\\HID#VID_AAAA&PID_0001#1#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    struct Case {
        const char* name;
        std::function<void()> change;
        int devices; // in the all-classes set after the change
        bool extraOpens;
    } cases[] = {
        {"devices added", [&] { win32sim::addDevices(extra); }, 17, true},
        {"a device removed", [] { win32sim::removeDevice("ROOT\\ZORVA\\0000"); }, 15, false},
        {"the virtual device uninstalled", [] { win32sim::setVirtualHidInstalled(false); }, 11, false},
        {"another tree loaded", [&] { win32sim::loadDeviceTree(extra); }, 1, true},
    };
    for (const Case& c : cases) {
        win32sim::resetDeviceTree();
        HDEVINFO before = SetupDiGetClassDevsW(nullptr, nullptr, 0, DIGCF_PRESENT | DIGCF_ALLCLASSES);
        c.change();
        HDEVINFO after = SetupDiGetClassDevsW(nullptr, nullptr, 0, DIGCF_PRESENT | DIGCF_ALLCLASSES);
        EXPECT_EQ(instanceIds(before).size(), 16) << c.name;
        EXPECT_EQ(instanceIds(after).size(), c.devices) << c.name;
        SetupDiDestroyDeviceInfoList(before);
        SetupDiDestroyDeviceInfoList(after);
        // A mouse opens without read or write access.
        HANDLE file = CreateFileA(extraPath.toUtf8().constData(), 0, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.extraOpens) << c.name;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
}

// A tree of 200,000 devices: the sets hold all of them, and the look-ups of a start (every device
// of every class, then the USB devices once per mouse) share the tree instead of copying it. The
// bound is a ceiling against the copying's hours, not a speed goal (bench/device_tree).
TEST_F(SetupApiTest, ATreeOfTwoHundredThousandDevices)
{
    const int kDevices = 200000, kMice = 1000;
    const QString tree = win32sim::generatedDeviceTree(kDevices - kMice, kMice);
    ASSERT_EQ(win32sim::loadDeviceTree(tree), kDevices);

    QElapsedTimer clock;
    clock.start();
    HDEVINFO all = SetupDiGetClassDevsW(nullptr, nullptr, 0, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    ASSERT_NE(all, INVALID_HANDLE_VALUE);
    EXPECT_EQ(instanceIds(all).size(), kDevices);
    // The last device, far beyond any 16-bit position.
    EXPECT_EQ(instanceIdAt(all, kDevices - 1), QString("USB\\VID_3333&PID_%1\\M").arg(kMice - 1, 4, 16, QChar('0')));
    SetupDiDestroyDeviceInfoList(all);
    for (int i = 0; i < kMice; ++i) {
        HDEVINFO usb = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_DEVICE, nullptr, 0,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        ASSERT_NE(usb, INVALID_HANDLE_VALUE);
        SP_DEVICE_INTERFACE_DATA data;
        data.cbSize = sizeof data;
        ASSERT_TRUE(SetupDiEnumDeviceInterfaces(usb, nullptr, &GUID_DEVINTERFACE_USB_DEVICE, DWORD(i), &data));
        EXPECT_FALSE(SetupDiEnumDeviceInterfaces(usb, nullptr, &GUID_DEVINTERFACE_USB_DEVICE, DWORD(kMice), &data));
        SetupDiDestroyDeviceInfoList(usb);
    }
    EXPECT_LT(clock.elapsed(), 60000);
}

TEST_F(SetupApiTest, QuirksOfAFileTree)
{
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(win32sim::loadDeviceTree("# two devices\n"
                                       "Class=Mouse\n" // before any device
                                       "[device]\n"
                                       "Class=Mouse\n"
                                       "InstanceId=HID\\VID_0001&PID_0002\\1\n"
                                       "Quirk=UnreadableInstanceId\n"
                                       "HidCaps=1,2,3\n"
                                       "[device]\n"
                                       "Class={4d36e96b-e325-11ce-bfc1-08002be10318}\n"
                                       "InstanceId=HID\\VID_0001&PID_0003\\1\n"
                                       "HardwareId=A\n"
                                       "HardwareId=BC\n"
                                       "Quirk=UnterminatedHardwareId\n"
                                       "[device]\n"
                                       "Class=Gadget\n"
                                       "InstanceId=X\\1\n"
                                       "HardwareId=LONG\n"
                                       "Quirk=GrowingHardwareId\n"),
              3);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("line 2 cannot be read; skipped: Class=Mouse"), std::string::npos) << errors;
    EXPECT_NE(errors.find("line 7 cannot be read; skipped: HidCaps=1,2,3"), std::string::npos) << errors;
    EXPECT_NE(errors.find("line 15 cannot be read; skipped: Class=Gadget"), std::string::npos) << errors;

    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, 0, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA info;
    info.cbSize = sizeof info;
    WCHAR id[64];
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &info));
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &info, id, 64, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_SUCH_DEVINST));
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID, nullptr, nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA)); // no hardware ids

    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 1, &info));
    EXPECT_EQ(info.ClassGuid, GUID_DEVCLASS_KEYBOARD);
    BYTE bytes[64];
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID, nullptr, bytes, sizeof bytes, &required));
    EXPECT_EQ(required, 8u); // "A", a terminator, "BC" and nothing after it
    EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes), 4), QString("A") + QChar(0) + "BC");

    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 2, &info));
    DWORD size = 0;
    for (int i = 0; i < 3; ++i) {
        std::vector<BYTE> buffer(size);
        EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID, nullptr, buffer.data(), size, &required));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_GT(required, size);
        size = required;
    }
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApiTest, TheEnvironmentNamesTheTreeFile)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("tree.txt");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[device]\nClass=Mouse\nInstanceId=HID\\VID_0001&PID_0002\\1\n");
    }
    qputenv("WIN32SIM_DEVICES", file.toLocal8Bit());
    win32sim::resetDeviceTree();
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, 0, DIGCF_ALLCLASSES);
    EXPECT_EQ(instanceIds(set), QStringList{"HID\\VID_0001&PID_0002\\1"});
    SetupDiDestroyDeviceInfoList(set);

    ::testing::internal::CaptureStderr();
    qputenv("WIN32SIM_DEVICES", dir.filePath("missing.txt").toLocal8Bit());
    win32sim::resetDeviceTree();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("cannot read the device-tree file"), std::string::npos);
    set = SetupDiGetClassDevsW(nullptr, nullptr, 0, DIGCF_ALLCLASSES);
    EXPECT_TRUE(instanceIds(set).isEmpty());
    SetupDiDestroyDeviceInfoList(set);

    qunsetenv("WIN32SIM_DEVICES");
    win32sim::resetDeviceTree();
    EXPECT_EQ(win32sim::loadDeviceTree(win32sim::defaultDeviceTree()), 16);
}

} // namespace
