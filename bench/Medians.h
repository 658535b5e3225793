// What the benchmarks with a ratio share: five repetitions unless the
// command line asks otherwise, and the median CPU time of each benchmark
// over its repetitions (in the benchmark's time unit).
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace bench {

class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration) times_[r.benchmark_name()].push_back(r.GetAdjustedCPUTime());
    }
    double Median(const std::string& name) {
        std::vector<double>& v = times_[name];
        if (v.empty()) return 0;
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    }

private:
    std::map<std::string, std::vector<double>> times_;
};

// benchmark::Initialize with "--benchmark_repetitions=5" added when no
// repetitions were asked for.
inline void InitializeWithFiveRuns(int* argc, char** argv) {
    static std::vector<char*> args;
    static char five[] = "--benchmark_repetitions=5";
    args.assign(argv, argv + *argc);
    bool repetitions = false;
    for (int i = 1; i < *argc; ++i) repetitions |= std::string(argv[i]).find("repetitions") != std::string::npos;
    if (!repetitions) args.push_back(five);
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    *argc = count;
}

}  // namespace bench
