// The work each end does for one message besides its system calls: reading
// the clocks, composing the client's message, parsing the server's.
#include "pacing/clock.h"
#include "traffic/message.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>

namespace {

void clock_read(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(clock_ns());
}
BENCHMARK(clock_read);

void calendar_seconds(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(std::time(nullptr));
}
BENCHMARK(calendar_seconds);

// The client's message composed whole, as for every send before the draft.
void client_compose(benchmark::State& state)
{
    const int padlen = static_cast<int>(state.range(0));
    char buffer[MESSAGE_BUFFER_SIZE];
    for (auto _ : state) {
        benchmark::DoNotOptimize(message_compose(buffer, static_cast<std::int64_t>(std::time(nullptr)), padlen));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(client_compose)->ArgName("padlen")->Arg(0)->Arg(200)->Arg(4000);

// The client's message kept between sends and composed again only when the
// second changes: what the client does per message.
void client_draft(benchmark::State& state)
{
    const int padlen = static_cast<int>(state.range(0));
    message_draft draft;
    for (auto _ : state) {
        benchmark::DoNotOptimize(message_draft_update(&draft, static_cast<std::int64_t>(std::time(nullptr)), padlen));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(client_draft)->ArgName("padlen")->Arg(0)->Arg(200)->Arg(4000);

// The server's per-message work after its read: parse and age.
void server_parse(benchmark::State& state)
{
    const int padlen = static_cast<int>(state.range(0));
    char buffer[MESSAGE_BUFFER_SIZE + 1];
    const int length = message_compose(buffer, static_cast<std::int64_t>(std::time(nullptr)), padlen);
    buffer[length] = '\0';
    for (auto _ : state) {
        std::int64_t timestamp = 0;
        benchmark::DoNotOptimize(message_parse(buffer, &timestamp));
        benchmark::DoNotOptimize(message_age(static_cast<std::int64_t>(std::time(nullptr)), timestamp));
    }
}
BENCHMARK(server_parse)->ArgName("padlen")->Arg(0)->Arg(200)->Arg(4000);

} // namespace

BENCHMARK_MAIN();
