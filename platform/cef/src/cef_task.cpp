// The runtime's task threads. FILE and IO always run on threads of their own. UI and
// RENDERER do too, unless the backend runs them on the page engine's own thread (the thread
// that called CefInitialize): then both share one queue there, which the backend drains when
// asked (ScheduleEngineThreadTasks -> RunEngineThreadTasks).
#include "cef_internal.h"

#include "include/base/cef_logging.h"

#include <chrono>
#include <cstdlib>
#include <deque>
#include <map>
#include <thread>

namespace cef_internal {
namespace {

enum Slot { kUi, kFile, kIo, kRenderer, kSlotCount };

const CefThreadId kThreads[] = {TID_UI, TID_FILE, TID_IO, TID_RENDERER};

int slotOf(CefThreadId id)
{
    switch (id) {
    case TID_UI: return kUi;
    case TID_DB:
    case TID_FILE:
    case TID_FILE_USER_BLOCKING:
    case TID_PROCESS_LAUNCHER:
    case TID_CACHE: return kFile;
    case TID_IO: return kIo;
    case TID_RENDERER: return kRenderer;
    }
    return -1;
}

bool isEngineSlot(int slot) { return slot == kUi || slot == kRenderer; }

// The slot whose thread of its own this thread is (-1: none).
thread_local int t_ownSlot = -1;
// Runtime tasks running on this thread (more than one when a task runs others).
thread_local int t_taskDepth = 0;

// UI and RENDERER run on the engine's thread (g_engineThread) while this is set.
std::atomic<bool> g_onEngineThread{false};
std::thread::id g_engineThread;

bool isEngineThread() { return g_onEngineThread.load(std::memory_order_acquire) && std::this_thread::get_id() == g_engineThread; }

// Tasks due on any task thread that have not finished yet (queued or running). A task that
// posts another one adds it before its own count is dropped, so zero means every chain of
// tasks has come to rest.
std::atomic<int64_t> g_unfinished{0};
std::mutex g_settledMutex;
std::condition_variable g_settled;

void addUnfinished(int64_t n) { g_unfinished.fetch_add(n); }
void dropUnfinished(int64_t n)
{
    // One left may be a task that waits for the others.
    if (n > 0 && g_unfinished.fetch_sub(n) - n <= 1) {
        std::lock_guard<std::mutex> l(g_settledMutex);
        g_settled.notify_all();
    }
}

void runTask(CefRefPtr<CefTask>& task)
{
    ++t_taskDepth;
    task->Execute();
    --t_taskDepth;
    task = nullptr;
    dropUnfinished(1);
}

class TaskQueue {
public:
    typedef std::chrono::steady_clock Clock;

    // On a thread of its own (slot >= 0), or drained by the engine's thread (slot < 0), which
    // schedule() asks to call RunQueued().
    void Start(int slot, std::function<void()> schedule)
    {
        std::lock_guard<std::mutex> l(m_);
        if (running_)
            return;
        running_ = true;
        accepting_ = true;
        scheduled_ = false;
        finished_ = false;
        schedule_ = std::move(schedule);
        if (slot >= 0)
            thread_ = std::thread([this, slot] { Run(slot); });
    }

    // Stops accepting; a thread of its own runs what is queued, then ends. Delayed tasks are
    // dropped.
    void StopAccepting()
    {
        std::lock_guard<std::mutex> l(m_);
        accepting_ = false;
        cv_.notify_all();
    }

    // Waits for the queue's own thread to end; a queue of the engine's thread runs what is
    // left when called there. What was not run is dropped.
    void Join()
    {
        if (thread_.joinable()) {
            // A thread cannot wait for itself: it ends once the task that called this returns.
            if (thread_.get_id() != std::this_thread::get_id())
                thread_.join();
            else
                thread_.detach();
        } else if (isEngineThread()) {
            while (RunOne()) {
            }
        }
        std::deque<CefRefPtr<CefTask>> rest;
        std::multimap<Clock::time_point, CefRefPtr<CefTask>> delayed;
        {
            std::lock_guard<std::mutex> l(m_);
            running_ = false;
            rest.swap(queue_);
            delayed.swap(delayed_);
            schedule_ = nullptr;
        }
        dropUnfinished(int64_t(rest.size()));
        // Released here, outside the lock.
    }

    // At the process's exit, after StopAccepting: waits until the deadline for the queue's own
    // thread to end, then lets go of it. Nothing is run or released here: the rest of the
    // process may already be gone.
    void EndAtExit(std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock<std::mutex> l(m_);
        if (!thread_.joinable())
            return;
        const bool self = thread_.get_id() == std::this_thread::get_id();
        if (!self && cv_.wait_until(l, deadline, [this] { return finished_; })) {
            l.unlock();
            thread_.join();
        } else {
            thread_.detach();
        }
    }

    bool Post(CefRefPtr<CefTask> task, int64 delayMs)
    {
        if (!task)
            return false;
        std::function<void()> schedule;
        {
            std::lock_guard<std::mutex> l(m_);
            if (!accepting_)
                return false;
            if (delayMs > 0 && thread_.joinable()) {
                delayed_.emplace(Clock::now() + std::chrono::milliseconds(delayMs), task);
            } else if (delayMs > 0) {
                // The engine's thread has no timer of the runtime: the FILE thread waits.
                CefRefPtr<CefTask> later = task;
                return CefPostDelayedTask(TID_FILE, cef_extras::ClosureTask([later] { CefPostTask(TID_UI, later); }),
                                          delayMs);
            } else {
                enqueue(task);
            }
            cv_.notify_all();
            // While the engine's thread settles this queue it takes the task itself.
            if (!thread_.joinable() && !scheduled_ && !(isEngineThread() && settling_ > 0)) {
                scheduled_ = true;
                schedule = schedule_;
            }
        }
        if (schedule)
            schedule();
        return true;
    }

    // Engine's thread: runs the tasks queued when called (not those they post), and asks for
    // another round when more are queued.
    void RunQueued()
    {
        size_t n;
        {
            std::lock_guard<std::mutex> l(m_);
            scheduled_ = false;
            n = queue_.size();
        }
        while (n-- > 0 && RunOne()) {
        }
        std::function<void()> schedule;
        {
            std::lock_guard<std::mutex> l(m_);
            if (!queue_.empty() && !scheduled_ && accepting_) {
                scheduled_ = true;
                schedule = schedule_;
            }
        }
        if (schedule)
            schedule();
    }

    // Engine's thread: runs queued tasks, and those they post, for at most `rounds` rounds,
    // before and after fn (when given); asks for a later round when some are left.
    void Settle(int rounds, const std::function<void()>& fn)
    {
        ++settling_;
        runRounds(rounds);
        if (fn) {
            fn();
            runRounds(rounds);
        }
        --settling_;
        std::function<void()> schedule;
        {
            std::lock_guard<std::mutex> l(m_);
            if (settling_ == 0 && !queue_.empty() && !scheduled_ && accepting_) {
                scheduled_ = true;
                schedule = schedule_;
            }
        }
        if (schedule)
            schedule();
    }

private:
    void runRounds(int rounds)
    {
        for (int round = 0; round < rounds; ++round) {
            size_t n;
            {
                std::lock_guard<std::mutex> l(m_);
                n = queue_.size();
            }
            if (n == 0)
                return;
            while (n-- > 0 && RunOne()) {
            }
        }
    }

    bool RunOne()
    {
        CefRefPtr<CefTask> task;
        {
            std::lock_guard<std::mutex> l(m_);
            if (queue_.empty())
                return false;
            task = queue_.front();
            queue_.pop_front();
        }
        runTask(task);
        return true;
    }

    void Run(int slot)
    {
        t_ownSlot = slot;
        RunTasks();
        std::lock_guard<std::mutex> l(m_);
        finished_ = true;
        cv_.notify_all();
    }

    // Until the queue stops accepting and is empty.
    void RunTasks()
    {
        for (;;) {
            CefRefPtr<CefTask> task;
            {
                std::unique_lock<std::mutex> l(m_);
                for (;;) {
                    const auto now = Clock::now();
                    while (accepting_ && !delayed_.empty() && delayed_.begin()->first <= now) {
                        enqueue(delayed_.begin()->second);
                        delayed_.erase(delayed_.begin());
                    }
                    if (!queue_.empty())
                        break;
                    if (!accepting_)
                        return;
                    if (delayed_.empty())
                        cv_.wait(l);
                    else
                        cv_.wait_until(l, delayed_.begin()->first);
                }
                task = queue_.front();
                queue_.pop_front();
            }
            runTask(task);
        }
    }

    // Under m_.
    void enqueue(CefRefPtr<CefTask> task)
    {
        addUnfinished(1);
        queue_.push_back(std::move(task));
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::deque<CefRefPtr<CefTask>> queue_;
    std::multimap<Clock::time_point, CefRefPtr<CefTask>> delayed_;
    std::thread thread_;
    std::function<void()> schedule_;
    bool running_ = false;
    bool accepting_ = false;
    bool finished_ = false;  // the queue's own thread has run its last task
    bool scheduled_ = false; // engine's thread: a RunQueued() is due
    int settling_ = 0;       // engine's thread only: Settle() calls in progress
};

TaskQueue* queues()
{
    // Never destroyed: a thread that is still running when the process exits finds its queue
    // whole, and no thread object is destroyed while it runs.
    static TaskQueue* q = new TaskQueue[kSlotCount];
    return q;
}

// The queue of a slot: UI and RENDERER share the UI queue on the engine's thread.
TaskQueue& queueOf(int slot)
{
    if (isEngineSlot(slot) && g_onEngineThread.load(std::memory_order_acquire))
        return queues()[kUi];
    return queues()[slot];
}

std::atomic<bool> g_running{false};

// How long exit() waits for the task threads to end.
const auto kExitJoinTime = std::chrono::seconds(2);

// exit() without CefShutdown (the display lost, an error elsewhere): the threads stop taking
// tasks and end, each within the bound or left to the process's end.
void stopThreadsAtExit()
{
    if (!g_running.exchange(false))
        return;
    for (int slot = 0; slot < kSlotCount; ++slot)
        queues()[slot].StopAccepting();
    const auto deadline = std::chrono::steady_clock::now() + kExitJoinTime;
    for (int slot = 0; slot < kSlotCount; ++slot)
        queues()[slot].EndAtExit(deadline);
}

class FunctionTask : public CefTask {
public:
    explicit FunctionTask(std::function<void()> f) : f_(std::move(f)) {}
    void Execute() override
    {
        if (f_)
            f_();
    }

private:
    std::function<void()> f_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(FunctionTask);
};

class TaskRunnerImpl : public CefTaskRunner {
public:
    explicit TaskRunnerImpl(CefThreadId id) : id_(id) {}
    bool IsSame(CefRefPtr<CefTaskRunner> that) override
    {
        auto* o = dynamic_cast<TaskRunnerImpl*>(that.get());
        return o && slotOf(o->id_) == slotOf(id_);
    }
    bool BelongsToCurrentThread() override { return CefCurrentlyOn(id_); }
    bool BelongsToThread(CefThreadId threadId) override { return slotOf(threadId) == slotOf(id_); }
    bool PostTask(CefRefPtr<CefTask> task) override { return CefPostTask(id_, task); }
    bool PostDelayedTask(CefRefPtr<CefTask> task, int64 delay_ms) override
    {
        return CefPostDelayedTask(id_, task, delay_ms);
    }

private:
    const CefThreadId id_;
    IMPLEMENT_REFCOUNTING(TaskRunnerImpl);
};

} // namespace

void StartThreads(std::function<void()> scheduleEngineThread)
{
    static const bool atExit = std::atexit(stopThreadsAtExit) == 0;
    (void)atExit;
    if (scheduleEngineThread) {
        g_engineThread = std::this_thread::get_id();
        g_onEngineThread.store(true, std::memory_order_release);
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!scheduleEngineThread || !isEngineSlot(slot))
            queues()[slot].Start(slot, nullptr);
    }
    if (scheduleEngineThread)
        queues()[kUi].Start(-1, std::move(scheduleEngineThread));
    g_running = true;
}

void StopThreads()
{
    g_running = false;
    for (int slot = 0; slot < kSlotCount; ++slot)
        queues()[slot].StopAccepting();
    for (int slot = 0; slot < kSlotCount; ++slot)
        queues()[slot].Join();
    g_onEngineThread.store(false, std::memory_order_release);
}

bool ThreadsRunning() { return g_running; }

bool OnEngineThread() { return isEngineThread(); }

void RunEngineThreadTasks()
{
    if (isEngineThread())
        queues()[kUi].RunQueued();
}

void SettleEngineThread(int rounds, const std::function<void()>& fn)
{
    // Inside a task the rest of the queue waits its turn.
    if (isEngineThread() && t_taskDepth == 0)
        queues()[kUi].Settle(rounds, fn);
    else if (fn)
        fn();
}

bool WaitForTasksToSettle(int timeoutMs)
{
    // The caller's own tasks, when it runs inside some, are still running.
    const int64_t own = t_taskDepth;
    std::unique_lock<std::mutex> l(g_settledMutex);
    return g_settled.wait_for(l, std::chrono::milliseconds(timeoutMs),
                              [own] { return g_unfinished.load() <= own; });
}

} // namespace cef_internal

using namespace cef_internal;

bool CefCurrentlyOn(CefThreadId threadId)
{
    const int slot = slotOf(threadId);
    if (slot < 0)
        return false;
    if (isEngineSlot(slot) && g_onEngineThread.load(std::memory_order_acquire))
        return isEngineThread();
    return t_ownSlot == slot;
}

bool CefPostTask(CefThreadId threadId, CefRefPtr<CefTask> task)
{
    return CefPostDelayedTask(threadId, task, 0);
}

bool CefPostDelayedTask(CefThreadId threadId, CefRefPtr<CefTask> task, int64 delay_ms)
{
    const int slot = slotOf(threadId);
    if (slot < 0)
        return false;
    return queueOf(slot).Post(task, delay_ms);
}

CefRefPtr<CefTask> cef_extras::ClosureTask(std::function<void()> closure)
{
    return new FunctionTask(std::move(closure));
}

CefRefPtr<CefTaskRunner> CefTaskRunner::GetForCurrentThread()
{
    for (CefThreadId id : kThreads)
        if (CefCurrentlyOn(id))
            return new TaskRunnerImpl(id);
    return nullptr;
}

CefRefPtr<CefTaskRunner> CefTaskRunner::GetForThread(CefThreadId threadId)
{
    if (slotOf(threadId) < 0)
        return nullptr;
    return new TaskRunnerImpl(threadId);
}
