// The key-mapping files, the per-stroke decision and the capture loop over the simulated filter
// driver, with a host that records what the loop hands over instead of the main window.
#include "row_name.h"
#include "test_app.h"
#include "wait.h"

#include "devices/device_filter.h"

#include "win32sim/device_tree.h"
#include "win32sim/faults.h"
#include "win32sim/filter_driver.h"
#include "win32sim/handles.h"
#include "win32sim/process.h"

#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>

namespace {

using test_support::waitFor;
using win32sim::FilterMouseRecord;

const char kMouseId[] = "HID\\VID_1A2C&PID_0E24&REV_0100&MI_00";
const int kMouse = 11, kVirtualMouse = 12;

QString codeOf(const QString& key)
{
    static const QMap<QString, QString> codes{{"A", "04"}, {"B", "05"}, {"CTRL", "E0"}, {"SHIFT", "E1"}};
    return codes.value(key);
}

QString actionsText(const QList<MacroAction>& actions)
{
    QStringList out;
    for (const MacroAction& a : actions)
        out << a.first + ":" + a.second;
    return out.join(' ');
}

QString mapText(const DeviceKeyMap& map)
{
    QStringList out;
    for (auto it = map.begin(); it != map.end(); ++it)
        out << QString("%1/%2 pt%3 pc%4 %5")
                   .arg(it.key().first)
                   .arg(it.key().second)
                   .arg(it->playType)
                   .arg(it->playCount)
                   .arg(actionsText(it->actions));
    return out.join("; ");
}

// ---- The mapping file

struct ActionCase {
    const char* name;
    const char* task;
    const char* value;
    const char* actions;
};

void PrintTo(const ActionCase& c, std::ostream* os) { *os << c.name; }

class MappingActions : public ::testing::TestWithParam<ActionCase> {};

TEST_P(MappingActions, EachTaskKindGivesItsActions)
{
    const ActionCase& c = GetParam();
    EXPECT_EQ(actionsText(mappingActions(QString::fromUtf8(c.task), QString::fromUtf8(c.value), codeOf)).toStdString(),
              c.actions);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, MappingActions,
    ::testing::Values(
        // Steps trimmed; no code, no delay, a step without or starting with "(" and other verbs dropped.
        ActionCase{"Macro", "MACRO", " 按下 ( a ) 延迟(50)弹起(A)延迟( )按下(Q)(x)y移动(1)", "down:04 delayTime:50 up:04"},
        ActionCase{"MacroWithoutBrackets", "MACRO", "按下A弹起A", ""},
        ActionCase{"MacroHasNoMouseVerbs", "MACRO", "左键按下(1)左键弹起(1)", ""},
        ActionCase{"HotKeySkipsUnknownKeys", "HOTKEY", "ctrl+Shift+nope+a", "hotKey:E0,E1,04"},
        ActionCase{"ShortcutKeepsItsPath", "SHORTCUT", "C:/Tools/My App.exe", "shortcut:C:/Tools/My App.exe"},
        ActionCase{"TextKeepsItsCase", "TEXT", "Hello World", "text:Hello World"},
        ActionCase{"MouseLeft", "MOUSE", "单击左键()", "mouse:1"},
        ActionCase{"MouseRight", "MOUSE", "单击右键()", "mouse:2"},
        ActionCase{"MouseMiddle", "MOUSE", "单击中键()", "mouse:4"},
        ActionCase{"MouseForward", "MOUSE", "单击前进键()", "mouse:10"},
        ActionCase{"MouseBack", "MOUSE", "单击后退键()", "mouse:8"},
        ActionCase{"MouseOther", "MOUSE", "单击左键", "mouse:"},
        ActionCase{"Key", "KEYBROAD", "b", "keybroad:05"},
        ActionCase{"MouseMovePlaysNothing", "MOUSEMOVE", "10,10", ""},
        ActionCase{"OtherKind", "LIGHT", "On", "LIGHT:On"},
        ActionCase{"OtherKindWithoutValue", "LIGHT", "", ""}), test_support::RowName());

struct FileCase {
    const char* name;
    const char* text;
    bool ok;
    const char* map;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class MappingFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(MappingFiles, ParseIntoKeysAndTasks)
{
    const FileCase& c = GetParam();
    DeviceKeyMap map;
    map.insert(DeviceKey(1, 1), MacroTask()); // replaced only on success
    EXPECT_EQ(parseKeyMapping(QString::fromUtf8(c.text), codeOf, &map), c.ok);
    EXPECT_EQ(mapText(map).toStdString(), c.map);
}

INSTANTIATE_TEST_SUITE_P(
    Files, MappingFiles,
    ::testing::Values(
        // Task kinds in any case; the first child element; a later mapping of a key replaces an
        // earlier one; a mapping without a child element is skipped.
        FileCase{"Mappings",
                 "<conf><a flag=\"10\" scanCode=\"16\" playType=\"1\" playCount=\"3\"><t task=\"mouse\" "
                 "value=\"单击中键()\"/></a><b flag=\"0\" scanCode=\"30\"/><c flag=\"1\" scanCode=\"30\" playType=\"2\" "
                 "playCount=\"2\">x<t task=\"Text\" value=\"Hi\"/><u task=\"TEXT\" value=\"no\"/></c><a flag=\"10\" "
                 "scanCode=\"16\" playType=\"0\" playCount=\"1\"><t task=\"MOUSE\" value=\"单击右键()\"/></a></conf>",
                 true, "16/10 pt0 pc1 mouse:2; 30/1 pt2 pc2 text:Hi"},
        FileCase{"MacroKindInLowerCase",
                 "<conf><m flag=\"10\" scanCode=\"4\" playType=\"0\" playCount=\"1\"><t task=\"macro\" "
                 "value=\"按下(a)弹起(a)\"/></m></conf>",
                 true, "4/10 pt0 pc1 down:04 up:04"},
        FileCase{"NotANumber", "<conf><m flag=\"x\" scanCode=\"-4\"><t task=\"TEXT\" value=\"v\"/></m></conf>", true,
                 "0/0 pt0 pc0 text:v"},
        FileCase{"OnlyChildrenWithoutTasks", "<conf><m flag=\"10\" scanCode=\"16\"/></conf>", true, ""},
        FileCase{"Empty", "", false, "1/1 pt0 pc0 "},
        FileCase{"NoChild", "<conf/>", false, "1/1 pt0 pc0 "},
        FileCase{"OnlyText", "<conf>text</conf>", false, "1/1 pt0 pc0 "},
        FileCase{"Broken", "<conf><m flag=\"10\" scanCode=\"16\"><t task=\"TEXT\"", false, "1/1 pt0 pc0 "},
        FileCase{"OtherRoot", "<map><m flag=\"10\" scanCode=\"16\"><t task=\"TEXT\" value=\"v\"/></m></map>", false,
                 "1/1 pt0 pc0 "}), test_support::RowName());

TEST(HardwareIds, TheFirstIdStopsAtItsZeroAndAtTheBuffer)
{
    const uint8_t twoIds[] = {'A', 0, 'B', 0, 0, 0, 'C', 0};
    const uint8_t unterminated[] = {'A', 0, 'B', 0, 'C', 0, 'D', 0};
    EXPECT_EQ(firstHardwareId(twoIds, 8, 8), "AB");
    EXPECT_EQ(firstHardwareId(unterminated, 8, 8), "ABCD");
    EXPECT_EQ(firstHardwareId(unterminated, 1000, 8), "ABCD"); // a count past the buffer
    EXPECT_EQ(firstHardwareId(unterminated, 5, 8), "AB");
    EXPECT_EQ(firstHardwareId(unterminated, 0, 8), "");
}

// ---- The decision per stroke

MacroTask task(int playType, const char* mouse = "4")
{
    MacroTask t;
    t.playType = playType;
    t.playCount = 2;
    t.actions = {{"mouse", mouse}};
    return t;
}

const DeviceKeyMap& buttonMap()
{
    static const DeviceKeyMap map{{{16, 10}, task(0)},       {{4, 10}, task(1)}, {{64, 10}, task(2)},
                                  {{1, 10}, task(0, "1")},   {{30, 0}, task(0)}, {{0x1D, 1}, task(1)}};
    return map;
}

// Keys that are no press bit: they catch nothing.
const DeviceKeyMap& oddMap()
{
    static const DeviceKeyMap map{{{0, 10}, task(0)}, {{2, 10}, task(0)}, {{8, 10}, task(0)}, {{32, 10}, task(0)}};
    return map;
}

struct DecisionCase {
    const char* name;
    const DeviceKeyMap* map;
    bool keyboard;
    uint16_t code, state;
    QList<DeviceKey> heldBefore;
    bool deliver;
    StrokeDecision::Effect effect;
    int keyState;
    QList<DeviceKey> heldAfter;
    bool heldEnded = false; // the held keys' tasks were ended when their mapping was dropped
};

void PrintTo(const DecisionCase& c, std::ostream* os) { *os << c.name; }

class Decisions : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(Decisions, SwallowOnlyMappedPressesAndTheirReleases)
{
    const DecisionCase& c = GetParam();
    QList<HeldKey> held;
    for (const DeviceKey& k : c.heldBefore)
        held.append({k, buttonMap().value(k), c.heldEnded});
    const StrokeDecision d = decideStroke(*c.map, c.keyboard, c.code, c.state, held);
    EXPECT_EQ(d.deliver, c.deliver);
    EXPECT_EQ(d.effect, c.effect);
    QList<DeviceKey> after;
    for (const HeldKey& h : d.held)
        after << h.key;
    EXPECT_EQ(after, c.heldAfter);
    if (d.effect == StrokeDecision::RunTask) {
        EXPECT_EQ(d.keyState, c.keyState);
        // The task its press started.
        const DeviceKey key = c.keyboard ? DeviceKey(c.code, (c.state & 2) ? 1 : 0)
                                         : DeviceKey((d.kind == StrokeDecision::Press) ? c.state : c.state / 2, 10);
        EXPECT_EQ(d.task.playType, buttonMap().value(key).playType);
        EXPECT_EQ(d.task.actions, buttonMap().value(key).actions);
    }
}

const DeviceKeyMap kNoMap;
using E = StrokeDecision;
const DeviceKey kMiddle(16, 10), kRight(4, 10), kFourth(64, 10), kKeyA(30, 0), kCtrlR(0x1D, 1);

INSTANTIATE_TEST_SUITE_P(
    Strokes, Decisions,
    ::testing::Values(
        DecisionCase{"MiddlePressStartsItsTask", &buttonMap(), false, 0, 0x10, {}, false, E::RunTask, 0, {kMiddle}},
        DecisionCase{"MiddlePressedAgainIsSwallowedOnly", &buttonMap(), false, 0, 0x10, {kMiddle}, false, E::Nothing, 0,
                     {kMiddle}},
        DecisionCase{"MiddleReleaseFoundThroughItsHalf", &buttonMap(), false, 0, 0x20, {kMiddle}, false, E::RunTask, 1,
                     {}},
        DecisionCase{"ReleaseWhosePressWentOnGoesOn", &buttonMap(), false, 0, 0x20, {}, true, E::Nothing, 0, {}},
        DecisionCase{"RepeatingTaskStartsOnThePress", &buttonMap(), false, 0, 0x4, {kMiddle}, false, E::RunTask, 0,
                     {kMiddle, kRight}},
        DecisionCase{"RepeatingTaskStopsOnTheRelease", &buttonMap(), false, 0, 0x8, {kMiddle, kRight}, false,
                     E::StopOutput, 0, {kMiddle}},
        DecisionCase{"PlayOnReleaseDoesNothingOnThePress", &buttonMap(), false, 0, 0x40, {}, false, E::Nothing, 0,
                     {kFourth}},
        DecisionCase{"PlayOnReleasePlaysOnTheRelease", &buttonMap(), false, 0, 0x80, {kFourth}, false, E::RunTask, 1, {}},
        DecisionCase{"UnmappedButtonGoesOn", &buttonMap(), false, 0, 0x100, {}, true, E::Nothing, 0, {}},
        DecisionCase{"LeftPressGoesOnEvenMapped", &buttonMap(), false, 0, 0x1, {}, true, E::Nothing, 0, {}},
        DecisionCase{"LeftReleaseGoesOn", &buttonMap(), false, 0, 0x2, {}, true, E::Nothing, 0, {}},
        DecisionCase{"TwoButtonsInOneStrokeGoOn", &buttonMap(), false, 0, 0x14, {}, true, E::Nothing, 0, {}},
        DecisionCase{"NoButtonGoesOn", &buttonMap(), false, 0, 0, {}, true, E::Nothing, 0, {}},
        DecisionCase{"KeyedZeroCatchesNoLeftPress", &oddMap(), false, 0, 0x1, {}, true, E::Nothing, 0, {}},
        DecisionCase{"KeyedTwoCatchesNoRightPress", &oddMap(), false, 0, 0x4, {}, true, E::Nothing, 0, {}},
        DecisionCase{"KeyedEightCatchesNoRightRelease", &oddMap(), false, 0, 0x8, {}, true, E::Nothing, 0, {}},
        DecisionCase{"KeyedThirtyTwoCatchesNoFourthPress", &oddMap(), false, 0, 0x40, {}, true, E::Nothing, 0, {}},
        DecisionCase{"KeyedThirtyTwoCatchesNoMiddleRelease", &oddMap(), false, 0, 0x20, {}, true, E::Nothing, 0, {}},
        DecisionCase{"ReleaseAfterItsMappingWentStopsTheTask", &kNoMap, false, 0, 0x20, {kMiddle}, false,
                     E::StopOutput, 0, {}},
        DecisionCase{"PressAfterTheMappingWentGoesOn", &kNoMap, false, 0, 0x4, {kMiddle}, true, E::Nothing, 0,
                     {kMiddle}},
        DecisionCase{"ReleaseOfATaskEndedWithItsMappingIsOnlySwallowed", &kNoMap, false, 0, 0x20, {kMiddle}, false,
                     E::Nothing, 0, {}, true},
        DecisionCase{"ReleaseOfAnEndedTaskPlaysNoReleaseUnderANewMapping", &buttonMap(), false, 0, 0x20, {kMiddle},
                     false, E::Nothing, 0, {}, true},
        DecisionCase{"PressAgainOfAnEndedTaskStartsNothing", &buttonMap(), false, 0, 0x10, {kMiddle}, false,
                     E::Nothing, 0, {kMiddle}, true},
        DecisionCase{"KeyPress", &buttonMap(), true, 30, 0x0, {}, false, E::RunTask, 0, {kKeyA}},
        DecisionCase{"KeyRelease", &buttonMap(), true, 30, 0x1, {kKeyA}, false, E::RunTask, 1, {}},
        DecisionCase{"ExtendedKeyPress", &buttonMap(), true, 0x1D, 0x2, {}, false, E::RunTask, 0, {kCtrlR}},
        DecisionCase{"ExtendedKeyRelease", &buttonMap(), true, 0x1D, 0x3, {kCtrlR}, false, E::StopOutput, 0, {}},
        DecisionCase{"PlainKeyIsNotTheExtendedOne", &buttonMap(), true, 0x1D, 0x0, {}, true, E::Nothing, 0, {}},
        DecisionCase{"KeyReleaseNotHeldGoesOn", &buttonMap(), true, 30, 0x1, {}, true, E::Nothing, 0, {}}),
    test_support::RowName());

// ---- The loop

// Records what the loop hands over; its files and present devices are the test's.
class RecordingHost : public DEVICE_FILTER::Host {
public:
    bool mappingText(const QString& path, QString* text) override
    {
        std::lock_guard<std::mutex> g(lock);
        if (!files.contains(path))
            return false;
        *text = files.value(path);
        return true;
    }
    QString hidCodeOfKey(const QString& key) override { return codeOf(key); }
    InputDeviceList inputDevices() override
    {
        std::lock_guard<std::mutex> g(lock);
        return devices;
    }
    void runTask(const MacroTask& task, int keyState) override
    {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> g(lock);
            handed << QString("run(pt%1,ks%2,%3)").arg(task.playType).arg(keyState).arg(actionsText(task.actions));
            hook = onRun;
        }
        if (hook)
            hook();
    }
    void stopOutput() override
    {
        std::lock_guard<std::mutex> g(lock);
        handed << "stop";
    }
    QStringList calls()
    {
        std::lock_guard<std::mutex> g(lock);
        return handed;
    }
    void addDevice(const QString& hardwareId)
    {
        std::lock_guard<std::mutex> g(lock);
        InputDeviceRecord r;
        r.hardwareId = hardwareId;
        devices.devices << r;
        devices.keys << hardwareId;
    }

    std::mutex lock;
    QMap<QString, QString> files;
    InputDeviceList devices;
    QStringList handed;
    std::function<void()> onRun;
};

QString mapping(int scanCode, int playType, const char* value = "单击中键()")
{
    return QString("<conf><m flag=\"10\" scanCode=\"%1\" playType=\"%2\" playCount=\"2\"><t task=\"MOUSE\" value=\"%3\"/>"
                   "</m></conf>")
        .arg(scanCode)
        .arg(playType)
        .arg(QString::fromUtf8(value));
}

FilterMouseRecord stroke(uint16_t buttons)
{
    FilterMouseRecord r;
    r.buttonFlags = buttons;
    r.flags = 0x1;
    r.buttonData = 0x1234;
    r.lastX = -77;
    r.lastY = 99;
    r.extraInformation = 0xFEEDF00D;
    return r;
}

class CaptureLoopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication::get();
        win32sim::resetDeviceTree();
        win32sim::resetProcess();
        handles = win32sim::openHandleCount();
        blocks = win32sim::liveHeapBlocks();
        host->addDevice(kMouseId);
        host->addDevice("HID\\ZORVA&COL02");
        host->files["map.xml"] = mapping(16, 0);
    }
    void TearDown() override
    {
        if (filter) {
            filter->requestStop();
            EXPECT_TRUE(ended());
            delete filter;
            // The thread object is kept: its end is ordered by a lock inside Qt that the thread
            // checker cannot see.
        }
        EXPECT_EQ(win32sim::openHandleCount(), handles);
        EXPECT_EQ(win32sim::liveHeapBlocks(), blocks);
        win32sim::resetDeviceTree();
        win32sim::resetProcess();
    }
    // Starts the loop and waits until it has set the mice's filter.
    void start(bool waitForFilter = true)
    {
        thread = new QThread;
        filter = new DEVICE_FILTER(thread, host);
        ASSERT_TRUE(filter->loadConfig("map.xml", kMouseId));
        thread->start();
        if (waitForFilter) {
            ASSERT_TRUE(waitFor([] { return win32sim::filterOf(kMouse) == 0x3FF; }));
        }
    }
    bool ended(int ms = 20000)
    {
        thread->quit();
        return thread->wait(ulong(ms));
    }
    // Injects the stroke and waits until the loop has taken it.
    void inject(int device, const FilterMouseRecord& r)
    {
        ASSERT_EQ(win32sim::injectMouseStroke(device, r), win32sim::StrokeRoute::Queued);
        ASSERT_TRUE(waitFor([&] { return win32sim::queuedStrokes(device) == 0; }));
    }
    bool handedOver(const QStringList& calls)
    {
        return waitFor([&] { return host->calls() == calls; });
    }

    std::shared_ptr<RecordingHost> host = std::make_shared<RecordingHost>();
    QThread* thread = nullptr;
    DEVICE_FILTER* filter = nullptr;
    int handles = 0, blocks = 0;
};

TEST_F(CaptureLoopTest, AMappedButtonIsSwallowedAndOtherStrokesGoOnAsTheyCame)
{
    start();
    EXPECT_EQ(win32sim::filterOf(1), 0); // keyboards keep no filter
    EXPECT_EQ(win32sim::priorityClassCalls(), std::vector<DWORD>{HIGH_PRIORITY_CLASS});
    inject(kMouse, stroke(0x10));
    inject(kMouse, stroke(0x20));
    EXPECT_TRUE(handedOver({"run(pt0,ks0,mouse:4)", "run(pt0,ks1,mouse:4)"}));
    // Unmapped buttons, and the virtual device's own even with the same mapping, go on unchanged.
    ASSERT_TRUE(filter->loadConfig("map.xml", "HID\\ZORVA&COL02"));
    inject(kMouse, stroke(0x4));
    inject(kVirtualMouse, stroke(0x10));
    inject(kVirtualMouse, stroke(0x20));
    ASSERT_TRUE(waitFor([] { return win32sim::deliveredStrokes().size() == 3; }));
    const std::vector<win32sim::DeliveredStroke> d = win32sim::deliveredStrokes();
    EXPECT_EQ(d[0].device, kMouse);
    EXPECT_TRUE(d[0].written);
    EXPECT_EQ(d[0].mouse, stroke(0x4));
    EXPECT_EQ(d[1].device, kVirtualMouse);
    EXPECT_EQ(d[1].mouse, stroke(0x10));
    EXPECT_EQ(d[2].mouse, stroke(0x20));
    EXPECT_EQ(host->calls().size(), 2);

    // After the mapping is dropped the button goes on.
    EXPECT_TRUE(filter->removeDeviceConfig(kMouseId));
    inject(kMouse, stroke(0x10));
    ASSERT_TRUE(waitFor([] { return win32sim::deliveredStrokes().size() == 4; }));
    EXPECT_EQ(win32sim::deliveredStrokes().back().mouse, stroke(0x10));

    // The end restores the priority.
    filter->requestStop();
    ASSERT_TRUE(ended());
    EXPECT_EQ(win32sim::priorityClassCalls(), (std::vector<DWORD>{HIGH_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS}));
    EXPECT_EQ(win32sim::filterOf(kMouse), 0);
}

TEST_F(CaptureLoopTest, AStopEndsALoopWaitingForAStroke)
{
    start();
    QElapsedTimer timer;
    timer.start();
    std::thread([this] { filter->requestStop(); }).join();
    ASSERT_TRUE(ended());
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(win32sim::priorityClassCalls(), (std::vector<DWORD>{HIGH_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS}));
}

TEST_F(CaptureLoopTest, TheStrokeTakenWithTheStopGoesOnAndHeldTasksEnd)
{
    // The stop arrives while the press is handed over, the next stroke just behind it.
    host->onRun = [this] {
        filter->requestStop();
        EXPECT_EQ(win32sim::injectMouseStroke(kMouse, stroke(0x20)), win32sim::StrokeRoute::Queued);
    };
    start();
    ASSERT_EQ(win32sim::injectMouseStroke(kMouse, stroke(0x10)), win32sim::StrokeRoute::Queued);
    ASSERT_TRUE(ended());
    const std::vector<win32sim::DeliveredStroke> d = win32sim::deliveredStrokes();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].mouse, stroke(0x20));
    EXPECT_EQ(host->calls(), (QStringList{"run(pt0,ks0,mouse:4)", "stop"}));
}

TEST_F(CaptureLoopTest, DroppingTheMappingOfAHeldButtonStopsItsTaskAtOnce)
{
    host->files["map.xml"] = mapping(16, 1);
    start();
    inject(kMouse, stroke(0x10));
    ASSERT_TRUE(handedOver({"run(pt1,ks0,mouse:4)"}));
    EXPECT_TRUE(filter->removeDeviceConfig(kMouseId));
    EXPECT_EQ(host->calls(), (QStringList{"run(pt1,ks0,mouse:4)", "stop"}));
    // Its release is swallowed as its press was, and stops nothing more.
    inject(kMouse, stroke(0x20));
    EXPECT_TRUE(filter->loadConfig("map.xml", kMouseId)); // nothing held: nothing to stop
    filter->removeDeviceConfig(kMouseId);
    EXPECT_EQ(host->calls(), (QStringList{"run(pt1,ks0,mouse:4)", "stop"}));
    inject(kMouse, stroke(0x10));
    ASSERT_TRUE(waitFor([] { return win32sim::deliveredStrokes().size() == 1; }));
    EXPECT_EQ(win32sim::deliveredStrokes()[0].mouse, stroke(0x10));
}

TEST_F(CaptureLoopTest, HeldButtonsAreKeptPerDevice)
{
    win32sim::addDevices("[device]\nClass=Mouse\nInstanceId=HID\\VID_3000&PID_0001\\1\nHardwareId=HID\\VID_3000&PID_0001\n");
    const int second = win32sim::filterDeviceOf("HID\\VID_3000&PID_0001\\1");
    ASSERT_EQ(second, 13);
    host->addDevice("HID\\VID_3000&PID_0001");
    start();
    ASSERT_TRUE(filter->loadConfig("map.xml", "HID\\VID_3000&PID_0001"));
    inject(kMouse, stroke(0x10));
    inject(second, stroke(0x10));
    inject(second, stroke(0x20));
    inject(kMouse, stroke(0x20));
    EXPECT_TRUE(handedOver(
        {"run(pt0,ks0,mouse:4)", "run(pt0,ks0,mouse:4)", "run(pt0,ks1,mouse:4)", "run(pt0,ks1,mouse:4)"}));
    EXPECT_TRUE(win32sim::deliveredStrokes().empty());
}

TEST_F(CaptureLoopTest, WithoutTheDriverTheLoopEndsAtOnceAndLeavesThePriority)
{
    win32sim::setFilterDriverInstalled(false);
    start(false);
    ASSERT_TRUE(ended());
    EXPECT_TRUE(win32sim::priorityClassCalls().empty());
}

TEST_F(CaptureLoopTest, AFailingWaitEndsTheLoop)
{
    win32sim::failNextCall("WaitForMultipleObjects", ERROR_INVALID_HANDLE);
    start(false);
    ASSERT_TRUE(ended());
    EXPECT_EQ(win32sim::priorityClassCalls(), (std::vector<DWORD>{HIGH_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS}));
}

// ---- Activating mappings

TEST_F(CaptureLoopTest, AMappingAppliesToThePresentDeviceWithItsHardwareId)
{
    thread = new QThread;
    filter = new DEVICE_FILTER(thread, host);
    host->files["bad.xml"] = "<conf><m";
    host->files["none.xml"] = "<conf><m flag=\"10\" scanCode=\"16\"/></conf>";
    ASSERT_TRUE(filter->loadConfig("map.xml", kMouseId));
    ASSERT_TRUE(filter->loadConfig("map.xml", "HID\\ZORVA&COL02"));
    ASSERT_TRUE(filter->loadConfig("map.xml", "HID\\VID_FFFF&PID_0001")); // not present
    EXPECT_EQ(filter->configuredDevices(), (QStringList{kMouseId, "HID\\ZORVA&COL02", "HID\\VID_FFFF&PID_0001"}));
    const QString expected = "16/10 pt0 pc2 mouse:4";
    EXPECT_EQ(mapText(filter->mappingForDevice(kMouseId)), expected);
    // Up to the first zero, in any letter case.
    EXPECT_EQ(mapText(filter->mappingForDevice(QString(kMouseId).toLower() + QChar(0) + "HID_DEVICE")), expected);
    // A device listed with lower-case letters, as collection ids often are, is found by an id in
    // either case; its mapping is activated under the id as listed.
    const QString listedLower = "HID\\VID_1a2c&PID_0e4f&Col02";
    host->addDevice(listedLower);
    ASSERT_TRUE(filter->loadConfig("map.xml", listedLower));
    EXPECT_EQ(mapText(filter->mappingForDevice(listedLower)), expected);
    EXPECT_EQ(mapText(filter->mappingForDevice(listedLower.toUpper())), expected);
    EXPECT_TRUE(filter->removeDeviceConfig(listedLower));
    EXPECT_TRUE(filter->mappingForDevice("HID\\ZORVA&COL02").isEmpty());
    EXPECT_TRUE(filter->mappingForDevice("HID\\VID_FFFF&PID_0001").isEmpty());
    EXPECT_TRUE(filter->mappingForDevice("").isEmpty());

    // A file that cannot be read or parsed keeps the working mapping.
    EXPECT_FALSE(filter->loadConfig("bad.xml", kMouseId));
    EXPECT_FALSE(filter->loadConfig("missing.xml", kMouseId));
    EXPECT_EQ(mapText(filter->mappingForDevice(kMouseId)), expected);
    EXPECT_TRUE(filter->loadConfig("", kMouseId));
    EXPECT_EQ(mapText(filter->mappingForDevice(kMouseId)), expected);
    // No device id: nothing added.
    EXPECT_FALSE(filter->loadConfig("map.xml", ""));
    EXPECT_EQ(filter->configuredDevices().size(), 3);
    // A file without mappings leaves the device none.
    EXPECT_TRUE(filter->loadConfig("none.xml", kMouseId));
    EXPECT_TRUE(filter->mappingForDevice(kMouseId).isEmpty());
    EXPECT_FALSE(filter->removeDeviceConfig(kMouseId));
    EXPECT_TRUE(filter->removeDeviceConfig("HID\\ZORVA&COL02"));
    EXPECT_FALSE(filter->removeDeviceConfig(""));
    EXPECT_EQ(filter->configuredDevices(), QStringList{"HID\\VID_FFFF&PID_0001"});
    thread->start();
}

} // namespace
