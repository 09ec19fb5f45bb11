#include "devices/command_exec.h"

#include "qt_extras/gui_thread.h"

#include "include/base/cef_logging.h"

#include <QDesktopServices>
#include <QRandomGenerator>
#include <QStringList>
#include <QThread>
#include <QTime>

#include <chrono>

namespace {

// Delays beyond this are taken as this long; sleeps can be interrupted at any time.
const qint64 kMaxDelayMs = 60 * 60 * 1000;
// The pause inside a click or hot key, and between the passes of a repeating task.
const int kClickMs = 50;
const int kRepeatMs = 10;

// A single key or button, which its release task releases.
bool isSingle(const QList<MacroAction>& actions)
{
    return !actions.isEmpty()
        && (actions.first().first == QLatin1String("mouse") || actions.first().first == QLatin1String("keybroad"));
}

// One byte written in hexadecimal; anything else is 0 (no key, no button).
BYTE hexByte(const QString& value)
{
    bool ok = false;
    const uint v = value.toUInt(&ok, 16);
    return ok && v <= 0xFF ? BYTE(v) : 0;
}

// A delay in milliseconds, written in decimal: 0 when it is none, at most kMaxDelayMs.
int delayOf(const QString& value)
{
    bool ok = false;
    const qlonglong v = value.toLongLong(&ok, 10);
    return ok ? int(qBound<qlonglong>(0, v, kMaxDelayMs)) : 0;
}

} // namespace

bool MacroClock::sleep(std::condition_variable& cond, std::unique_lock<std::mutex>& lock, int ms,
                       const std::function<bool()>& interrupted)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    return !cond.wait_until(lock, deadline, interrupted);
}

int MacroClock::msecsSinceMidnight() { return QTime::currentTime().msecsSinceStartOfDay(); }

int MacroClock::randomAfterSeed(uint seed) { return int(QRandomGenerator(seed).generate() >> 1); }

commandExec::commandExec(QThread* thread, const QList<MacroAction>& actions, pvmulti_client vmulti, int playType,
                         int playCount, int keyState, std::shared_ptr<MacroClock> clock, UrlOpener opener)
    : m_clock(clock ? std::move(clock) : std::make_shared<MacroClock>())
    , m_opener(opener ? std::move(opener)
                      : [](const QUrl& url) { qt_extras::PostToGuiThread([url] { QDesktopServices::openUrl(url); }); })
{
    for (int i = 0; i < 8; ++i)
        m_modifierBits.insert(ushort(0xE0 + i), uchar(1 << i));
    setTask(vmulti, actions, playType, playCount, keyState);
    moveToThread(thread);
    connect(thread, &QThread::started, this, &commandExec::start);
}

commandExec::~commandExec() { quit(); }

void commandExec::setTask(pvmulti_client vmulti, const QList<MacroAction>& actions, int playType, int playCount,
                          int keyState)
{
    if (playType == 0 && keyState == 1 && !isSingle(actions))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_quit)
        return;
    m_queue.push_back({++m_handedOver, vmulti, actions, playType, playCount, keyState});
    m_client = vmulti;
    if (m_playing) {
        m_preempted = true;
        m_releaseDue = true;
    }
    m_cond.notify_all();
}

void commandExec::stopOutput()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool covers = (m_playing && m_playing > m_stopUpTo) || !m_queue.empty() || m_holding != Holding::Nothing;
    m_stopUpTo = m_handedOver;
    m_queue.clear();
    if (covers) {
        m_releaseDue = true;
        m_cond.notify_all();
    }
}

void commandExec::onStopOutput(bool stop)
{
    if (stop)
        stopOutput();
}

void commandExec::quit()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_playing || !m_queue.empty() || m_holding != Holding::Nothing)
        m_releaseDue = true;
    m_holding = Holding::Nothing;
    m_quit = true;
    m_stopUpTo = m_handedOver;
    m_queue.clear();
    m_cond.notify_all();
}

bool commandExec::releaseKeysWhenIdle(pvmulti_client vmulti)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_busy || !m_queue.empty() || m_releaseDue || m_holding == Holding::Key || !vmulti)
        return false;
    BYTE keys[VMULTI_KEYBOARD_KEYS] = {};
    vmulti_update_keyboard(vmulti, 0, keys);
    return true;
}

bool commandExec::isIdle() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_busy && !m_announcing && m_queue.empty() && !m_releaseDue;
}

bool commandExec::mustStop() const
{
    return m_quit || m_playing <= m_stopUpTo || (m_preempted && m_begun);
}

void commandExec::start()
{
    LOG(INFO) << "start PASS.....";
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_releaseDue) {
            m_busy = true;
            m_holding = Holding::Nothing;
            m_vmulti = m_client;
            m_ended = false;
            lock.unlock();
            stopOutputNow();
            lock.lock();
            m_busy = false;
            continue;
        }
        if (m_quit)
            break;
        if (m_queue.empty()) {
            m_cond.wait(lock, [this] { return m_quit || m_releaseDue || !m_queue.empty(); });
            LOG(INFO) << "WAIT PASS.....";
            continue;
        }
        Task task = std::move(m_queue.front());
        m_queue.pop_front();
        m_playing = task.generation;
        m_preempted = false;
        m_holding = Holding::Nothing;
        m_busy = true;
        m_actions = task.actions;
        m_vmulti = task.vmulti;
        m_playType = task.playType;
        m_playCount = task.playCount;
        m_keyState = task.keyState;
        m_begun = false;
        m_ended = false;
        lock.unlock();

        runTask();

        lock.lock();
        // A single key or button pressed for its release task stays pressed until that task, a
        // stop or the quit; no all-keys-up follows a held key.
        if (!m_ended && m_playType == 0 && m_keyState == 0 && isSingle(m_actions))
            m_holding = m_actions.first().first == QLatin1String("keybroad") ? Holding::Key : Holding::Button;
        m_playing = 0;
        m_busy = false;
        m_announcing = true;
        lock.unlock();
        emit taskFinished(m_vmulti);
        lock.lock();
        m_announcing = false;
    }
}

void commandExec::runTask()
{
    if (m_actions.isEmpty())
        return;
    switch (m_playType) {
    case 0:
        if (m_keyState == 1) {
            if (isSingle(m_actions))
                executeCommand();
            return;
        }
        [[fallthrough]];
    case 2:
        for (int pass = 0; pass < m_playCount && !ended(); ++pass)
            executeCommand();
        return;
    case 1:
        while (!ended()) {
            executeCommand();
            pause(kRepeatMs);
        }
        return;
    default:
        return;
    }
}

void commandExec::executeCommand()
{
    for (const MacroAction& action : m_actions) {
        if (ended())
            return;
        m_begun = true;
        runAction(action.first, action.second);
    }
}

bool commandExec::ended()
{
    if (m_ended)
        return true;
    bool stop;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stop = mustStop();
    }
    if (stop)
        stopOutputNow();
    return stop;
}

void commandExec::stopOutputNow()
{
    m_ended = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_releaseDue = false;
    }
    keyboard(0, 0);
    mouse(0, 0);
    LOG(INFO) << "stopOutputNow===========================";
}

bool commandExec::pause(int ms)
{
    if (ms <= 0)
        return true;
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_clock->sleep(m_cond, lock, ms, [this] { return mustStop(); });
}

int commandExec::jittered(int ms)
{
    if (ms < 10)
        return ms;
    const int now = m_clock->msecsSinceMidnight();
    const int r = m_clock->randomAfterSeed(uint(now / 1000)) % 10;
    return now % 2 == 0 ? ms + r : ms - r;
}

void commandExec::runAction(const QString& type, const QString& value)
{
    if (type == QLatin1String("down")) {
        keyboard(0, hexByte(value));
    } else if (type == QLatin1String("up")) {
        keyboard(0, 0);
    } else if (type == QLatin1String("delayTime")) {
        pause(jittered(delayOf(value)));
    } else if (type == QLatin1String("mouseDown")) {
        mouse(hexByte(value), 0);
    } else if (type == QLatin1String("mouseUp")) {
        mouse(0, 0);
    } else if (type == QLatin1String("mouseMove")) {
        const QStringList parts = value.split(QLatin1Char(','));
        bool okX = false, okY = false;
        const int x = parts.value(0).trimmed().toInt(&okX, 10);
        const int y = parts.value(1).trimmed().toInt(&okY, 10);
        if (parts.size() == 2 && okX && okY)
            SetCursorPos(x, y);
    } else if (type == QLatin1String("mouseWheel")) {
        mouse(0, hexByte(value));
    } else if (type == QLatin1String("shortcut")) {
        if (!value.isEmpty())
            m_opener(QUrl::fromLocalFile(value));
    } else if (type == QLatin1String("hotKey")) {
        const QStringList parts = value.split(QLatin1Char(','));
        if (parts.size() != 2)
            return;
        const BYTE modifiers = m_modifierBits.value(hexByte(parts[0]), 0);
        keyboard(modifiers, hexByte(parts[1]));
        if (!pause(jittered(kClickMs)))
            return;
        keyboard(modifiers, 0);
        if (!pause(jittered(kClickMs)))
            return;
        keyboard(0, 0);
    } else if (type == QLatin1String("keybroad")) {
        single(true, hexByte(value));
    } else if (type == QLatin1String("mouse")) {
        single(false, hexByte(value));
    } else if (type == QLatin1String("text")) {
        typeText(value);
    }
}

void commandExec::single(bool key, BYTE code)
{
    const auto press = [&](bool down) {
        if (key)
            keyboard(0, down ? code : 0);
        else
            mouse(down ? code : 0, 0);
    };
    if (m_playType == 0) {
        press(m_keyState == 0);
    } else if (m_playType == 1 || m_playType == 2) {
        press(true);
        if (pause(jittered(kClickMs)))
            press(false);
    }
}

void commandExec::keyboard(BYTE modifiers, BYTE key)
{
    BYTE keys[VMULTI_KEYBOARD_KEYS] = {key};
    if (m_vmulti)
        vmulti_update_keyboard(m_vmulti, modifiers, keys);
}

void commandExec::mouse(BYTE buttons, BYTE wheel)
{
    if (m_vmulti)
        vmulti_update_relative_mouse(m_vmulti, buttons, 0, 0, wheel);
}

void commandExec::typeText(const QString& text)
{
    POINT cursor;
    if (!GetCursorPos(&cursor))
        return;
    const HWND window = WindowFromPoint(cursor);
    if (!window)
        return;
    for (const QChar unit : text)
        PostMessageW(window, WM_CHAR, WPARAM(unit.unicode()), 0);
}
