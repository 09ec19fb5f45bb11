// Mapped mouse buttons through the whole program: the main window with its virtual device
// connected, the capture loop on the simulated filter driver, a mapping activated by the page
// command, and the macro worker's reports on the virtual device.
#include "fake_macro_clock.h"
#include "hid_reports.h"
#include "recording_callback.h"
#include "row_name.h"
#include "test_files.h"
#include "wait.h"
#include "window_fixture.h"

#include "app/application.h"
#include "app/window.h"
#include "devices/device_filter.h"
#include "devices/devices_handler.h"

#include "win32sim/device_tree.h"
#include "win32sim/filter_driver.h"
#include "win32sim/handles.h"
#include "win32sim/process.h"
#include "win32sim/virtual_hid.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>

#include <cstring>

#include <gtest/gtest.h>

#include <atomic>

namespace {

using test_support::RecordingCallback;
using test_support::reportCount;
using test_support::reports;
using test_support::waitFor;
using win32sim::FilterMouseRecord;

const int kMouse = 11, kVirtualMouse = 12;

FilterMouseRecord stroke(uint16_t buttons)
{
    FilterMouseRecord r;
    r.buttonFlags = buttons;
    r.buttonData = 0x0102;
    r.lastX = 3;
    r.lastY = -4;
    r.extraInformation = 0x5566;
    return r;
}

class CaptureWindowTest : public test_support::WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        win32sim::resetDeviceTree();
        win32sim::resetProcess();
        openWindow();
        ASSERT_TRUE(test_support::writeFile(path("Resources/define.xml"),
                                            "<keyboard><key value=\"A\" hidCode=\"04\"/></keyboard>"));
        ASSERT_TRUE(app->loadDefine());
        window->setMacroClock(clock);
        window->connectVMulti();
        ASSERT_TRUE(window->GetVirtualDeviceStatus());
        // The present devices as the program enumerates them: the mouse's hardware id is the one
        // the driver gives.
        app->setInputDevices(devices_handler::enumerateInputDevices());
        for (const InputDeviceRecord& r : app->inputDevices().devices)
            if (r.type == "mouse")
                mouseId = r.hardwareId;
        const std::vector<win32sim::FilterDevice> devices = win32sim::filterDevices();
        ASSERT_EQ(devices[2].device, kMouse);
        ASSERT_EQ(mouseId, devices[2].hardwareIds.value(0));
        window->startDeviceFilter();
        ASSERT_TRUE(waitFor([] { return win32sim::filterOf(kMouse) == 0x3FF; }));
        win32sim::clearVirtualHid();
    }
    void TearDown() override
    {
        clock->setRunsOnItsOwn(true);
        WindowFixture::TearDown();
        EXPECT_EQ(win32sim::filterOf(kMouse), 0);
        win32sim::resetDeviceTree();
        win32sim::resetProcess();
    }
    // The answer of one page command.
    QString command(const QString& request)
    {
        CefRefPtr<RecordingCallback> cb = new RecordingCallback;
        cb->AddRef(); // the query handler's
        window->onJsMessage(request, cb);
        QStringList out;
        for (const RecordingCallback::Answer& a : cb->answers())
            out << (a.success ? "S:" : "F:") + a.text;
        return out.join('\n');
    }
    // A mapping of the middle button, activated for the mouse.
    void activate(const QString& task, const QString& value, int playType, int playCount)
    {
        ASSERT_TRUE(test_support::writeFile(path("maps/mouse.xml"),
                                            QString("<conf><m flag=\"10\" scanCode=\"16\" playType=\"%1\" "
                                                    "playCount=\"%2\"><t task=\"%3\" value=\"%4\"/></m></conf>")
                                                .arg(playType)
                                                .arg(playCount)
                                                .arg(task, value)
                                                .toUtf8()));
        ASSERT_EQ(command(QString(R"({"FuncName":"setVDevice","virtualXmlPath":"maps/mouse.xml","deviceId":"%1"})")
                              .arg(QString(mouseId).replace("\\", "\\\\"))),
                  "S:setVDevice success!");
    }
    // Injects a stroke of the mouse and waits until the loop has taken it.
    void inject(int device, uint16_t buttons)
    {
        ASSERT_EQ(win32sim::injectMouseStroke(device, stroke(buttons)), win32sim::StrokeRoute::Queued);
        ASSERT_TRUE(waitFor([&] { return win32sim::queuedStrokes(device) == 0; }));
    }
    // The virtual device's reports, once they read expected: the release of all keys that ends a
    // task is written by the window when the task's end reaches it, which may follow the worker's
    // going idle.
    void expectReports(const std::string& expected)
    {
        waitFor([&] { return reports().join(' ').toStdString() == expected; });
        EXPECT_EQ(reports().join(' ').toStdString(), expected);
    }
    bool idle()
    {
        return waitFor([&] {
            commandExec* worker = window->macroWorker();
            return worker && worker->isIdle();
        });
    }
    // The strokes that went on, of one device.
    static std::vector<win32sim::DeliveredStroke> delivered(int device)
    {
        std::vector<win32sim::DeliveredStroke> out;
        for (const win32sim::DeliveredStroke& d : win32sim::deliveredStrokes())
            if (d.device == device)
                out.push_back(d);
        return out;
    }

    std::shared_ptr<test_support::FakeMacroClock> clock = std::make_shared<test_support::FakeMacroClock>();
    QString mouseId;
};

TEST_F(CaptureWindowTest, AMappedMiddleButtonPlaysItsMacroAndNeitherStrokeGoesOn)
{
    activate("MACRO", "按下(a)延迟(20)弹起(a)", 0, 1);
    inject(kMouse, 0x10);
    ASSERT_TRUE(idle());
    inject(kMouse, 0x20);
    ASSERT_TRUE(idle());
    expectReports("k00:04 k00:00 k00:00");
    EXPECT_TRUE(delivered(kMouse).empty());
}

TEST_F(CaptureWindowTest, AMouseTaskPressesOnThePressAndReleasesOnTheRelease)
{
    activate("MOUSE", "单击中键()", 0, 1);
    inject(kMouse, 0x10);
    ASSERT_TRUE(idle());
    expectReports("m04:00 k00:00"); // each task ends with all keys up
    EXPECT_EQ(win32sim::virtualHidState().relativeButtons, 0x04);
    inject(kMouse, 0x20);
    ASSERT_TRUE(idle());
    expectReports("m04:00 k00:00 m00:00 k00:00");
    EXPECT_EQ(win32sim::virtualHidState().relativeButtons, 0);
    // The virtual device's own button came back through the loop and went on.
    ASSERT_TRUE(waitFor([] { return delivered(kVirtualMouse).size() == 2; }));
    const std::vector<win32sim::DeliveredStroke> back = delivered(kVirtualMouse);
    EXPECT_EQ(back[0].mouse.buttonFlags, 0x10);
    EXPECT_EQ(back[1].mouse.buttonFlags, 0x20);
    EXPECT_TRUE(delivered(kMouse).empty());
}

TEST_F(CaptureWindowTest, ARepeatingTaskPlaysUntilTheRelease)
{
    activate("MOUSE", "单击右键()", 1, 1);
    clock->setRunsOnItsOwn(false);
    inject(kMouse, 0x10);
    for (int pass = 0; pass < 2; ++pass)
        for (int sleep = 0; sleep < 2; ++sleep) {
            ASSERT_TRUE(waitFor([&] { return clock->sleeping(); }));
            const size_t sleeps = clock->sleeps().size();
            clock->advance(100);
            ASSERT_TRUE(waitFor([&] { return clock->sleeps().size() > sleeps || !clock->sleeping(); }));
        }
    ASSERT_TRUE(waitFor([&] { return clock->sleeping(); }));
    const QStringList played = reports();
    EXPECT_GE(played.count("m02:00"), 2) << played.join(' ').toStdString();
    inject(kMouse, 0x20);
    ASSERT_TRUE(idle());
    // The stop's release reports after the last pass.
    const char* released = "m02:00 k00:00 m00:00 k00:00";
    waitFor([&] { return reports().join(' ').endsWith(released); });
    const QStringList r = reports();
    EXPECT_TRUE(r.join(' ').endsWith(released)) << r.join(' ').toStdString();
    EXPECT_EQ(win32sim::virtualHidState().relativeButtons, 0);
    const size_t count = reportCount();
    clock->setRunsOnItsOwn(true);
    EXPECT_TRUE(idle());
    EXPECT_EQ(reportCount(), count);
}

TEST_F(CaptureWindowTest, APlayOnReleaseTaskPlaysItsCountOnTheRelease)
{
    activate("MOUSE", "单击后退键()", 2, 3);
    inject(kMouse, 0x10); // plays nothing: the release's passes are all there is
    inject(kMouse, 0x20);
    ASSERT_TRUE(idle());
    expectReports("m08:00 m00:00 m08:00 m00:00 m08:00 m00:00 k00:00");
    EXPECT_TRUE(delivered(kMouse).empty());
}

TEST_F(CaptureWindowTest, UnmappedAndVirtualDeviceStrokesGoOnAsTheyCame)
{
    activate("MOUSE", "单击中键()", 0, 1);
    inject(kMouse, 0x4);
    inject(kMouse, 0x8);
    inject(kVirtualMouse, 0x10);
    ASSERT_TRUE(waitFor([] { return win32sim::deliveredStrokes().size() == 3; }));
    const std::vector<win32sim::DeliveredStroke> d = win32sim::deliveredStrokes();
    EXPECT_EQ(d[0].mouse, stroke(0x4));
    EXPECT_EQ(d[1].mouse, stroke(0x8));
    EXPECT_EQ(d[2].device, kVirtualMouse);
    EXPECT_EQ(d[2].mouse, stroke(0x10));
    EXPECT_EQ(reportCount(), 0u);
}

TEST_F(CaptureWindowTest, AfterCloseVDeviceStrokesPassAndAHeldButtonLeavesNothingRepeating)
{
    activate("MOUSE", "单击右键()", 1, 1);
    clock->setRunsOnItsOwn(false);
    inject(kMouse, 0x10);
    ASSERT_TRUE(waitFor([&] { return clock->sleeping(); }));
    EXPECT_EQ(command(QString(R"({"FuncName":"closeVDevice","deviceId":"%1"})").arg(QString(mouseId).replace("\\", "\\\\"))),
              "S:closeVDevice success!");
    inject(kMouse, 0x20); // paired with its press: swallowed, and the task stopped
    ASSERT_TRUE(idle());
    EXPECT_EQ(win32sim::virtualHidState().relativeButtons, 0);
    const size_t count = reportCount();
    clock->setRunsOnItsOwn(true);
    inject(kMouse, 0x10);
    inject(kMouse, 0x20);
    ASSERT_TRUE(waitFor([] { return delivered(kMouse).size() == 2; }));
    EXPECT_EQ(delivered(kMouse)[0].mouse, stroke(0x10));
    EXPECT_TRUE(idle());
    EXPECT_EQ(reportCount(), count);
}

// A button mapped to a key, to a button or to a macro, held down when its mapping is dropped, the
// capture loop stops or the macro worker quits: nothing stays pressed on the virtual device, and
// nothing plays after.
enum class End { CloseVDevice, LoopStop, WorkerQuit };

struct HeldCase {
    const char* name;
    const char* task;
    const char* value;
    int playType;
    End end;
};

void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.name; }

class HeldAtTheEnd : public CaptureWindowTest, public ::testing::WithParamInterface<HeldCase> {
protected:
    static bool released()
    {
        const win32sim::VirtualHidState state = win32sim::virtualHidState();
        return state.modifiers == 0 && state.keys == std::array<uint8_t, 6>{} && state.relativeButtons == 0;
    }
};

TEST_P(HeldAtTheEnd, NothingStaysPressed)
{
    const HeldCase& c = GetParam();
    activate(c.task, QString::fromUtf8(c.value), c.playType, 2);
    // Each pause waits for the clock: a repeating task is held in its click, a macro in its delay.
    clock->setRunsOnItsOwn(false);
    inject(kMouse, 0x10);
    if (c.playType == 2) {
        EXPECT_EQ(reportCount(), 0u); // plays on the release only
    } else {
        ASSERT_TRUE(waitFor([] { return !released(); })) << reports().join(' ').toStdString();
    }

    // A single key or button pressed for its release has ended its task; the window's answer to
    // that comes first. (A repeating task and a macro are held in their pause.)
    const bool heldSingle = c.playType == 0 && std::strcmp(c.task, "MACRO") != 0;
    if (commandExec* worker = window->macroWorker(); worker && heldSingle) {
        EXPECT_TRUE(waitFor([&] { return worker->isIdle(); }));
        QCoreApplication::sendPostedEvents();
    }
    const size_t before = reportCount();
    switch (c.end) {
    case End::CloseVDevice:
        EXPECT_EQ(command(QString(R"({"FuncName":"closeVDevice","deviceId":"%1"})").arg(QString(mouseId).replace("\\", "\\\\"))),
                  "S:closeVDevice success!");
        break;
    case End::LoopStop:
        window->deviceFilter()->requestStop();
        ASSERT_TRUE(waitFor([] { return win32sim::filterOf(kMouse) == 0; })); // its context is gone
        break;
    case End::WorkerQuit:
        if (commandExec* worker = window->macroWorker()) {
            worker->quit();
        }
        break;
    }
    EXPECT_TRUE(waitFor(released)) << reports().join(' ').toStdString();
    // The release reports come first; a task that ended reports so, and an all-keys-up may follow.
    if (c.playType != 2) {
        EXPECT_TRUE(reports(before).join(' ').startsWith("k00:00 m00:00")) << reports().join(' ').toStdString();
    }
    if (commandExec* worker = window->macroWorker()) {
        EXPECT_TRUE(waitFor([&] { return worker->isIdle(); }));
    }
    // The window's answer to the ended task (an all-keys-up where nothing is held) is queued by now.
    QCoreApplication::sendPostedEvents();
    const size_t count = reportCount();
    // After the mapping went, the physical release is swallowed as its press was and plays
    // nothing; the clock no longer holds anything back.
    if (c.end == End::CloseVDevice) {
        inject(kMouse, 0x20);
        EXPECT_TRUE(delivered(kMouse).empty());
    }
    clock->setRunsOnItsOwn(true);
    clock->advance(1000);
    if (commandExec* worker = window->macroWorker()) {
        EXPECT_TRUE(waitFor([&] { return worker->isIdle(); }));
    }
    EXPECT_EQ(reportCount(), count) << reports().join(' ').toStdString();
    EXPECT_TRUE(released());
}

#define HELD_ROWS(name, task, value)                                                                           \
    HeldCase{name "PressedOnPressClosed", task, value, 0, End::CloseVDevice},                                   \
        HeldCase{name "PressedOnPressLoopStopped", task, value, 0, End::LoopStop},                              \
        HeldCase{name "PressedOnPressWorkerQuit", task, value, 0, End::WorkerQuit},                             \
        HeldCase{name "RepeatingClosed", task, value, 1, End::CloseVDevice},                                    \
        HeldCase{name "RepeatingLoopStopped", task, value, 1, End::LoopStop},                                   \
        HeldCase{name "RepeatingWorkerQuit", task, value, 1, End::WorkerQuit},                                  \
        HeldCase{name "PlayOnReleaseClosed", task, value, 2, End::CloseVDevice},                                \
        HeldCase{name "PlayOnReleaseLoopStopped", task, value, 2, End::LoopStop},                               \
        HeldCase{name "PlayOnReleaseWorkerQuit", task, value, 2, End::WorkerQuit}

INSTANTIATE_TEST_SUITE_P(Mappings, HeldAtTheEnd,
                         ::testing::Values(HELD_ROWS("Key", "KEYBROAD", "A"), HELD_ROWS("Button", "MOUSE", "单击中键()"),
                                           HELD_ROWS("Macro", "MACRO", "按下(a)延迟(20)弹起(a)")), test_support::RowName());
#undef HELD_ROWS

TEST_F(CaptureWindowTest, StopAndQuitEndALoopWaitingForAStroke)
{
    EXPECT_EQ(win32sim::priorityClassCalls(), std::vector<DWORD>{HIGH_PRIORITY_CLASS});
    // When the loop's thread ends, counted from the stop or the quit.
    QElapsedTimer timer;
    std::atomic<qint64> endedAt{-1};
    const auto watch = [&](QThread* thread) {
        endedAt = -1;
        QObject::connect(thread, &QThread::finished, thread, [&] { endedAt = timer.elapsed(); }, Qt::DirectConnection);
        timer.start();
    };
    QPointer<QThread> thread(window->filterThread());
    watch(thread);
    window->stopWorkers();
    EXPECT_TRUE(thread.isNull());
    EXPECT_GE(endedAt, 0);
    EXPECT_LT(endedAt, 500);
    EXPECT_EQ(win32sim::priorityClassCalls(), (std::vector<DWORD>{HIGH_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS}));

    window->startDeviceFilter();
    ASSERT_TRUE(waitFor([] { return win32sim::filterOf(kMouse) == 0x3FF; }));
    thread = window->filterThread();
    watch(thread);
    closeWindow();
    EXPECT_TRUE(thread.isNull());
    EXPECT_GE(endedAt, 0);
    EXPECT_LT(endedAt, 500);
    EXPECT_EQ(win32sim::priorityClassCalls().back(), NORMAL_PRIORITY_CLASS);
}

} // namespace
