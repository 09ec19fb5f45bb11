#include "cef_internal.h"

#include "include/base/cef_logging.h"

#include <deque>
#include <map>
#include <thread>

namespace cef_internal {
namespace {

const CefThreadId kThreads[] = {TID_UI, TID_FILE, TID_IO, TID_RENDERER};
const int kThreadCount = 4;

int slotOf(CefThreadId id)
{
    switch (id) {
    case TID_UI: return 0;
    case TID_DB:
    case TID_FILE:
    case TID_FILE_USER_BLOCKING:
    case TID_PROCESS_LAUNCHER:
    case TID_CACHE: return 1;
    case TID_IO: return 2;
    case TID_RENDERER: return 3;
    }
    return -1;
}

thread_local int t_currentSlot = -1;

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

class TaskThread {
public:
    explicit TaskThread(int slot) : slot_(slot) {}

    void Start()
    {
        std::lock_guard<std::mutex> l(m_);
        if (running_)
            return;
        running_ = true;
        accepting_ = true;
        thread_ = std::thread([this] { Run(); });
    }

    // Stops accepting; the thread runs what is queued, then ends. Delayed tasks are dropped.
    void StopAccepting()
    {
        std::lock_guard<std::mutex> l(m_);
        accepting_ = false;
        cv_.notify_all();
    }

    void Join()
    {
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
            thread_.join();
        std::deque<CefRefPtr<CefTask>> rest;
        std::multimap<Clock::time_point, CefRefPtr<CefTask>> delayed;
        {
            std::lock_guard<std::mutex> l(m_);
            running_ = false;
            rest.swap(queue_);
            delayed.swap(delayed_);
        }
        dropUnfinished(int64_t(rest.size()));
        // Released here, outside the lock.
    }

    bool Post(CefRefPtr<CefTask> task, int64 delayMs)
    {
        if (!task)
            return false;
        std::lock_guard<std::mutex> l(m_);
        if (!accepting_)
            return false;
        if (delayMs > 0)
            delayed_.emplace(Clock::now() + std::chrono::milliseconds(delayMs), task);
        else
            enqueue(task);
        cv_.notify_all();
        return true;
    }

    bool Accepting()
    {
        std::lock_guard<std::mutex> l(m_);
        return accepting_;
    }

private:
    typedef std::chrono::steady_clock Clock;

    void Run()
    {
        t_currentSlot = slot_;
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
            task->Execute();
            task = nullptr;
            dropUnfinished(1);
        }
    }

    // Under m_.
    void enqueue(CefRefPtr<CefTask> task)
    {
        addUnfinished(1);
        queue_.push_back(std::move(task));
    }

    const int slot_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<CefRefPtr<CefTask>> queue_;
    std::multimap<Clock::time_point, CefRefPtr<CefTask>> delayed_;
    std::thread thread_;
    bool running_ = false;
    bool accepting_ = false;
};

TaskThread* threads()
{
    static TaskThread t[kThreadCount] = {TaskThread(0), TaskThread(1), TaskThread(2), TaskThread(3)};
    return t;
}

std::atomic<bool> g_running{false};

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

void StartThreads()
{
    for (int i = 0; i < kThreadCount; ++i)
        threads()[i].Start();
    g_running = true;
}

void StopThreads()
{
    g_running = false;
    for (int i = 0; i < kThreadCount; ++i)
        threads()[i].StopAccepting();
    for (int i = 0; i < kThreadCount; ++i)
        threads()[i].Join();
}

bool ThreadsRunning() { return g_running; }

bool WaitForTasksToSettle(int timeoutMs)
{
    // The caller's own task, when it is one, is still running.
    const int64_t own = t_currentSlot >= 0 ? 1 : 0;
    std::unique_lock<std::mutex> l(g_settledMutex);
    return g_settled.wait_for(l, std::chrono::milliseconds(timeoutMs),
                              [own] { return g_unfinished.load() <= own; });
}

} // namespace cef_internal

using namespace cef_internal;

bool CefCurrentlyOn(CefThreadId threadId)
{
    const int slot = slotOf(threadId);
    return slot >= 0 && t_currentSlot == slot;
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
    return threads()[slot].Post(task, delay_ms);
}

CefRefPtr<CefTask> cef_extras::ClosureTask(std::function<void()> closure)
{
    return new FunctionTask(std::move(closure));
}

CefRefPtr<CefTaskRunner> CefTaskRunner::GetForCurrentThread()
{
    if (t_currentSlot < 0)
        return nullptr;
    return new TaskRunnerImpl(kThreads[t_currentSlot]);
}

CefRefPtr<CefTaskRunner> CefTaskRunner::GetForThread(CefThreadId threadId)
{
    if (slotOf(threadId) < 0)
        return nullptr;
    return new TaskRunnerImpl(threadId);
}
