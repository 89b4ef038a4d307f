// Runs the benchmarks, then prints each registered ratio between two of them with its target.
#include "BenchRatios.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <vector>

namespace kavo::bench {

namespace {

std::vector<Ratio>& Ratios()
{
    static std::vector<Ratio> ratios;
    return ratios;
}

class RecordingReporter : public benchmark::ConsoleReporter
{
public:
    // CPU time per iteration: steadier than wall time while other work shares the machine. With
    // repetitions the median of them is taken (the console then shows only the aggregates).
    std::map<std::string, double> Times;
    // Per run name, its counters (the medians with repetitions).
    std::map<std::string, std::map<std::string, double>> Counters;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const double time = run.GetAdjustedCPUTime() * benchmark::GetTimeUnitMultiplier(run.time_unit);
            // The repetitions come before their median, which then takes their place.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median)
                Times[run.run_name.str()] = time;
            else if (run.run_type == Run::RT_Iteration)
                Times.emplace(run.benchmark_name(), time);
            for (const auto& [name, counter] : run.counters) {
                if (median)
                    Counters[run.run_name.str()][name] = counter.value;
                else if (run.run_type == Run::RT_Iteration)
                    Counters[run.benchmark_name()].emplace(name, counter.value);
            }
        }
    }
};

} // namespace

bool AddRatio(Ratio ratio)
{
    Ratios().push_back(std::move(ratio));
    return true;
}

} // namespace kavo::bench

int main(int argc, char** argv)
{
    using namespace kavo::bench;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::fflush(stdout);

    bool printedHeader = false;
    for (const Ratio& ratio : Ratios()) {
        double value = 0;
        if (!ratio.Counter.empty()) {
            const auto run = reporter.Counters.find(ratio.Numerator);
            if (run == reporter.Counters.end() || !run->second.contains(ratio.Counter))
                continue;
            value = run->second.at(ratio.Counter);
        } else {
            const auto numerator = reporter.Times.find(ratio.Numerator);
            const auto denominator = reporter.Times.find(ratio.Denominator);
            if (numerator == reporter.Times.end() || denominator == reporter.Times.end() || denominator->second <= 0)
                continue;
            value = numerator->second / denominator->second;
        }
        if (!printedHeader) {
            std::printf("\n%-58s %10s %10s  %s\n", "ratio", "measured", "target", "");
            printedHeader = true;
        }
        const bool met = ratio.AtLeast ? value >= ratio.Target : value <= ratio.Target;
        std::printf("%-58s %10.2f %9s%.1f  %s\n", ratio.Label.c_str(), value, ratio.AtLeast ? ">=" : "<=", ratio.Target,
                    met ? "met" : "NOT MET");
    }
    std::fflush(stdout);
    return 0;
}
