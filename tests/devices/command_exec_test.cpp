// The macro worker on the simulated virtual HID device: what each action and play type writes,
// its pauses on a clock the tests drive, and the hand-over of tasks between threads.
#include "fake_macro_clock.h"
#include "hid_reports.h"
#include "row_name.h"
#include "test_app.h"
#include "wait.h"

#include "devices/command_exec.h"

#include "win32sim/device_tree.h"
#include "win32sim/input_injection.h"
#include "win32sim/virtual_hid.h"

#include <QElapsedTimer>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using test_support::FakeMacroClock;
using test_support::hex2;
using test_support::reportCount;
using test_support::reports;
using test_support::waitFor;

const char* const kReleased = "k00:00 m00:00"; // the release reports of a stop

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication::get();
        win32sim::resetDeviceTree();
        vmulti = vmulti_alloc();
        ::testing::internal::CaptureStdout(); // the search's diagnostics
        const bool connected = vmulti_connect(vmulti);
        ::testing::internal::GetCapturedStdout();
        ASSERT_TRUE(connected);
        win32sim::clearVirtualHid();
        clock->mark = reportCount;
        clock->setTimeOfDay(2000); // even: pauses are lengthened by the random number mod 10
        clock->setRandom(13);
    }
    void TearDown() override
    {
        if (worker) {
            worker->quit();
            thread->quit();
            EXPECT_TRUE(thread->wait(20000));
            delete worker;
            // The thread object is not deleted: a thread's end is ordered by a lock inside Qt,
            // which the thread checker cannot see, so it would take the free of what the thread
            // touched last for a race.
        }
        vmulti_disconnect(vmulti);
        vmulti_free(vmulti);
    }

    void start(const QList<MacroAction>& actions, int playType = 0, int playCount = 1, int keyState = 0)
    {
        thread = new QThread;
        worker = new commandExec(thread, actions, vmulti, playType, playCount, keyState, clock, [this](const QUrl& url) {
            std::lock_guard<std::mutex> lock(openedLock);
            opened.push_back({url, QThread::currentThread()});
        });
        // Counted on the worker's thread, as it reports.
        QObject::connect(
            worker, &commandExec::taskFinished, worker,
            [this](pvmulti_client c) {
                EXPECT_EQ(c, vmulti);
                ++finished;
            },
            Qt::DirectConnection);
        thread->start();
    }
    void hand(const QList<MacroAction>& actions, int playType = 0, int playCount = 1, int keyState = 0)
    {
        worker->setTask(vmulti, actions, playType, playCount, keyState);
    }
    bool idle() { return waitFor([&] { return worker->isIdle(); }); }
    // Idle, and every finished task reported.
    bool played(int tasks) { return waitFor([&] { return worker->isIdle() && finished == tasks; }); }
    // The worker waits on the clock, in its sleep number n (counted from 1) when n is given.
    bool sleeping(size_t n = 0) { return waitFor([&] { return clock->sleeping(n); }); }
    std::vector<qint64> sleepTimes() const
    {
        std::vector<qint64> out;
        for (const FakeMacroClock::Sleep& s : clock->sleeps())
            out.push_back(s.ms);
        return out;
    }

    pvmulti_client vmulti = nullptr;
    std::shared_ptr<FakeMacroClock> clock = std::make_shared<FakeMacroClock>();
    QThread* thread = nullptr;
    commandExec* worker = nullptr;
    std::atomic<int> finished{0};
    std::mutex openedLock;
    std::vector<std::pair<QUrl, QThread*>> opened;
};

// ---- Actions and play types

struct PlayCase {
    const char* name;
    QList<MacroAction> actions;
    int playType, playCount, keyState;
    const char* reports;
    std::vector<qint64> sleeps;
    int finished;
};

void PrintTo(const PlayCase& c, std::ostream* os) { *os << c.name; }

class Plays : public WorkerTest, public ::testing::WithParamInterface<PlayCase> {};

TEST_P(Plays, WritesTheReportsAndPausesOfTheTask)
{
    const PlayCase& c = GetParam();
    start(c.actions, c.playType, c.playCount, c.keyState);
    ASSERT_TRUE(played(c.finished));
    EXPECT_EQ(reports().join(' '), QString(c.reports));
    EXPECT_EQ(sleepTimes(), c.sleeps);
}

// A pause of 50 ms is 53 with the clock's time of day and random number.
INSTANTIATE_TEST_SUITE_P(
    Actions, Plays,
    ::testing::Values(
        PlayCase{"KeyPressAndRelease", {{"down", "04"}, {"up", "04"}}, 0, 1, 0, "k00:04 k00:00", {}, 1},
        PlayCase{"KeyWithoutAValidUsage", {{"down", ""}, {"down", "zz"}, {"down", "104"}}, 0, 1, 0,
                 "k00:00 k00:00 k00:00", {}, 1},
        PlayCase{"MouseButtonsAndWheel", {{"mouseDown", "1"}, {"mouseUp", "1"}, {"mouseWheel", "1"}, {"mouseWheel", "FF"}},
                 0, 1, 0, "m01:00 m00:00 m00:01 m00:ff", {}, 1},
        PlayCase{"HotKeyCtrlC", {{"hotKey", "E0,06"}}, 0, 1, 0, "k01:06 k01:00 k00:00", {53, 53}, 1},
        PlayCase{"HotKeyRightGui", {{"hotKey", "E7,04"}}, 0, 1, 0, "k80:04 k80:00 k00:00", {53, 53}, 1},
        PlayCase{"HotKeyWithoutAModifierUsage", {{"hotKey", "04,06"}}, 0, 1, 0, "k00:06 k00:00 k00:00", {53, 53}, 1},
        PlayCase{"HotKeyNotOfTwoParts", {{"hotKey", "E0"}, {"hotKey", "E0,06,07"}}, 0, 1, 0, "", {}, 1},
        PlayCase{"PlayedPlayCountTimes", {{"down", "05"}, {"up", ""}}, 0, 3, 0, "k00:05 k00:00 k00:05 k00:00 k00:05 k00:00",
                 {}, 1},
        PlayCase{"PlayCountZero", {{"down", "05"}}, 0, 0, 0, "", {}, 1},
        PlayCase{"SingleKeyPressedOnThePress", {{"keybroad", "04"}}, 0, 1, 0, "k00:04", {}, 1},
        PlayCase{"SingleKeyReleasedOnTheRelease", {{"keybroad", "04"}}, 0, 1, 1, "k00:00", {}, 1},
        PlayCase{"SingleButtonPressedOnThePress", {{"mouse", "10"}}, 0, 1, 0, "m10:00", {}, 1},
        PlayCase{"SingleButtonReleasedOnTheRelease", {{"mouse", "10"}}, 0, 1, 1, "m00:00", {}, 1},
        PlayCase{"SingleKeyClickedEachPass", {{"keybroad", "1E"}}, 2, 2, 1, "k00:1e k00:00 k00:1e k00:00", {53, 53}, 1},
        PlayCase{"SingleButtonClickedEachPass", {{"mouse", "2"}}, 2, 1, 0, "m02:00 m00:00", {53}, 1},
        // The release of a macro is ignored entirely: nothing plays and nothing is reported.
        PlayCase{"MacroReleaseIgnored", {{"down", "04"}, {"up", ""}}, 0, 1, 1, "", {}, 0},
        PlayCase{"UnknownPlayType", {{"down", "04"}}, 3, 1, 0, "", {}, 1},
        PlayCase{"NoActions", {}, 0, 1, 0, "", {}, 1},
        PlayCase{"UnknownAndMalformedActions", {{"Down", "04"}, {"press", "04"}, {"mouseMove", "1"}, {"mouseMove", "a,b"},
                                                {"mouseMove", "1,2,3"}}, 0, 1, 0, "", {}, 1}), test_support::RowName());

struct JitterCase {
    const char* name;
    const char* delay;
    int timeOfDay, random;
    std::vector<qint64> sleeps;
    std::vector<uint> seeds;
};

void PrintTo(const JitterCase& c, std::ostream* os) { *os << c.name; }

class Jitter : public WorkerTest, public ::testing::WithParamInterface<JitterCase> {};

// The random generator is seeded with the seconds since midnight; an even millisecond of the day
// lengthens the delay by its number mod 10, an odd one shortens it.
TEST_P(Jitter, DelaysOfTenMillisecondsOrMoreVaryByUpToNine)
{
    const JitterCase& c = GetParam();
    clock->setTimeOfDay(c.timeOfDay);
    clock->setRandom(c.random);
    start({{"delayTime", c.delay}});
    ASSERT_TRUE(played(1));
    EXPECT_EQ(sleepTimes(), c.sleeps);
    EXPECT_EQ(clock->seeds(), c.seeds);
}

INSTANTIATE_TEST_SUITE_P(
    Delays, Jitter,
    ::testing::Values(JitterCase{"FiveExactly", "5", 7001, 19, {5}, {}},
                      JitterCase{"NineExactly", "9", 7001, 19, {9}, {}},
                      JitterCase{"TenShortened", "10", 7001, 19, {1}, {7}},
                      JitterCase{"HundredLengthened", "100", 86399998, 19, {109}, {86399}},
                      JitterCase{"HundredShortened", "100", 3, 29, {91}, {0}},
                      JitterCase{"HundredUnchanged", "100", 4, 10, {100}, {0}},
                      // Delays are never negative nor longer than an hour.
                      JitterCase{"Zero", "0", 4, 3, {}, {}},
                      JitterCase{"Negative", "-5", 4, 3, {}, {}},
                      JitterCase{"NotANumber", "5ms", 4, 3, {}, {}},
                      JitterCase{"Empty", "", 4, 3, {}, {}},
                      JitterCase{"Huge", "99999999999", 4, 3, {3600003}, {0}}), test_support::RowName());

TEST_F(WorkerTest, WithTheSystemsTimeAndRandomNumbersAPauseStaysWithinNineMilliseconds)
{
    clock->useSystemChance();
    QList<MacroAction> actions;
    for (int i = 0; i < 50; ++i)
        actions << MacroAction{"delayTime", "100"} << MacroAction{"hotKey", "E0,06"};
    start(actions);
    ASSERT_TRUE(played(1));
    const std::vector<qint64> sleeps = sleepTimes();
    ASSERT_EQ(sleeps.size(), 150u);
    for (size_t i = 0; i < sleeps.size(); ++i) {
        const qint64 d = i % 3 == 0 ? 100 : 50;
        EXPECT_GE(sleeps[i], d - 9) << i;
        EXPECT_LE(sleeps[i], d + 9) << i;
    }
}

// Posts to the toolkit's window reach its native event handler.
class CharWindow : public QWidget {
public:
    std::vector<WPARAM> chars;

protected:
    bool nativeEvent(const QByteArray&, void* message, long*) override
    {
        const MSG* m = static_cast<const MSG*>(message);
        if (m->message == WM_CHAR) {
            EXPECT_EQ(m->lParam, 0);
            chars.push_back(m->wParam);
        }
        return false;
    }
};

TEST_F(WorkerTest, TextGoesAsCharactersToTheWindowUnderTheCursor)
{
    CharWindow below, above;
    below.setGeometry(200, 150, 300, 200);
    above.setGeometry(400, 300, 200, 100);
    below.show();
    above.show();
    const HWND belowHandle = HWND(below.winId());
    win32sim::clearPostedMessages();
    // Each UTF-16 unit is one message; the cursor moves at once for what follows.
    const QString text = QString::fromUtf8("a€\xF0\x9F\x98\x80");
    start({{"mouseMove", " 250 , 160 "}, {"text", text}, {"mouseMove", "450,320"}, {"text", "b"}, {"mouseMove", "5,5"},
           {"text", "c"}, {"mouseMove", "x,2"}, {"text", "d"}});
    ASSERT_TRUE(played(1));
    const std::vector<win32sim::SentMessage> posted = win32sim::postedMessages();
    ASSERT_EQ(posted.size(), 5u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(posted[size_t(i)].hwnd, belowHandle);
        EXPECT_EQ(posted[size_t(i)].message, UINT(WM_CHAR));
        EXPECT_EQ(posted[size_t(i)].wParam, WPARAM(text[i].unicode()));
    }
    EXPECT_EQ(posted[4].hwnd, HWND(above.winId()));
    EXPECT_EQ(posted[4].wParam, WPARAM('b'));
    // Over no window nothing is posted; a malformed move leaves the cursor where it was.
    POINT cursor;
    ASSERT_TRUE(GetCursorPos(&cursor));
    EXPECT_EQ(cursor.x, 5);
    EXPECT_EQ(cursor.y, 5);
    ASSERT_TRUE(waitFor([&] { return below.chars.size() == 4 && above.chars.size() == 1; }));
    EXPECT_EQ(below.chars, (std::vector<WPARAM>{'a', 0x20AC, 0xD83D, 0xDE00}));
}

// Path characters that mean something else in a URL stay part of the path.
TEST_F(WorkerTest, AShortcutHandsTheLocalFileToTheOpener)
{
    const QString path = "/tmp/macro dir/a#b?c%d.txt";
    start({{"shortcut", path}, {"shortcut", ""}});
    ASSERT_TRUE(played(1));
    std::lock_guard<std::mutex> lock(openedLock);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(opened[0].first.isLocalFile());
    EXPECT_EQ(opened[0].first.toLocalFile(), path);
    EXPECT_EQ(opened[0].second, thread);
}

// ---- Hand-over

TEST_F(WorkerTest, APressAndItsReleaseHandedOverTogetherPlayAsPressThenRelease)
{
    start({});
    ASSERT_TRUE(played(1));
    struct Single {
        const char* type;
        const char* code;
        const char* pressed;
        const char* released;
    } singles[] = {{"keybroad", "04", "k00:04", "k00:00"}, {"mouse", "10", "m10:00", "m00:00"}};
    int tasks = 1;
    for (int round = 0; round < 200; ++round) {
        const Single& s = singles[round % 2];
        const size_t before = reportCount();
        hand({{s.type, s.code}}, 0, 1, 0);
        hand({{s.type, s.code}}, 0, 1, 1);
        tasks += 2;
        ASSERT_TRUE(played(tasks)) << round;
        const QStringList r = reports(before);
        ASSERT_FALSE(r.isEmpty()) << round;
        // A stop's release reports may come between them.
        EXPECT_EQ(r.first(), s.pressed) << round << ": " << r.join(' ').toStdString();
        EXPECT_EQ(r.last(), s.released) << round << ": " << r.join(' ').toStdString();
        EXPECT_EQ(r.count(s.pressed), 1) << round;
    }
    const win32sim::VirtualHidState state = win32sim::virtualHidState();
    EXPECT_EQ(state.keys[0], 0);
    EXPECT_EQ(state.relativeButtons, 0);
}

TEST_F(WorkerTest, ARepeatingTaskPlaysUntilTheStopAndEndsWithTheReleaseReports)
{
    clock->setRunsOnItsOwn(false);
    start({{"mouse", "1"}}, 1, 0, 0);
    // Press, 53 ms, release, 10 ms: three passes.
    for (size_t pass = 0; pass < 3; ++pass) {
        ASSERT_TRUE(sleeping(2 * pass + 1));
        clock->advance(53);
        ASSERT_TRUE(sleeping(2 * pass + 2));
        clock->advance(10);
    }
    ASSERT_TRUE(sleeping(7));
    EXPECT_EQ(reports().join(' '), "m01:00 m00:00 m01:00 m00:00 m01:00 m00:00 m01:00");
    // The stop ends the pause at once: the worker is idle with the clock standing still.
    const qint64 stoppedAt = clock->now();
    QElapsedTimer real;
    real.start();
    worker->stopOutput();
    ASSERT_TRUE(played(1));
    EXPECT_LT(real.elapsed(), 5000);
    EXPECT_EQ(clock->now(), stoppedAt);
    EXPECT_EQ(reports().join(' '), QString("m01:00 m00:00 m01:00 m00:00 m01:00 m00:00 m01:00 ") + kReleased);
    EXPECT_FALSE(clock->sleeping());
}

TEST_F(WorkerTest, ANewTaskEndsOnlyTheTaskPlayingAndTheOthersPlayInTheirOrder)
{
    clock->setRunsOnItsOwn(false);
    start({{"down", "04"}, {"delayTime", "1000"}, {"up", ""}});
    ASSERT_TRUE(sleeping(1));
    // Both are handed over while the first plays.
    clock->hold();
    hand({{"down", "05"}, {"delayTime", "1000"}, {"up", ""}});
    hand({{"down", "06"}, {"up", ""}});
    clock->letGo();
    // The first ends with the release reports; the second plays whole, although the third was
    // handed over before it began.
    ASSERT_TRUE(sleeping(2));
    EXPECT_EQ(reports().join(' '), QString("k00:04 ") + kReleased + " k00:05");
    clock->advance(1009);
    ASSERT_TRUE(played(3));
    EXPECT_EQ(reports().join(' '), QString("k00:04 ") + kReleased + " k00:05 k00:00 k00:06 k00:00");
}

TEST_F(WorkerTest, AStopEndsOrSkipsEveryTaskHandedOverBeforeItAndIsAcknowledgedBeforeTheNext)
{
    clock->setRunsOnItsOwn(false);
    start({{"down", "04"}, {"delayTime", "1000"}, {"up", ""}});
    ASSERT_TRUE(sleeping(1));
    clock->hold();
    hand({{"down", "05"}, {"up", ""}});
    hand({{"keybroad", "06"}}, 2, 3, 0);
    worker->stopOutput();
    hand({{"down", "07"}, {"up", ""}});
    clock->letGo();
    ASSERT_TRUE(played(2));
    EXPECT_EQ(reports().join(' '), QString("k00:04 ") + kReleased + " k00:07 k00:00");
    // With nothing to end, a stop writes nothing.
    worker->stopOutput();
    EXPECT_TRUE(idle());
    EXPECT_EQ(reports().size(), 5);
}

TEST_F(WorkerTest, ASingleKeyPressedForItsReleaseIsNotReleasedByTheAllKeysUp)
{
    start({{"keybroad", "04"}}, 0, 1, 0);
    ASSERT_TRUE(played(1));
    EXPECT_FALSE(worker->releaseKeysWhenIdle(vmulti));
    EXPECT_EQ(win32sim::virtualHidState().keys[0], 0x04);
    hand({{"keybroad", "04"}}, 0, 1, 1);
    ASSERT_TRUE(played(2));
    EXPECT_TRUE(worker->releaseKeysWhenIdle(vmulti));
    // A macro pressing a key and a single button are released after them.
    hand({{"down", "05"}});
    ASSERT_TRUE(played(3));
    EXPECT_EQ(win32sim::virtualHidState().keys[0], 0x05);
    EXPECT_TRUE(worker->releaseKeysWhenIdle(vmulti));
    hand({{"mouse", "1"}}, 0, 1, 0);
    ASSERT_TRUE(played(4));
    EXPECT_TRUE(worker->releaseKeysWhenIdle(vmulti));
    EXPECT_EQ(reports().join(' '), "k00:04 k00:00 k00:00 k00:05 k00:00 m01:00 k00:00");
    EXPECT_EQ(win32sim::virtualHidState().keys[0], 0);
    // The key held when the worker quits is released.
    hand({{"keybroad", "06"}}, 0, 1, 0);
    ASSERT_TRUE(played(5));
    worker->quit();
    thread->quit();
    ASSERT_TRUE(thread->wait(20000));
    EXPECT_EQ(reports(7).join(' '), QString("k00:06 ") + kReleased);
}

TEST_F(WorkerTest, WhilePlayingTheWorkerIsNotIdleAndKeysAreNotReleased)
{
    clock->setRunsOnItsOwn(false);
    start({{"down", "04"}, {"delayTime", "100"}, {"up", ""}});
    ASSERT_TRUE(sleeping(1));
    EXPECT_FALSE(worker->isIdle());
    EXPECT_FALSE(worker->releaseKeysWhenIdle(vmulti));
    EXPECT_EQ(reports().join(' '), "k00:04");
    clock->advance(200);
    ASSERT_TRUE(played(1));
}

struct QuitCase {
    const char* name;
    QList<MacroAction> actions;
    int playType;
};

void PrintTo(const QuitCase& c, std::ostream* os) { *os << c.name; }

class Quits : public WorkerTest, public ::testing::WithParamInterface<QuitCase> {};

// The clock stands still: the thread ends without any of the pause passing.
TEST_P(Quits, QuitEndsTheTaskWithTheReleaseReportsAndTheThread)
{
    const QuitCase& c = GetParam();
    clock->setRunsOnItsOwn(false);
    start(c.actions, c.playType, 1, 0);
    ASSERT_TRUE(sleeping(1));
    const qint64 at = clock->now();
    const size_t before = reportCount();
    worker->quit();
    thread->quit();
    ASSERT_TRUE(thread->wait(20000));
    EXPECT_EQ(clock->now(), at);
    EXPECT_EQ(reports(before).join(' '), QString(kReleased));
    // Nothing is handed over any more.
    hand({{"down", "04"}});
    EXPECT_TRUE(worker->isIdle());
}

INSTANTIATE_TEST_SUITE_P(Tasks, Quits,
                         ::testing::Values(QuitCase{"TenSecondDelay", {{"down", "04"}, {"delayTime", "10000"}, {"up", ""}}, 0},
                                           QuitCase{"Repeating", {{"mouse", "1"}}, 1}), test_support::RowName());

// A single key or button pressed for its release task, whose release task never comes.
struct HeldCase {
    const char* name;
    MacroAction single;
    const char* pressed;
    bool quit; // ended by the quit, else by a stop
};

void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.name; }

class HeldSingles : public WorkerTest, public ::testing::WithParamInterface<HeldCase> {};

TEST_P(HeldSingles, AreReleasedByAStopAndByTheQuit)
{
    const HeldCase& c = GetParam();
    start({c.single}, 0, 1, 0);
    ASSERT_TRUE(played(1));
    EXPECT_EQ(reports().join(' '), QString(c.pressed));
    if (c.quit) {
        worker->quit();
        thread->quit();
        ASSERT_TRUE(thread->wait(20000));
    } else {
        worker->stopOutput();
        ASSERT_TRUE(idle());
    }
    EXPECT_EQ(reports().join(' '), QString(c.pressed) + " " + kReleased);
    EXPECT_EQ(win32sim::virtualHidState().keys[0], 0);
    EXPECT_EQ(win32sim::virtualHidState().relativeButtons, 0);
    // The release, once written, is not written again.
    worker->stopOutput();
    EXPECT_EQ(reports().size(), QString(c.pressed).count(' ') + 3);
}

INSTANTIATE_TEST_SUITE_P(Tasks, HeldSingles,
                         ::testing::Values(HeldCase{"KeyStopped", {"keybroad", "04"}, "k00:04", false},
                                           HeldCase{"KeyQuit", {"keybroad", "04"}, "k00:04", true},
                                           HeldCase{"ButtonStopped", {"mouse", "4"}, "m04:00", false},
                                           HeldCase{"ButtonQuit", {"mouse", "4"}, "m04:00", true}),
                         test_support::RowName());

// On the system's clock: the thread ends long before the delay would have passed.
TEST_F(WorkerTest, QuitDuringATenSecondDelayOnTheSystemClockJoinsAtOnce)
{
    clock = nullptr;
    start({{"down", "04"}, {"delayTime", "10000"}, {"up", ""}});
    ASSERT_TRUE(waitFor([] { return reportCount() == 1; }));
    QElapsedTimer real;
    real.start();
    worker->quit();
    thread->quit();
    ASSERT_TRUE(thread->wait(20000));
    EXPECT_LT(real.elapsed(), 5000);
    EXPECT_EQ(reports().join(' '), QString("k00:04 ") + kReleased);
}

TEST_F(WorkerTest, AThousandTasksFromTwoThreadsPlayInTheirOrderAndNothingPlaysAfterTheStop)
{
    start({});
    ASSERT_TRUE(played(1));
    const int perThread = 500;
    const auto keyOf = [](int i) { return 0x04 + i % 26; };
    const auto buttonOf = [](int i) { return 1 << (i % 5); };
    std::thread keys([&] {
        for (int i = 0; i < perThread; ++i)
            hand({{"down", hex2(keyOf(i))}, {"delayTime", "20"}, {"up", ""}});
    });
    std::thread buttons([&] {
        for (int i = 0; i < perThread; ++i)
            hand({{"mouseDown", hex2(buttonOf(i))}, {"delayTime", "20"}, {"mouseUp", ""}});
    });
    keys.join();
    buttons.join();
    ASSERT_TRUE(played(1 + 2 * perThread));
    // Every task played at least its first action, in the order its thread handed it over.
    QStringList pressedKeys, pressedButtons;
    for (const QString& r : reports()) {
        if (r.startsWith("k") && r != "k00:00")
            pressedKeys << r;
        else if (r.startsWith("m") && r != "m00:00")
            pressedButtons << r;
    }
    ASSERT_EQ(pressedKeys.size(), perThread);
    ASSERT_EQ(pressedButtons.size(), perThread);
    for (int i = 0; i < perThread; ++i) {
        EXPECT_EQ(pressedKeys[i], "k00:" + hex2(keyOf(i))) << i;
        EXPECT_EQ(pressedButtons[i], "m" + hex2(buttonOf(i)) + ":00") << i;
    }
    // The last task handed over plays until the stop; nothing follows its release reports.
    clock->setRunsOnItsOwn(false);
    hand({{"down", "27"}, {"delayTime", "1000"}, {"up", ""}});
    ASSERT_TRUE(sleeping());
    worker->stopOutput();
    ASSERT_TRUE(played(2 + 2 * perThread));
    const size_t end = reportCount();
    clock->advance(100000);
    EXPECT_TRUE(idle());
    EXPECT_EQ(reportCount(), end);
    const QStringList r = reports();
    EXPECT_EQ(r.mid(r.size() - 3).join(' '), QString("k00:27 ") + kReleased);
}

} // namespace
