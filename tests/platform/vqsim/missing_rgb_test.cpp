// The binding when only "Hexlane.dll" is missing: colour reports are not sent, all else works.
#include "test_app.h"
#include "vqsim_devices.h"

#include "app/window.h"

#include "devices/device_functions.h"

#include <gtest/gtest.h>

#include <QLibrary>

#include <memory>

namespace {

TEST(MissingRgbLibrary, OnlyColourReportsAreLost)
{
    TestApplication::get();
    ASSERT_TRUE(vqsim().loaded());
    ASSERT_FALSE(QLibrary(QStringLiteral("Hexlane.dll")).load());
    SimDevices sim;
    std::unique_ptr<Window> window(new Window());
    TestApplication::get()->setMainWindow(window.get());

    DeviceFunctions functions;
    EXPECT_FALSE(functions.hasRgbDevice());
    EXPECT_EQ(window->deviceMap().keys(), (QStringList{"K1.0", "M1.0"}));
    EXPECT_TRUE(functions.writeTask(QStringLiteral("M1.0"), QStringLiteral("40"), QStringLiteral("0x04"),
                                    QStringLiteral("1")));
    EXPECT_EQ(functions.readProp(QStringLiteral("M1.0"), QStringLiteral("40"), QStringLiteral("1")),
              QStringLiteral("0x04"));
    EXPECT_TRUE(functions.writeSlot(QStringLiteral("K1.0"), QStringLiteral("0x1958"), QStringLiteral("2"),
                                    QStringLiteral("0x01,0x02")));
    EXPECT_FALSE(functions.isSlotEmpty(QStringLiteral("K1.0"), QStringLiteral("0x1958"), QStringLiteral("200")));
    EXPECT_TRUE(functions.resetDevice(QStringLiteral("M1.0")));
    const unsigned char report[1024] = {5, 2};
    EXPECT_FALSE(functions.notifyRgb(QStringLiteral("K1.0"), report));
    EXPECT_EQ(vqsim().lastRgb("K1.0", nullptr, nullptr), 0);
    TestApplication::get()->setMainWindow(nullptr);
}

} // namespace
