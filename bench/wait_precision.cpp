// How far past its target pace_wait returns: the median, 99th percentile and
// largest overshoot for waits on both sides of the 16 ms sleep threshold.
//
// Each benchmark iteration is one wait; the overshoots are kept and summarised
// when the run ends. Rows with a timer slack force the calling thread's slack
// for the sleeps, to show what the operating system's default would cost.
#include "pacing/clock.h"

#include <benchmark/benchmark.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t us = 1'000;
constexpr std::int64_t ms = 1'000'000;

double percentile_us(const std::vector<std::int64_t>& sorted, double fraction)
{
    // Nearest rank: the smallest sample with at least this fraction at or below it.
    std::size_t rank = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size()) + 0.999999);
    rank = std::clamp<std::size_t>(rank, 1, sorted.size());
    return static_cast<double>(sorted[rank - 1]) / 1e3;
}

void overshoot(benchmark::State& state)
{
    const std::int64_t ns = state.range(0);
    const std::int64_t forced_slack = state.range(1);
    // One wait first, so that anything the sleep sets up on first use is done
    // before the slack is forced and before the samples start.
    pace_wait(16 * ms);
    const int previous_slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (forced_slack > 0)
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(forced_slack), 0, 0, 0);

    std::vector<std::int64_t> samples;
    samples.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        const std::int64_t start = clock_ns();
        pace_wait(ns);
        samples.push_back(clock_ns() - start - ns);
    }
    const int slack_in_use = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (forced_slack > 0)
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previous_slack), 0, 0, 0);

    std::sort(samples.begin(), samples.end());
    state.counters["median_us"] = percentile_us(samples, 0.5);
    state.counters["p99_us"] = percentile_us(samples, 0.99);
    state.counters["max_us"] = percentile_us(samples, 1.0);
    state.counters["slack_ns"] = slack_in_use;
}

// The floor under the sleeps: a bare nanosleep of the same length with the
// least timer slack, i.e. the time the system itself takes to wake a sleeper.
void bare_nanosleep(benchmark::State& state)
{
    const std::int64_t ns = state.range(0);
    const int previous_slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    std::vector<std::int64_t> samples;
    samples.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        const std::int64_t start = clock_ns();
        timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        nanosleep(&ts, nullptr);
        samples.push_back(clock_ns() - start - ns);
    }
    state.counters["slack_ns"] = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previous_slack), 0, 0, 0);
    std::sort(samples.begin(), samples.end());
    state.counters["median_us"] = percentile_us(samples, 0.5);
    state.counters["p99_us"] = percentile_us(samples, 0.99);
    state.counters["max_us"] = percentile_us(samples, 1.0);
}

// Lengths and sample counts: a few seconds per row.
void wait_lengths(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"wait_ns", "forced_slack_ns"})->UseRealTime()->Unit(benchmark::kMicrosecond);
}

BENCHMARK(overshoot)->Apply(wait_lengths)->Args({1 * us, 0})->Iterations(20000);
BENCHMARK(overshoot)->Apply(wait_lengths)->Args({10 * us, 0})->Iterations(20000);
BENCHMARK(overshoot)->Apply(wait_lengths)->Args({100 * us, 0})->Iterations(10000);
BENCHMARK(overshoot)->Apply(wait_lengths)->Args({1 * ms, 0})->Iterations(2000);
BENCHMARK(overshoot)->Apply(wait_lengths)->Args({15'900 * us, 0})->Iterations(150);
BENCHMARK(overshoot)->Apply(wait_lengths)->Args({16 * ms, 0})->Iterations(150);
BENCHMARK(overshoot)->Apply(wait_lengths)->Args({100 * ms, 0})->Iterations(40);
BENCHMARK(overshoot)->Apply(wait_lengths)->Args({16 * ms, 50'000})->Iterations(150);
BENCHMARK(overshoot)->Apply(wait_lengths)->Args({100 * ms, 50'000})->Iterations(40);
BENCHMARK(bare_nanosleep)->Apply(wait_lengths)->Args({16 * ms, 1})->Iterations(150);
BENCHMARK(bare_nanosleep)->Apply(wait_lengths)->Args({100 * ms, 1})->Iterations(40);

std::string wait_text(std::int64_t ns)
{
    char text[32];
    if (ns >= ms)
        std::snprintf(text, sizeof text, "%g ms", static_cast<double>(ns) / ms);
    else
        std::snprintf(text, sizeof text, "%g us", static_cast<double>(ns) / us);
    return text;
}

// One line per wait length: the overshoot figures and how busy the wait kept
// the processor (about 100 % for a spin, about 0 % for a sleep).
class wait_table : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context&) override
    {
        std::printf("%-9s %-10s %11s %7s %12s %12s %12s %8s\n", "wait", "how", "timer slack", "samples",
                    "median (us)", "p99 (us)", "max (us)", "cpu");
        return true;
    }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const std::string& args = run.run_name.args;  // "wait_ns:N/forced_slack_ns:M"
            long long ns = 0, forced = 0;
            std::sscanf(args.c_str(), "wait_ns:%lld/forced_slack_ns:%lld", &ns, &forced);
            const double cpu = run.real_accumulated_time > 0
                ? 100.0 * run.cpu_accumulated_time / run.real_accumulated_time : 0.0;
            const bool bare = run.run_name.function_name == "bare_nanosleep";
            const char* how = bare ? "nanosleep" : ns >= 16 * ms ? "sleep" : "spin";
            char slack[32];
            if (ns < 16 * ms)
                std::snprintf(slack, sizeof slack, "-");
            else
                std::snprintf(slack, sizeof slack, "%.0f ns%s", run.counters.at("slack_ns").value,
                              forced > 0 && !bare ? "*" : "");
            std::printf("%-9s %-10s %11s %7lld %12.2f %12.2f %12.2f %7.0f%%\n", wait_text(ns).c_str(),
                        how, slack, static_cast<long long>(run.iterations),
                        run.counters.at("median_us").value, run.counters.at("p99_us").value,
                        run.counters.at("max_us").value, cpu);
        }
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    wait_table table;
    benchmark::RunSpecifiedBenchmarks(&table);
    std::printf("spin and sleep rows: pace_wait as the program runs it\n"
                "*: the same with the timer slack forced to the kernel's default, for comparison\n"
                "nanosleep: a bare nanosleep with the least slack, the system's own wake-up time\n");
    benchmark::Shutdown();
    return 0;
}
