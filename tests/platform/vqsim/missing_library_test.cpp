// The binding when "libvq.dll" cannot be found beside the program.
#include "test_app.h"
#include "vqsim_devices.h"

#include "app/window.h"

#include "devices/device_functions.h"

#include <gtest/gtest.h>

#include <QLibrary>

namespace {

class MissingLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication::get();
        ASSERT_FALSE(QLibrary(QStringLiteral("libvq.dll")).load());
        window = new Window();
        TestApplication::get()->setMainWindow(window);
    }
    void TearDown() override
    {
        TestApplication::get()->setMainWindow(nullptr);
        delete window;
    }
    Window* window = nullptr;
};

TEST_F(MissingLibraryTest, EverythingReportsItsFailureValue)
{
    DeviceFunctions functions;
    EXPECT_FALSE(functions.hasRgbDevice());
    DeviceInfoList list = functions.getDevices();
    for (uint8_t b : list.bytes)
        ASSERT_EQ(b, 0);
    EXPECT_TRUE(functions.deviceList().isEmpty());
    EXPECT_TRUE(window->deviceMap().isEmpty());

    const char16_t* id = u"HID\\VID_1A2C&PID_0E24";
    DeviceBlock block;
    block.bytes[0] = 1;
    EXPECT_EQ(functions.read(id, 4, 0).bytes[0], 0);
    EXPECT_EQ(functions.devices_handler::readProp(id, 4, 40).bytes[0], 0);
    EXPECT_FALSE(functions.write(id, block, 1, 0));
    EXPECT_FALSE(functions.writeProp(id, block, 1, 40));
    EXPECT_FALSE(functions.reset(id, 2, 0));
    EXPECT_FALSE(functions.deviceExist(id));
    EXPECT_FALSE(functions.eraseRom(id));
    EXPECT_FALSE(functions.notify(id, u"", uint16_t(1)));
    EXPECT_EQ(functions.ask(id, u"").bytes[0], 0);
    const uint8_t data14[14] = {1};
    EXPECT_FALSE(functions.idWrite(id, u"", data14));
    EXPECT_FALSE(functions.clearId(id, u""));
    EXPECT_FALSE(functions.notify(id, u"", data14, 14));
    EXPECT_EQ(functions.checkRom(id, 0, 0), -1);
    EXPECT_EQ(functions.bornRom(id, block, 0, 0), -1);
    functions.reboot(id);
    functions.finishUpdateRom(id);

    // Nothing is listed, so the operations by Version answer as for an absent device.
    EXPECT_FALSE(functions.resetDevice(QStringLiteral("M1.0")));
    EXPECT_EQ(functions.readProp(QStringLiteral("M1.0"), QStringLiteral("40"), QStringLiteral("2")),
              QStringLiteral("0x00,0x00"));
    EXPECT_EQ(functions.readDpiValue(QStringLiteral("M1.0"), QStringLiteral("1")),
              QByteArray(R"({"DpiXVal":"0","DpiYVal":"0"})"));
    const unsigned char report[1024] = {};
    EXPECT_FALSE(functions.notifyRgb(QStringLiteral("M1.0"), report));
}

TEST_F(MissingLibraryTest, ArgsOperationsFailWithoutTheLibrary)
{
    DeviceFunctions functions;
    QMap<QString, QVariant> args{{"HardwareID", "HID\\VID_1&PID_1"}, {"DevicePath", ""}, {"PARAMSIZE", 1},
                                 {"PARAMADDRESS", "0x10"}, {"PARAMDATA", "0x01"}, {"PARAMID", 40}};
    EXPECT_FALSE(functions.writeMemoryByArgs(args));
    EXPECT_FALSE(functions.updateMemoryByArgs(args));
    EXPECT_FALSE(functions.clearMemoryByArgs(args));
    EXPECT_TRUE(functions.isMemoryEmptyByArgs(args)); // reads give zero blocks
    EXPECT_EQ(functions.readPropertyByArgs(args), QStringLiteral("0x00"));
}

} // namespace
