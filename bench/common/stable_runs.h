// Runs of a benchmark repeated until they agree. Each run gives one value per measure (its ratio
// to the floor); runs go on until, for every measure, the values of three consecutive runs agree
// within 10%, or kMaxRuns runs have been made. The samples of each side are kept run by run, so
// that the report takes the medians of the last three runs' samples together.
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

namespace bench {

const int kMaxRuns = 12;
const int kAgreeingRuns = 3;

struct Stats {
    double median = 0, min = 0, max = 0;
};

// Median (the mean of the middle two for an even count), min and max; zeros when empty.
inline Stats statsOf(std::vector<double> v)
{
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return {n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2, v.front(), v.back()};
}

// True when the last three values are there and the largest is at most 10% above the smallest.
inline bool lastRunsAgree(const std::vector<double>& values)
{
    if (values.size() < size_t(kAgreeingRuns))
        return false;
    const auto last = values.end() - kAgreeingRuns;
    const double low = *std::min_element(last, values.end());
    const double high = *std::max_element(last, values.end());
    return low > 0 && high <= 1.10 * low;
}

// The samples of one side, run by run.
class RunSamples {
public:
    void add(std::vector<double> run) { runs_.push_back(std::move(run)); }
    int runs() const { return int(runs_.size()); }
    // The latest run's median.
    double lastMedian() const { return runs_.empty() ? 0 : statsOf(runs_.back()).median; }
    // The samples of the last three runs (or of all, when fewer) together.
    std::vector<double> lastRuns() const
    {
        std::vector<double> all;
        for (size_t i = runs_.size() > size_t(kAgreeingRuns) ? runs_.size() - kAgreeingRuns : 0; i < runs_.size(); ++i)
            all.insert(all.end(), runs_[i].begin(), runs_[i].end());
        return all;
    }
    Stats lastStats() const { return statsOf(lastRuns()); }

private:
    std::vector<std::vector<double>> runs_;
};

struct Stability {
    int runs = 0;
    bool stable = false;
    bool failed = false; // a run could not measure
    std::vector<std::vector<double>> values; // per measure, run by run
};

// Calls run(i) for i = 0, 1, ... until the values it returns (one per measure) agree, for every
// measure, over three consecutive runs, or maxRuns (at least three) runs are made. An empty
// answer means the run could not measure, and ends the runs.
inline Stability repeatUntilStable(const std::function<std::vector<double>(int run)>& run, int maxRuns = kMaxRuns)
{
    Stability s;
    std::vector<std::vector<double>>& values = s.values;
    for (int i = 0; i < std::max(maxRuns, kAgreeingRuns); ++i) {
        const std::vector<double> v = run(i);
        ++s.runs;
        if (v.empty()) {
            s.failed = true;
            return s;
        }
        values.resize(v.size());
        for (size_t m = 0; m < v.size(); ++m)
            values[m].push_back(v[m]);
        s.stable = std::all_of(values.begin(), values.end(), lastRunsAgree);
        if (s.stable)
            return s;
    }
    return s;
}

// "runs <n> (the last three agree within 10%: yes|no)", then each measure's value run by run.
inline void printStability(const Stability& s, const std::vector<const char*>& measures = {"ratio"})
{
    std::printf("runs %d (the last three agree within 10%%: %s)\n", s.runs,
                s.failed ? "a run failed" : s.stable ? "yes" : "no");
    for (size_t m = 0; m < s.values.size(); ++m) {
        std::printf("  %s by run:", m < measures.size() ? measures[m] : "value");
        for (double v : s.values[m])
            std::printf(" %.3f", v);
        std::printf("\n");
    }
}

} // namespace bench
