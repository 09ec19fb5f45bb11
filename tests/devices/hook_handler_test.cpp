// The mouse-track recorder and the other hook procedures, fed with events raised as the system's
// input stack raises them.
#include "page_events.h"
#include "test_app.h"
#include "wait.h"

#include "devices/device_record.h"
#include "devices/hook_handler.h"

#include "win32sim/device_tree.h"
#include "win32sim/faults.h"
#include "win32sim/handles.h"
#include "win32sim/input_hooks.h"

#include <QRegularExpression>
#include <QTime>

#include <gtest/gtest.h>

namespace {

void click(UINT down, UINT up, POINT pt, DWORD data = 0)
{
    win32sim::injectMouseEvent(down, pt, data);
    win32sim::injectMouseEvent(up, pt, data);
}

int now() { return QTime::currentTime().msecsSinceStartOfDay(); }

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication::get();
        hook_handler::stopMouseTracks();
    }
    void TearDown() override
    {
        hook_handler::stopMouseTracks();
        EXPECT_EQ(win32sim::installedHooks(WH_MOUSE_LL), 0);
        win32sim::clearFaults();
    }
};

TEST_F(RecorderTest, RecordsWhereAndWhenTheLeftButtonIsReleased)
{
    const int before = now();
    ASSERT_TRUE(hook_handler::startMouseTracks());
    EXPECT_EQ(win32sim::installedHooks(WH_MOUSE_LL), 1);
    click(WM_LBUTTONDOWN, WM_LBUTTONUP, POINT{100, 200});
    // Nothing else adds an item.
    click(WM_RBUTTONDOWN, WM_RBUTTONUP, POINT{110, 210});
    click(WM_MBUTTONDOWN, WM_MBUTTONUP, POINT{120, 220});
    click(WM_XBUTTONDOWN, WM_XBUTTONUP, POINT{130, 230}, DWORD(XBUTTON1) << 16);
    win32sim::injectMouseEvent(WM_MOUSEMOVE, POINT{140, 240});
    win32sim::injectMouseEvent(WM_MOUSEWHEEL, POINT{150, 250}, DWORD(WHEEL_DELTA) << 16);
    win32sim::injectMouseEvent(WM_LBUTTONDOWN, POINT{500, 40});
    // Released on a monitor left of the primary one, where the cursor now is.
    win32sim::injectMouseEvent(WM_LBUTTONUP, POINT{-300, 50});
    const QString text = hook_handler::stopMouseTracks();
    const int after = now();
    EXPECT_EQ(win32sim::installedHooks(WH_MOUSE_LL), 0);

    const QRegularExpressionMatch m
        = QRegularExpression("^x:100,y:200Time:(\\d+);x:-300,y:50Time:(\\d+);$").match(text);
    ASSERT_TRUE(m.hasMatch()) << text.toStdString();
    if (after >= before) { // not across midnight
        for (int i : {1, 2}) {
            EXPECT_GE(m.captured(i).toInt(), before);
            EXPECT_LE(m.captured(i).toInt(), after);
        }
    }
    // The same text until the next start.
    EXPECT_EQ(hook_handler::stopMouseTracks(), text);
}

TEST_F(RecorderTest, EachRecordingStartsEmptyAndEndsWithItsStop)
{
    ASSERT_TRUE(hook_handler::startMouseTracks());
    click(WM_LBUTTONDOWN, WM_LBUTTONUP, POINT{1, 2});
    EXPECT_TRUE(hook_handler::stopMouseTracks().startsWith("x:1,y:2Time:"));
    // Between recordings nothing is watched or recorded.
    click(WM_LBUTTONDOWN, WM_LBUTTONUP, POINT{3, 4});
    ASSERT_TRUE(hook_handler::startMouseTracks());
    click(WM_LBUTTONDOWN, WM_LBUTTONUP, POINT{5, 6});
    const QString second = hook_handler::stopMouseTracks();
    EXPECT_TRUE(second.startsWith("x:5,y:6Time:")) << second.toStdString();
    EXPECT_EQ(second.count(';'), 1);

    // A start while recording begins again with one hook.
    ASSERT_TRUE(hook_handler::startMouseTracks());
    click(WM_LBUTTONDOWN, WM_LBUTTONUP, POINT{7, 8});
    ASSERT_TRUE(hook_handler::startMouseTracks());
    EXPECT_EQ(win32sim::installedHooks(WH_MOUSE_LL), 1);
    click(WM_LBUTTONDOWN, WM_LBUTTONUP, POINT{9, 10});
    EXPECT_TRUE(hook_handler::stopMouseTracks().startsWith("x:9,y:10Time:"));
}

TEST_F(RecorderTest, AHookThatCannotBeInstalledRecordsNothing)
{
    win32sim::failNextCall("SetWindowsHookExW", ERROR_NO_SYSTEM_RESOURCES);
    EXPECT_FALSE(hook_handler::startMouseTracks());
    EXPECT_EQ(win32sim::installedHooks(WH_MOUSE_LL), 0);
    // A point no other case clicks: the stop answers the last recording, which may be another's.
    click(WM_LBUTTONDOWN, WM_LBUTTONUP, POINT{41, 42});
    EXPECT_FALSE(hook_handler::stopMouseTracks().contains("x:41,y:42"));
}

int g_passedOn = 0;
LRESULT CALLBACK countingProc(int code, WPARAM wParam, LPARAM lParam)
{
    ++g_passedOn;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(RecorderTest, EveryEventIsPassedOn)
{
    HHOOK older = SetWindowsHookExW(WH_MOUSE_LL, &countingProc, GetModuleHandleW(nullptr), 0);
    ASSERT_TRUE(hook_handler::startMouseTracks());
    g_passedOn = 0;
    click(WM_LBUTTONDOWN, WM_LBUTTONUP, POINT{1, 2});
    EXPECT_FALSE(win32sim::injectMouseEvent(WM_MOUSEMOVE, POINT{3, 4}));
    EXPECT_EQ(g_passedOn, 3);
    hook_handler::stopMouseTracks();
    EXPECT_TRUE(UnhookWindowsHookEx(older));
}

TEST(KeyTracks, KeyEventsBecomeMacroItems)
{
    TestApplication::get();
    test_support::MainBrowserEvents pageEvents;
    ASSERT_TRUE(hook_handler::startMouseTracks()); // marks the next key as the first
    HHOOK keys = SetWindowsHookExW(WH_KEYBOARD_LL, &hook_handler::keyTracksProc, GetModuleHandleW(nullptr), 0);
    ASSERT_TRUE(keys);
    win32sim::injectKeyEvent(WM_KEYDOWN, 'A', 30);
    win32sim::injectKeyEvent(WM_KEYDOWN, 'A', 30); // held: nothing more
    win32sim::injectKeyEvent(WM_KEYUP, 'A', 30, LLKHF_UP);
    win32sim::injectKeyEvent(WM_SYSKEYDOWN, 0x27, 77, LLKHF_EXTENDED);
    EXPECT_TRUE(UnhookWindowsHookEx(keys));
    hook_handler::stopMouseTracks();

    ASSERT_TRUE(test_support::waitFor([&] { return pageEvents.events().size() >= 5; }));
    QList<QStringList> items;
    for (const test_support::PageEvent& e : pageEvents.events()) {
        EXPECT_EQ(e.name, "macroItem");
        QStringList texts;
        for (const QVariant& v : e.args)
            texts << v.toString();
        items << texts;
    }
    ASSERT_EQ(items.size(), 5);
    EXPECT_EQ(items[0], (QStringList{"0", "1", "30", "0"}));
    EXPECT_EQ(items[1].mid(0, 1), QStringList{"2"});
    EXPECT_EQ(items[1].mid(2), (QStringList{"0", "0"}));
    EXPECT_EQ(items[2], (QStringList{"0", "0", "30", "0"}));
    EXPECT_EQ(items[3][0], "2");
    EXPECT_EQ(items[4], (QStringList{"0", "1", "77", "1"}));
}

TEST(DeviceRecord, InstallsBothHooksOrNeither)
{
    TestApplication::get();
    win32sim::resetDeviceTree();
    ASSERT_TRUE(Device_Record::installHooks());
    ASSERT_TRUE(Device_Record::installHooks()); // installed again, not twice
    EXPECT_EQ(win32sim::installedHooks(WH_KEYBOARD_LL), 1);
    EXPECT_EQ(win32sim::installedHooks(WH_MOUSE_LL), 1);
    // With nothing watched, keys and buttons pass, with or without a client.
    EXPECT_FALSE(win32sim::injectKeyEvent(WM_KEYDOWN, 'A', 30));
    const int handles = win32sim::openHandleCount();
    ::testing::internal::CaptureStdout();
    Device_Record::createVMulti();
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(win32sim::openHandleCount(), handles + 2);
    EXPECT_FALSE(win32sim::injectKeyEvent(WM_KEYDOWN, 'A', 30));
    EXPECT_FALSE(win32sim::injectMouseEvent(WM_LBUTTONDOWN, POINT{1, 1}));
    Device_Record::clearWatchedKeys();
    Device_Record::freeVMulti();
    EXPECT_EQ(win32sim::openHandleCount(), handles);
    Device_Record::removeHooks();
    EXPECT_EQ(win32sim::installedHooks(WH_KEYBOARD_LL), 0);

    // The mouse hook fails: the keyboard hook goes again.
    win32sim::failNextCall("SetWindowsHookExW", ERROR_NO_SYSTEM_RESOURCES, 1);
    EXPECT_FALSE(Device_Record::installHooks());
    EXPECT_EQ(win32sim::installedHooks(WH_KEYBOARD_LL), 0);
    EXPECT_EQ(win32sim::installedHooks(WH_MOUSE_LL), 0);

    // Without the device no client is kept.
    win32sim::setVirtualHidInstalled(false);
    const int none = win32sim::openHandleCount();
    ::testing::internal::CaptureStdout();
    Device_Record::createVMulti();
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(win32sim::openHandleCount(), none);
    Device_Record::freeVMulti();
    win32sim::resetDeviceTree();
}

} // namespace
