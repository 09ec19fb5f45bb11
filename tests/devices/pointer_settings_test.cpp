// Windows pointer settings: the setters, the simulated session, and the mouse configuration report.
#include "row_name.h"
#include "test_files.h"
#include "vqsim_devices.h"

#include "devices/device_functions.h"

#include "include/base/cef_logging.h"
#include "cef_extras/logging.h"

#include <windows.h>
#include "win32sim/pointer.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <climits>
#include <memory>

namespace {

using test_support::RowName;

const char* kWindowsDefaults =
    "defaultMouseAccel:1,defaultScrollLinesX:3,defaultMouseSpeed:5,defaultMouseDoubleClick:500,defaultScrollLinesY:3";

QString windowsPart(const QString& report)
{
    int at = report.indexOf(QLatin1String("defaultMouseAccel:"));
    return at < 0 ? QString() : report.mid(at);
}

// The value after a label of the report; every label but the last is followed by ",".
QString reported(const QString& report, const QString& label)
{
    int at = report.indexOf(label + ':');
    if (at < 0)
        return QString();
    at += label.size() + 1;
    int end = report.indexOf(QLatin1Char(','), at);
    return report.mid(at, end < 0 ? -1 : end - at);
}

class PointerSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        win32sim_resetPointerSettings();
        ASSERT_NO_FATAL_FAILURE(devices.open());
        functions = std::make_unique<DeviceFunctions>();
        vqsim().clearCalls();
    }
    void TearDown() override
    {
        devices.closeWindow();
        functions.reset();
        devices.sim.reset();
        win32sim_resetPointerSettings();
    }
    QString report() { return functions->windowsMouseConfig(QStringLiteral("M1.0")); }

    SimMainWindow devices;
    std::unique_ptr<DeviceFunctions> functions;
};

TEST_F(PointerSettingsTest, ReportOfTheMouseWithWindowsDefaults)
{
    EXPECT_EQ(report(), QStringLiteral("reporVal:1,curDpi:1,DpiXVal:800,DpiYVal:800,lightVal:1,2,3,ff0080,4,5,6,"
                                       "jittersVal:1,8,soundVal:0,3,") +
                            kWindowsDefaults);
    EXPECT_EQ(lastSimCall("vqReadProp").arg, 44);
}

TEST_F(PointerSettingsTest, UnlistedVersionReportsZerosForTheDevicePart)
{
    EXPECT_EQ(functions->windowsMouseConfig(QStringLiteral("Z9.9")),
              QStringLiteral("reporVal:0,curDpi:0,DpiXVal:0,DpiYVal:0,lightVal:0,0,0,000000,0,0,0,jittersVal:0,0,"
                             "soundVal:0,0,") +
                  kWindowsDefaults);
    EXPECT_EQ(vqsim().callCount(), 0);
    EXPECT_EQ(functions->windowsKeyboardConfig(), QString());
}

struct Step {
    const char* name;
    uint8_t step;
    int property;
};

void PrintTo(const Step& row, std::ostream* os) { *os << row.name; }

class CurrentStep : public PointerSettingsTest, public ::testing::WithParamInterface<Step> {};

TEST_P(CurrentStep, ChoosesTheResolutionProperty)
{
    const Step& c = GetParam();
    vqsim().setProp(kMouseId, 48, &c.step, 1);
    const QString text = report();
    VqSimCall call;
    bool found = false;
    for (int i = 0; vqsim().callAt(i, &call) == 0; ++i)
        if (std::string(call.name) == "vqReadProp" && call.length == 8)
            found = call.arg == c.property;
    EXPECT_TRUE(found) << int(c.step);
    EXPECT_EQ(reported(text, "curDpi"), QString::number(c.step));
}

INSTANTIATE_TEST_SUITE_P(PointerSettingsTest, CurrentStep,
    ::testing::Values(Step{"First", 0, 50}, Step{"Third", 2, 52}, Step{"Fifth", 4, 54}, Step{"BeyondTheSteps", 7, 7},
        Step{"ThePropertyItself", 0x32, 50}),
    RowName());

TEST_F(PointerSettingsTest, TheResolutionOfTheCurrentStepIsReported)
{
    const uint8_t dpi[8] = {0, 16, 0, 20, 0, 0, 0, 0};
    const uint8_t step = 2;
    vqsim().setProp(kMouseId, 48, &step, 1);
    vqsim().setProp(kMouseId, 52, dpi, 8);
    EXPECT_EQ(reported(report(), "DpiXVal"), QStringLiteral("800"));
    EXPECT_EQ(reported(report(), "DpiYVal"), QStringLiteral("1000"));
}

// A setting set first (kNothingFirst: none) and then the row's: a refused one keeps what was set.
const int kNothingFirst = INT_MIN;

// Sets first (unless kNothingFirst), then n; answers whether n was taken. A refusal says why.
bool setAfter(bool (*set)(int, QString*), int first, int n)
{
    if (first != kNothingFirst) {
        EXPECT_TRUE(set(first, nullptr)) << "the setting before, " << first;
    }
    QString why;
    const bool taken = set(n, &why);
    EXPECT_EQ(why.isEmpty(), taken) << qPrintable(why);
    return taken;
}

struct Acceleration {
    const char* name;
    int first;
    int n;
    bool ok;
    int threshold1, threshold2, acceleration;
    const char* reported;
};

void PrintTo(const Acceleration& row, std::ostream* os) { *os << row.name; }

class AccelerationRow : public PointerSettingsTest, public ::testing::WithParamInterface<Acceleration> {};

TEST_P(AccelerationRow, IsSetAndItsIndexReported)
{
    const Acceleration& c = GetParam();
    const int callsBefore = win32sim_pointerSettings().setCalls + (c.first != kNothingFirst ? 1 : 0);
    EXPECT_EQ(setAfter(&devices_handler::setMouseAcceleration, c.first, c.n), c.ok);
    const Win32PointerSettings s = win32sim_pointerSettings();
    EXPECT_EQ(s.setCalls, callsBefore + (c.ok ? 1 : 0));
    EXPECT_EQ(s.mouse[0], c.threshold1);
    EXPECT_EQ(s.mouse[1], c.threshold2);
    EXPECT_EQ(s.mouse[2], c.acceleration);
    if (c.ok) {
        EXPECT_EQ(s.lastWinIni, UINT(SPIF_UPDATEINIFILE));
    }
    EXPECT_EQ(reported(report(), "defaultMouseAccel"), QString(c.reported));
}

INSTANTIATE_TEST_SUITE_P(PointerSettingsTest, AccelerationRow,
    ::testing::Values(Acceleration{"Off", kNothingFirst, 0, true, 0, 0, 0, "0"},
        Acceleration{"Low", kNothingFirst, 1, true, 7, 0, 1, "1"},
        Acceleration{"High", kNothingFirst, 2, true, 4, 6, 2, "8"},
        Acceleration{"Medium", kNothingFirst, 3, true, 4, 0, 1, "1"},
        Acceleration{"BeyondTheRowsKeepsTheSetting", 3, 4, false, 4, 0, 1, "1"},
        Acceleration{"NegativeKeepsTheSetting", 3, -1, false, 4, 0, 1, "1"}),
    RowName());

struct DoubleClick {
    const char* name;
    int first;
    int n;
    bool ok;
    UINT ms;
    const char* reported;
};

void PrintTo(const DoubleClick& row, std::ostream* os) { *os << row.name; }

class DoubleClickTime : public PointerSettingsTest, public ::testing::WithParamInterface<DoubleClick> {};

TEST_P(DoubleClickTime, IsSetAndItsValueReported)
{
    const DoubleClick& c = GetParam();
    EXPECT_EQ(setAfter(&devices_handler::setDoubleClickTime, c.first, c.n), c.ok);
    EXPECT_EQ(GetDoubleClickTime(), c.ms);
    EXPECT_EQ(reported(report(), "defaultMouseDoubleClick"), QString(c.reported));
}

INSTANTIATE_TEST_SUITE_P(PointerSettingsTest, DoubleClickTime,
    ::testing::Values(DoubleClick{"Slowest", kNothingFirst, 0, true, 970, "0"},
        DoubleClick{"Second", kNothingFirst, 1, true, 900, "900"},
        DoubleClick{"Seventh", kNothingFirst, 6, true, 550, "4"},
        DoubleClick{"Eighth", kNothingFirst, 7, true, 480, "5"},
        DoubleClick{"Fastest", kNothingFirst, 11, true, 200, "9"},
        DoubleClick{"BeyondTheFastestKeepsTheSetting", 11, 12, false, 200, "9"},
        DoubleClick{"NegativeKeepsTheSetting", 11, -1, false, 200, "9"}),
    RowName());

struct Speed {
    const char* name;
    int first;
    int n;
    bool ok;
    const char* reported;
};

void PrintTo(const Speed& row, std::ostream* os) { *os << row.name; }

class MouseSpeed : public PointerSettingsTest, public ::testing::WithParamInterface<Speed> {};

TEST_P(MouseSpeed, IsSetAndReported)
{
    const Speed& c = GetParam();
    EXPECT_EQ(setAfter(&devices_handler::setMouseSpeed, c.first, c.n), c.ok);
    EXPECT_EQ(reported(report(), "defaultMouseSpeed"), QString(c.reported));
}

INSTANTIATE_TEST_SUITE_P(PointerSettingsTest, MouseSpeed,
    ::testing::Values(Speed{"Middle", kNothingFirst, 11, true, "5"}, Speed{"Slowest", kNothingFirst, 1, true, "0"},
        Speed{"Fastest", kNothingFirst, 20, true, "10"}, Speed{"ZeroKeepsTheSetting", 20, 0, false, "10"},
        Speed{"BeyondTheFastestKeepsTheSetting", 20, 21, false, "10"}),
    RowName());

TEST_F(PointerSettingsTest, WheelAndTrailsRoundTrip)
{
    EXPECT_TRUE(devices_handler::setWheelScrollLines(7));
    EXPECT_EQ(reported(report(), "defaultScrollLinesY"), QStringLiteral("7"));
    EXPECT_TRUE(devices_handler::setWheelScrollLines(int(WHEEL_PAGESCROLL)));
    EXPECT_EQ(reported(report(), "defaultScrollLinesY"), QStringLiteral("4294967295"));
    EXPECT_TRUE(devices_handler::setWheelScrollChars(9));
    EXPECT_EQ(reported(report(), "defaultScrollLinesX"), QStringLiteral("9"));

    EXPECT_TRUE(devices_handler::setMouseTrails(5));
    EXPECT_EQ(win32sim_pointerSettings().trails, 5);
    EXPECT_EQ(win32sim_pointerSettings().lastWinIni, UINT(SPIF_UPDATEINIFILE));

    // SwapMouseButton answers whether the buttons were swapped before the call.
    EXPECT_FALSE(devices_handler::swapMouseButtons(true));
    EXPECT_TRUE(devices_handler::swapMouseButtons(false));
    EXPECT_FALSE(win32sim_pointerSettings().buttonsSwapped);
}

TEST_F(PointerSettingsTest, FailingQueriesReportTheirStartingValues)
{
    ASSERT_TRUE(devices_handler::setMouseAcceleration(2));
    ASSERT_TRUE(devices_handler::setMouseSpeed(20));
    ASSERT_TRUE(devices_handler::setWheelScrollLines(9));
    ASSERT_TRUE(devices_handler::setWheelScrollChars(8));
    for (UINT action : {SPI_GETMOUSE, SPI_GETMOUSESPEED, SPI_GETWHEELSCROLLLINES, SPI_GETWHEELSCROLLCHARS})
        win32sim_failNextPointerCall(action);
    EXPECT_EQ(windowsPart(report()), QStringLiteral("defaultMouseAccel:0,defaultScrollLinesX:0,defaultMouseSpeed:5,"
                                                    "defaultMouseDoubleClick:500,defaultScrollLinesY:3"));
    EXPECT_EQ(windowsPart(report()), QStringLiteral("defaultMouseAccel:8,defaultScrollLinesX:8,defaultMouseSpeed:10,"
                                                    "defaultMouseDoubleClick:500,defaultScrollLinesY:9"));
}

TEST_F(PointerSettingsTest, SessionStartsFromWindowsDefaultsAndKeepsWhatIsSet)
{
    int mouse[3] = {};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETMOUSE, 0, mouse, 0));
    EXPECT_EQ(mouse[0], 6);
    EXPECT_EQ(mouse[1], 10);
    EXPECT_EQ(mouse[2], 1);
    EXPECT_EQ(GetDoubleClickTime(), 500u);
    EXPECT_TRUE(SetDoubleClickTime(0)); // 0 restores the default
    EXPECT_EQ(GetDoubleClickTime(), 500u);
    EXPECT_TRUE(SetDoubleClickTime(9000)); // capped
    EXPECT_EQ(GetDoubleClickTime(), 5000u);
    EXPECT_FALSE(SystemParametersInfoW(SPI_GETMOUSESPEED, 0, nullptr, 0));
    EXPECT_FALSE(SystemParametersInfoW(0x7777, 0, nullptr, 0));
    int speed = 0;
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETMOUSESPEED, 0, reinterpret_cast<PVOID>(intptr_t(3)), SPIF_UPDATEINIFILE));
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETMOUSESPEED, 0, &speed, 0));
    EXPECT_EQ(speed, 3);
}

TEST_F(PointerSettingsTest, ReportIsLogged)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("app.log");
    cef_logging::SetLogDestination(path.toStdString(), LOGSEVERITY_INFO);
    const QString text = report();
    cef_logging::SetLogDestination(std::string(), LOGSEVERITY_INFO);
    const QString log = QString::fromUtf8(test_support::readFile(path));
    EXPECT_TRUE(log.contains(text)) << qPrintable(log);
    EXPECT_TRUE(log.contains(":INFO:device_functions.cpp(")) << qPrintable(log);
}

struct Tokens {
    const char* name;
    const char* tokens;
    const char* lights;
    const char* pair;
};

void PrintTo(const Tokens& row, std::ostream* os) { *os << row.name; }

class MouseReportDecoders : public ::testing::TestWithParam<Tokens> {};

TEST_P(MouseReportDecoders, ShortAndFullTokenLists)
{
    const Tokens& c = GetParam();
    EXPECT_EQ(DeviceFunctions::decodeLights(c.tokens), QString(c.lights)) << c.tokens;
    EXPECT_EQ(DeviceFunctions::decodeJitters(c.tokens), QString(c.pair)) << c.tokens;
    EXPECT_EQ(DeviceFunctions::decodeVoices(c.tokens), QString(c.pair)) << c.tokens;
}

// Two digits per colour byte: colours with a channel below 0x10 stay apart.
INSTANTIATE_TEST_SUITE_P(Lists, MouseReportDecoders,
    ::testing::Values(Tokens{"Full", "0x01,0x02,0x03,0xff,0x00,0x80,0x04,0x05,0x06,0x07", "1,2,3,ff0080,4,5,6", "1,2"},
        Tokens{"ChannelBelowSixteen", "0x01,0x02,0x03,0xff,0x08,0x00,0x04,0x05,0x06,0x07", "1,2,3,ff0800,4,5,6", "1,2"},
        Tokens{"ChannelsBelowSixteen", "0x00,0x00,0x00,0x0a,0x0b,0x0c,0x00,0x00,0x00,0x00", "0,0,0,0a0b0c,0,0,0", "0,0"},
        Tokens{"OneToken", "0x05", "5,0,0,000000,0,0,0", "5,0"},
        Tokens{"None", "", "0,0,0,000000,0,0,0", "0,0"},
        Tokens{"EmptyTokens", ",0x01,,0x02,", "1,2,0,000000,0,0,0", "1,2"}),
    RowName());

} // namespace
