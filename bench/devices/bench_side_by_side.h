// Side-by-side timing of an operation of the program against the bare library call beneath it
// (its floor), in one run: the two sides alternate round by round, each round times a batch of
// calls, and the medians per call are compared. The ratio is printed last; the exit status says
// whether it met its target.
#pragma once

#include "stable_runs.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace bench {

struct Side {
    const char* name;
    std::function<void()> call;
};

namespace detail {

inline double secondsOf(const std::function<void()>& call, int count)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        call();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Calls per batch so that one batch takes about `seconds`.
inline int batchFor(const std::function<void()>& call, double seconds)
{
    int count = 1;
    while (count < (1 << 24)) {
        const double took = secondsOf(call, count);
        if (took >= seconds / 4)
            return std::max(1, int(count * seconds / took));
        count *= 2;
    }
    return count;
}

inline void print(const char* role, const Side& side, const Stats& t)
{
    std::printf("%-7s %-46s median %9.3f us  (min %9.3f, max %9.3f)\n", role, side.name, t.median, t.min, t.max);
}

} // namespace detail

struct Result {
    double floor, subject; // median microseconds per call
    int status;            // 0 when the ratio met its target
};

// Runs of `rounds` rounds each, repeated until their ratios agree (stable_runs.h); the medians
// are those of the last three runs' rounds together.
inline Result measure(const char* title, const Side& floor, const Side& subject, double target, int rounds = 21)
{
    using namespace detail;
    std::printf("%s\n", title);
    // Warm both sides, then size the batches.
    secondsOf(floor.call, 100);
    secondsOf(subject.call, 100);
    const int floorBatch = batchFor(floor.call, 0.01);
    const int subjectBatch = batchFor(subject.call, 0.01);
    RunSamples floorRuns, subjectRuns;
    const Stability stability = repeatUntilStable([&](int) {
        std::vector<double> floorUs, subjectUs;
        for (int r = 0; r < rounds; ++r) {
            const bool floorFirst = r % 2 == 0;
            for (int k = 0; k < 2; ++k) {
                if ((k == 0) == floorFirst)
                    floorUs.push_back(secondsOf(floor.call, floorBatch) * 1e6 / floorBatch);
                else
                    subjectUs.push_back(secondsOf(subject.call, subjectBatch) * 1e6 / subjectBatch);
            }
        }
        floorRuns.add(floorUs);
        subjectRuns.add(subjectUs);
        return std::vector<double>{subjectRuns.lastMedian() / floorRuns.lastMedian()};
    });
    const Stats f = floorRuns.lastStats();
    const Stats s = subjectRuns.lastStats();
    print("floor", floor, f);
    print("subject", subject, s);
    const double ratio = s.median / f.median;
    printStability(stability);
    std::printf("ratio %.2fx (target <= %gx): %s\n", ratio, target, ratio <= target ? "met" : "MISSED");
    return {f.median, s.median, ratio <= target ? 0 : 1};
}

// Returns the process's exit status: 0 when the median ratio is at most `target`.
inline int compare(const char* title, const Side& floor, const Side& subject, double target, int rounds = 21)
{
    return measure(title, floor, subject, target, rounds).status;
}

} // namespace bench
