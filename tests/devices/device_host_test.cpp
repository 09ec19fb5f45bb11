// The device code's ways to the program: the look-up and the event sink it finds registered, the
// order and number of the calls a device event makes through them, and what the device code
// answers while none is registered.
#include "row_name.h"
#include "test_app.h"

#include "cefclient/client_handler.h"
#include "devices/device_data_handler.h"
#include "devices/device_filter.h"
#include "devices/device_functions.h"
#include "devices/device_host.h"
#include "devices/devices_handler.h"

#include <gtest/gtest.h>

#include <QJsonObject>
#include <QStringList>
#include <QThread>

#include <vector>

namespace {

// Both seams write to one log, so that the order across them shows.
class RecordingHost : public DeviceLookup, public DeviceEventSink {
public:
    QMap<QString, QJsonObject> devicesByVersion() const override { return devices; }
    QMap<QString, QString> pageFiles() const override { return files; }
    void refreshDevices() override { calls << QStringLiteral("refresh"); }
    void stopMacroOutput() override { calls << QStringLiteral("stop"); }
    void setInputDevices(const InputDeviceList& list) override
    {
        calls << QStringLiteral("input devices");
        inputDevices = list;
    }
    void devicesChanged(int code) override { calls << QStringLiteral("changed %1").arg(code); }
    void deviceInput(const QString& hex) override { calls << QStringLiteral("input ") + hex; }
    void macroItem(const QString& a, const QString& b, const QString& c, const QString& d) override
    {
        calls << QStringList{QStringLiteral("macro"), a, b, c, d}.join(QLatin1Char(' '));
    }

    QMap<QString, QJsonObject> devices;
    QMap<QString, QString> files;
    QStringList calls;
    InputDeviceList inputDevices;
};

struct ListedFunctions : DeviceFunctions {
    using DeviceFunctions::findDevice;
};

// Puts lookup and sink in place of the registered ones for the test's length.
class Registered : public ::testing::Test {
protected:
    void use(DeviceLookup* lookup, DeviceEventSink* sink)
    {
        m_lookup = setDeviceLookup(lookup);
        m_sink = setDeviceEventSink(sink);
        m_swapped = true;
    }
    void TearDown() override
    {
        if (m_swapped) {
            setDeviceLookup(m_lookup);
            setDeviceEventSink(m_sink);
        }
    }

private:
    bool m_swapped = false;
    DeviceLookup* m_lookup = nullptr;
    DeviceEventSink* m_sink = nullptr;
};

class Doubles : public Registered {
protected:
    void SetUp() override { use(&host, &host); }
    RecordingHost host;
};

TEST_F(Doubles, AnActingEventRefreshesThenTellsThePageThenSetsTheInputDevices)
{
    const QStringList present = devices_handler::enumerateInputDevices().keys;
    // Ten library calls make two acting ones, five apart, wherever the counter stands.
    std::vector<int> acting;
    for (int i = 0; i < 10; ++i) {
        host.calls.clear();
        EXPECT_TRUE(deviceEventCallback(uint16_t(100 + i)));
        if (host.calls.isEmpty())
            continue;
        acting.push_back(i);
        EXPECT_EQ(host.calls, (QStringList{"refresh", QStringLiteral("changed %1").arg(100 + i), "input devices"}));
    }
    ASSERT_EQ(acting.size(), 2u);
    EXPECT_EQ(acting[1] - acting[0], 5);
    EXPECT_EQ(host.inputDevices.keys, present);
}

TEST_F(Doubles, FindDeviceAndTheConfigFileReadTheRegisteredLookup)
{
    QJsonObject mouse{{"Version", "M1.0"}, {"DeviceId", "HID\\VID_1A2C&PID_0E24\\1"}};
    host.devices.insert("M1.0", mouse);
    host.files.insert("a.xml", "<Configuration><Conf><Key Index=\"2\" Value=\"mine\"/></Conf></Configuration>");
    EXPECT_EQ(ListedFunctions::findDevice("M1.0"), mouse);
    EXPECT_TRUE(ListedFunctions::findDevice("K1.0").isEmpty());
    EXPECT_EQ(device_data_handler::findConfigFile("mine"), host.files.value("a.xml"));
    EXPECT_TRUE(device_data_handler::findConfigFile("other").isEmpty());
    EXPECT_TRUE(host.calls.isEmpty());
}

TEST_F(Doubles, NoReportIsRefused)
{
    const uint8_t* null = nullptr;
    EXPECT_TRUE(deviceDataCallback(nullptr, 8));
    EXPECT_TRUE(deviceDataCallback(&null, 8));
    EXPECT_TRUE(host.calls.isEmpty());
}

struct ReportRow {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* hex;
};

class DataReports : public Doubles, public ::testing::WithParamInterface<ReportRow> {};

TEST_P(DataReports, ReachTheSinkAsTheHexOfTheirFirstEightBytes)
{
    const uint8_t* report = GetParam().bytes.data();
    EXPECT_TRUE(deviceDataCallback(&report, int32_t(GetParam().bytes.size())));
    EXPECT_EQ(host.calls, QStringList{QStringLiteral("input ") + GetParam().hex});
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, DataReports,
    ::testing::Values(
        ReportRow{"Zeros", {0, 0, 0, 0, 0, 0, 0, 0}, "0000000000000000"},
        ReportRow{"EveryDigitLowerCase", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, "0123456789abcdef"},
        ReportRow{"BytesPastTheEighthLeftOut", {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10, 0xFF, 0x12},
                  "fedcba9876543210"}), test_support::RowName());

class NoneRegistered : public Registered {
protected:
    void SetUp() override
    {
        use(nullptr, nullptr);
        m_maker = DEVICE_FILTER::setDefaultHostMaker(nullptr);
    }
    void TearDown() override
    {
        DEVICE_FILTER::setDefaultHostMaker(m_maker);
        Registered::TearDown();
    }

private:
    DEVICE_FILTER::HostMaker m_maker = nullptr;
};

TEST_F(NoneRegistered, TheDeviceCodeFindsNothingAndEventsAreOnlyCounted)
{
    EXPECT_TRUE(ListedFunctions::findDevice("M1.0").isEmpty());
    EXPECT_TRUE(device_data_handler::findConfigFile("mine").isEmpty());
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(deviceEventCallback(2));
    const uint8_t bytes[8] = {0x01, 0x05};
    const uint8_t* report = bytes;
    EXPECT_TRUE(deviceDataCallback(&report, 8));
}

TEST_F(NoneRegistered, AFilterMadeWithoutAHostReadsNoMapping)
{
    TestApplication::get();
    QThread thread;
    DEVICE_FILTER filter(&thread);
    EXPECT_TRUE(filter.loadConfig(QString(), "HID\\VID_1A2C&PID_0E24"));
    EXPECT_FALSE(filter.loadConfig("map.xml", "HID\\VID_1A2C&PID_0E24"));
    EXPECT_TRUE(filter.configuredDevices().isEmpty());
    EXPECT_TRUE(filter.mappingForDevice("HID\\VID_1A2C&PID_0E24").isEmpty());
}

// The program's own, registered before the tests run (the look-up, the sink and the filter's
// default host): the application takes the input devices of an acting event while there is no
// main window and no handler.
TEST(ProgramRegistration, AnEventWithoutAWindowOrHandlerStillSetsTheApplicationsInputDevices)
{
    ASSERT_TRUE(deviceLookup());
    ASSERT_TRUE(deviceEventSink());
    const DEVICE_FILTER::HostMaker maker = DEVICE_FILTER::setDefaultHostMaker(nullptr);
    DEVICE_FILTER::setDefaultHostMaker(maker);
    ASSERT_TRUE(maker);
    TestApplication* app = TestApplication::get();
    app->setMainWindow(nullptr);
    const CefRefPtr<ClientHandler> handler = g_handler;
    g_handler = nullptr;
    const QStringList present = devices_handler::enumerateInputDevices().keys;
    ASSERT_FALSE(present.isEmpty());
    app->setInputDevices(InputDeviceList());
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(deviceEventCallback(2));
    EXPECT_EQ(app->inputDevices().keys, present);
    EXPECT_TRUE(ListedFunctions::findDevice("M1.0").isEmpty());
    EXPECT_TRUE(device_data_handler::findConfigFile("mine").isEmpty());
    app->setInputDevices(InputDeviceList());
    g_handler = handler;
}

} // namespace
