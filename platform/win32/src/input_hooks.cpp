#include "cursor.h"
#include "faults.h"
#include "handle_table.h"
#include "input_delivery.h"

#include "win32sim/input_hooks.h"

#include <QObject>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

using namespace win32_internal;

namespace {

class Mailbox;

class Hook : public KernelObject {
public:
    int kind = 0;
    HOOKPROC proc = nullptr;
    // The installing thread's mailbox, through which the other threads' events reach the
    // procedure; null once that thread has ended. Guarded by the hooks' lock.
    Mailbox* mailbox = nullptr;
    std::atomic<bool> removed{false};

    void closed() override;
};

typedef std::vector<std::shared_ptr<Hook>> Chain;

struct Hooks {
    std::mutex lock;
    Chain installed; // newest first
};

Hooks& hooks()
{
    static Hooks h;
    return h;
}

void removeInstalled(const std::function<bool(const Hook&)>& which)
{
    Hooks& h = hooks();
    std::lock_guard<std::mutex> g(h.lock);
    h.installed.erase(std::remove_if(h.installed.begin(), h.installed.end(),
                                     [&](const std::shared_ptr<Hook>& p) {
                                         if (!which(*p))
                                             return false;
                                         p->removed = true;
                                         p->mailbox = nullptr;
                                         return true;
                                     }),
                      h.installed.end());
}

void Hook::closed()
{
    removeInstalled([this](const Hook& h) { return &h == this; });
}

// Work for one thread handed over by the others: queued under a lock, and the thread woken through
// a pipe that its event loop watches. Made on the thread the first time it installs a hook, and
// gone with the thread, taking that thread's hooks with it.
class Mailbox {
public:
    Mailbox()
    {
        if (::pipe2(m_fds, O_NONBLOCK | O_CLOEXEC) != 0)
            return;
        m_notifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read);
        QObject::connect(m_notifier, &QSocketNotifier::activated, [this] { run(); });
    }

    ~Mailbox()
    {
        removeInstalled([this](const Hook& h) { return h.mailbox == this; });
        delete m_notifier;
        for (int fd : m_fds)
            if (fd >= 0)
                ::close(fd);
    }

    // Any thread, holding the hooks' lock (so that the mailbox cannot go meanwhile).
    void post(std::function<void()> task)
    {
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_tasks.push_back(std::move(task));
        }
        const char wake = 0;
        if (m_fds[1] >= 0 && ::write(m_fds[1], &wake, 1) < 0) {
            // The pipe is full: the thread has a wake-up waiting already.
        }
    }

private:
    void run()
    {
        char drained[64];
        while (::read(m_fds[0], drained, sizeof drained) > 0) {
        }
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard<std::mutex> g(m_lock);
            tasks.swap(m_tasks);
        }
        for (std::function<void()>& task : tasks)
            task();
    }

    int m_fds[2] = {-1, -1};
    QSocketNotifier* m_notifier = nullptr;
    std::mutex m_lock;
    std::deque<std::function<void()>> m_tasks;
};

thread_local std::unique_ptr<Mailbox> t_mailbox;

Mailbox* mailboxOfThisThread()
{
    if (!t_mailbox)
        t_mailbox = std::make_unique<Mailbox>();
    return t_mailbox.get();
}

// The chains that events are passing through on this thread, innermost last.
struct Frame {
    const Chain* chain;
    size_t position;
};
thread_local std::vector<Frame> t_frames;

// Calls the first procedure from `from` on that is still installed.
LRESULT callFrom(const Chain& chain, size_t from, int code, WPARAM wParam, LPARAM lParam)
{
    for (size_t i = from; i < chain.size(); ++i) {
        if (chain[i]->removed)
            continue;
        t_frames.back().position = i;
        return chain[i]->proc(code, wParam, lParam);
    }
    return 0;
}

LRESULT runChain(const Chain& chain, WPARAM wParam, LPARAM lParam)
{
    t_frames.push_back({&chain, 0});
    const LRESULT result = callFrom(chain, 0, HC_ACTION, wParam, lParam);
    t_frames.pop_back();
    return result;
}

template <class Event>
LRESULT deliver(int kind, UINT message, const Event& event)
{
    Mailbox* here = t_mailbox.get();
    Chain local;
    {
        Hooks& h = hooks();
        std::lock_guard<std::mutex> g(h.lock);
        // The hooks of each thread, in chain order, run on it as one chain.
        std::vector<std::pair<Mailbox*, Chain>> chains;
        for (const std::shared_ptr<Hook>& hook : h.installed) {
            if (hook->kind != kind || !hook->mailbox)
                continue;
            auto it = std::find_if(chains.begin(), chains.end(),
                                   [&](const std::pair<Mailbox*, Chain>& c) { return c.first == hook->mailbox; });
            if (it == chains.end())
                it = chains.insert(chains.end(), {hook->mailbox, Chain()});
            it->second.push_back(hook);
        }
        for (std::pair<Mailbox*, Chain>& c : chains) {
            if (c.first == here) {
                local = std::move(c.second);
                continue;
            }
            c.first->post([chain = std::move(c.second), message, event]() mutable {
                runChain(chain, message, reinterpret_cast<LPARAM>(&event));
            });
        }
    }
    if (local.empty())
        return 0;
    Event copy = event;
    return runChain(local, message, reinterpret_cast<LPARAM>(&copy));
}

} // namespace

namespace win32_internal {

LRESULT deliverMouseEvent(UINT message, const MSLLHOOKSTRUCT& event) { return deliver(WH_MOUSE_LL, message, event); }

LRESULT deliverKeyEvent(UINT message, const KBDLLHOOKSTRUCT& event) { return deliver(WH_KEYBOARD_LL, message, event); }

DWORD inputTime()
{
    using namespace std::chrono;
    return DWORD(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace win32_internal

HMODULE GetModuleHandleW(LPCWSTR moduleName)
{
    static char image;
    if (moduleName) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return &image;
}

HHOOK SetWindowsHookExW(int idHook, HOOKPROC lpfn, HINSTANCE hmod, DWORD dwThreadId)
{
    if (idHook != WH_KEYBOARD_LL && idHook != WH_MOUSE_LL) {
        SetLastError(ERROR_INVALID_HOOK_FILTER);
        return nullptr;
    }
    if (!lpfn) {
        SetLastError(ERROR_INVALID_FILTER_PROC);
        return nullptr;
    }
    if (dwThreadId != 0) {
        SetLastError(ERROR_GLOBAL_ONLY_HOOK);
        return nullptr;
    }
    if (!hmod) {
        SetLastError(ERROR_HOOK_NEEDS_HMOD);
        return nullptr;
    }
    if (takeFault("SetWindowsHookExW"))
        return nullptr;
    auto hook = std::make_shared<Hook>();
    hook->kind = idHook;
    hook->proc = lpfn;
    Mailbox* mailbox = mailboxOfThisThread();
    HANDLE handle = insertHandle(hook);
    if (!handle)
        return nullptr;
    {
        Hooks& h = hooks();
        std::lock_guard<std::mutex> g(h.lock);
        hook->mailbox = mailbox;
        h.installed.insert(h.installed.begin(), hook);
    }
    if (idHook == WH_MOUSE_LL)
        startRealPointer();
    return reinterpret_cast<HHOOK>(handle);
}

LRESULT CallNextHookEx(HHOOK, int nCode, WPARAM wParam, LPARAM lParam)
{
    if (t_frames.empty())
        return 0;
    const Frame frame = t_frames.back();
    return callFrom(*frame.chain, frame.position + 1, nCode, wParam, lParam);
}

BOOL UnhookWindowsHookEx(HHOOK hhk)
{
    if (closeHandleOf<Hook>(reinterpret_cast<HANDLE>(hhk)))
        return TRUE;
    SetLastError(ERROR_INVALID_HOOK_HANDLE);
    return FALSE;
}

bool win32sim::injectMouseEvent(UINT message, POINT pt, DWORD mouseData, DWORD flags)
{
    moveCursor(pt);
    MSLLHOOKSTRUCT event{pt, mouseData, flags, inputTime(), 0};
    return deliverMouseEvent(message, event) != 0;
}

bool win32sim::injectKeyEvent(UINT message, DWORD vkCode, DWORD scanCode, DWORD flags)
{
    KBDLLHOOKSTRUCT event{vkCode, scanCode, flags, inputTime(), 0};
    return deliverKeyEvent(message, event) != 0;
}

int win32sim::installedHooks(int idHook)
{
    Hooks& h = hooks();
    std::lock_guard<std::mutex> g(h.lock);
    return int(std::count_if(h.installed.begin(), h.installed.end(),
                             [idHook](const std::shared_ptr<Hook>& p) { return p->kind == idHook; }));
}

bool win32sim::realPointerFeedRunning() { return realPointerRunning(); }
