// A clock for the macro worker that tests drive. Running on its own, every sleep passes at once;
// otherwise time stands still until the test moves it on, and the worker really waits (a stop,
// a new task or quit still wake it). Held, the worker's wait, also one already begun, goes on
// through every wake-up until the test lets it go, as a call stuck in a driver would. Every sleep
// is recorded.
#pragma once

#include "devices/command_exec.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace test_support {

class FakeMacroClock : public MacroClock {
public:
    struct Sleep {
        qint64 at;   // when it began
        qint64 ms;   // how long it was to be
        size_t mark; // what mark() said when it began
    };

    explicit FakeMacroClock(bool runsOnItsOwn = true)
        : m_runsOnItsOwn(runsOnItsOwn)
    {
    }

    // Taken at the start of each sleep, e.g. the number of reports written so far.
    std::function<size_t()> mark;

    int msecsSinceMidnight() override
    {
        return m_systemChance ? MacroClock::msecsSinceMidnight() : m_timeOfDay.load();
    }
    int randomAfterSeed(uint seed) override
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_seeds.push_back(seed);
        }
        return m_systemChance ? MacroClock::randomAfterSeed(seed) : m_random.load();
    }

    bool sleep(std::condition_variable& cond, std::unique_lock<std::mutex>& lock, int ms,
               const std::function<bool()>& interrupted) override
    {
        const qint64 deadline = m_now + ms;
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_sleeps.push_back({m_now, ms, mark ? mark() : 0});
            m_waiterCond = &cond;
            m_waiterMutex = lock.mutex();
            m_sleeping = true;
        }
        bool passed;
        for (;;) {
            // Held, the worker stays here whatever woke it, and lets others take its lock.
            if (m_held) {
                lock.unlock();
                {
                    std::unique_lock<std::mutex> g(m_lock);
                    m_heldCond.wait(g, [this] { return !m_held; });
                }
                lock.lock();
                continue;
            }
            if (interrupted()) {
                passed = false;
                break;
            }
            qint64 now = m_now;
            if (now >= deadline) {
                passed = true;
                break;
            }
            if (m_runsOnItsOwn)
                m_now.compare_exchange_weak(now, deadline);
            else
                cond.wait(lock);
        }
        std::lock_guard<std::mutex> g(m_lock);
        m_sleeping = false;
        return passed;
    }

    qint64 now() const { return m_now; }
    // Moves time on and wakes the worker waiting on this clock.
    void advance(qint64 ms)
    {
        m_now += ms;
        wakeWaiter();
    }
    void setRunsOnItsOwn(bool on)
    {
        m_runsOnItsOwn = on;
        wakeWaiter();
    }
    void hold() { m_held = true; }
    void letGo()
    {
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_held = false;
        }
        m_heldCond.notify_all();
    }
    // The worker waits on this clock now, in its sleep number n (counted from 1) when n is given.
    bool sleeping(size_t n = 0) const
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_sleeping && (n == 0 || m_sleeps.size() == n);
    }
    std::vector<Sleep> sleeps() const
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_sleeps;
    }
    std::vector<uint> seeds() const
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_seeds;
    }
    void setTimeOfDay(int ms) { m_timeOfDay = ms; }
    void setRandom(int value) { m_random = value; }
    // Time of day and random numbers from the system's clock and generator.
    void useSystemChance() { m_systemChance = true; }

private:
    void wakeWaiter()
    {
        std::condition_variable* cond;
        std::mutex* mutex;
        {
            std::lock_guard<std::mutex> g(m_lock);
            cond = m_waiterCond;
            mutex = m_waiterMutex;
        }
        if (cond) {
            std::lock_guard<std::mutex> g(*mutex);
            cond->notify_all();
        }
    }

    mutable std::mutex m_lock;
    std::condition_variable m_heldCond;
    std::atomic<qint64> m_now{1000000};
    std::atomic<bool> m_runsOnItsOwn;
    std::atomic<bool> m_held{false};
    std::atomic<bool> m_systemChance{false};
    std::atomic<int> m_timeOfDay{0};
    std::atomic<int> m_random{0};
    std::vector<Sleep> m_sleeps;
    std::vector<uint> m_seeds;
    std::condition_variable* m_waiterCond = nullptr;
    std::mutex* m_waiterMutex = nullptr;
    bool m_sleeping = false;
};

} // namespace test_support
