// Runs one end of the connection (the program, or a reference loop) against
// the bench's own peer on loopback, and measures it from outside:
//
//   fidelity  messages per second of the program next to the reference loop,
//             alternated run by run, for each end, rate and padlen
//   cost      processor share and peak resident memory of each end
//   stop      time from SIGINT to exit
//   count     one run; prints how many messages the peer saw (for the
//             allocation and system-call counts that scripts/bench makes)
//
// Messages are counted at the peer, never from the program's marks: the sink
// divides the bytes it received by the message length, the flood divides the
// reply bytes by the reply length.
#include "peers.h"

#include "pacing/clock.h"
#include "traffic/message.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct options {
    std::string quorvel, ref_client, ref_server;
    double seconds = 3.0;        // measured window of each fidelity run
    double warmup = 0.5;         // before the window opens
    int rounds = 2;              // program/reference pairs per case
    int trials = 5;              // stop-latency trials per case
    std::vector<int> rates{1000, 10000, 100000};
    std::vector<int> padlens{0, 200, 4000};
    std::vector<std::string> ends{"client", "server"};
    // count
    std::string end = "client";
    int rate = 1000;
    int padlen = 200;
    std::vector<std::string> wrapper;  // a command the program runs under (env, strace)
    bool pin = false;                  // the end on the last processor, its peer on the others
};

// With pinning, the end under test runs on this processor (-1: anywhere).
int end_cpu = -1;

double now_s() { return static_cast<double>(clock_ns()) / 1e9; }

void sleep_s(double seconds)
{
    const std::int64_t until = clock_ns() + static_cast<std::int64_t>(seconds * 1e9);
    for (;;) {
        const std::int64_t left = until - clock_ns();
        if (left <= 0)
            return;
        timespec ts{static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
        nanosleep(&ts, nullptr);
    }
}

// One end under test: which program and the arguments for one run.
enum class program { ours, reference };

struct child_run {
    pid_t pid = -1;       // what was spawned (the wrapper, when there is one)
    pid_t target = -1;    // what gets the signal
    int status = 0;
    rusage usage{};
    long peak_kib = -1;   // VmHWM just before the stop
    double started = 0, ended = 0;
};

std::vector<std::string> end_command(const options& o, const std::string& end, program p, int port, int rate,
                                     int padlen)
{
    const std::string r = std::to_string(rate), l = std::to_string(padlen), pt = std::to_string(port);
    if (p == program::reference)
        return {end == "client" ? o.ref_client : o.ref_server, pt, r, l};
    if (end == "client")
        return {o.quorvel, "-mode", "client", "-host", "127.0.0.1", "-port", pt, "-rate", r, "-padlen", l};
    return {o.quorvel, "-mode", "server", "-port", pt, "-rate", r, "-padlen", l};
}

bool spawn(const std::vector<std::string>& wrapper, const std::vector<std::string>& command, child_run* run)
{
    std::vector<std::string> all = wrapper;
    all.insert(all.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    run->started = now_s();
    const int failed = posix_spawnp(&run->pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        std::fprintf(stderr, "bench_drive: cannot start %s: %s\n", argv[0], std::strerror(failed));
        return false;
    }
    run->target = run->pid;
    if (end_cpu >= 0)
        pin_to_cpu(run->pid, end_cpu);
    return true;
}

// Under a wrapper that stays (strace), the program is the wrapper's child.
void find_target(const options& o, child_run* run)
{
    char exe[PATH_MAX] = {};
    const std::string link = "/proc/" + std::to_string(run->pid) + "/exe";
    const ssize_t n = readlink(link.c_str(), exe, sizeof exe - 1);
    char program_path[PATH_MAX] = {};
    if (n > 0 && realpath(o.quorvel.c_str(), program_path) && std::strcmp(exe, program_path) == 0)
        return;
    const std::string children = "/proc/" + std::to_string(run->pid) + "/task/" + std::to_string(run->pid) + "/children";
    if (FILE* f = std::fopen(children.c_str(), "r")) {
        int child = 0;
        if (std::fscanf(f, "%d", &child) == 1)
            run->target = child;
        std::fclose(f);
    }
}

// The peak resident size of the process's own memory. (The rusage of a
// spawned child is no good here: Linux carries the parent's peak over exec.)
long peak_resident_kib(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1)
            break;
    }
    std::fclose(f);
    return kib;
}

void stop_and_reap(child_run* run, int sig = SIGINT)
{
    run->peak_kib = peak_resident_kib(run->target);
    kill(run->target, sig);
    wait4(run->pid, &run->status, 0, &run->usage);
    run->ended = now_s();
}

double cpu_seconds(const rusage& u)
{
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One end running against its peer: the process, the peer, and what the peer
// counts (bytes received by the sink, reply bytes received by the flood)
// divided by the length of one message or reply.
struct end_run {
    std::string end;
    child_run child;
    std::unique_ptr<sink_peer> sink;
    std::unique_ptr<flood_peer> flood;
    double unit = 1;
    bool going = false;  // connected, and the first bytes have arrived
};

std::uint64_t peer_bytes(const end_run& r)
{
    return r.sink ? r.sink->bytes.load() : r.flood->reply_bytes.load();
}

double peer_messages(const end_run& r) { return static_cast<double>(peer_bytes(r)) / r.unit; }

void start_end(const options& o, const std::string& end, program p, int rate, int padlen, end_run* r,
               const std::vector<std::string>& wrapper = {})
{
    r->end = end;
    if (end == "client") {
        r->sink = std::make_unique<sink_peer>();
        r->unit = message_length(padlen);
        r->going = sink_start(r->sink.get()) &&
                   spawn(wrapper, end_command(o, end, p, r->sink->port, rate, padlen), &r->child) &&
                   wait_nonzero(r->sink->first_byte_ns, 10'000);
    } else {
        const int port = free_port();
        r->flood = std::make_unique<flood_peer>();
        r->unit = reply_length(padlen);
        r->going = spawn(wrapper, end_command(o, end, p, port, rate, padlen), &r->child) &&
                   flood_start(r->flood.get(), port, padlen, 10'000) &&
                   wait_nonzero(r->flood->first_reply_ns, 10'000);
    }
    if (r->child.pid > 0)
        find_target(o, &r->child);
    if (!r->going)
        std::fprintf(stderr, "bench_drive: %s at rate %d, padlen %d never got going\n", end.c_str(), rate, padlen);
}

// Stops the process with SIGINT (SIGCONT first, in case it was paused), reaps
// it and lets the peer finish.
void finish_end(end_run* r)
{
    if (r->child.pid > 0) {
        kill(r->child.target, SIGCONT);
        stop_and_reap(&r->child);
    }
    if (r->sink)
        sink_join(r->sink.get());
    if (r->flood) {
        r->flood->quit.store(true);
        flood_join(r->flood.get());
    }
}

// The program and the reference run side by side but never at once: each is
// paused (SIGSTOP) while the other has its slice, so that both see the same
// background load of the machine, slice after slice, in ABBA order. A slice
// is counted from a short settling time after it resumes to its pause.
int fidelity(const options& o)
{
    constexpr double slice = 0.25, settle = 0.05;
    const int slices = std::max(1, static_cast<int>(o.seconds / slice + 0.5));
    std::printf("%-7s %7s %7s %14s %14s %10s %19s\n", "end", "rate", "padlen", "ours (msg/s)", "ref (msg/s)",
                "ours/ref", "slice pairs p25..p75");
    bool all_ok = true;
    for (const std::string& end : o.ends) {
        for (int rate : o.rates) {
            for (int padlen : o.padlens) {
                end_run runs[2];
                for (int k = 0; k < 2; ++k) {
                    start_end(o, end, k == 0 ? program::ours : program::reference, rate, padlen, &runs[k]);
                    if (runs[k].child.pid > 0)
                        kill(runs[k].child.target, SIGSTOP);
                }
                double messages[2] = {0, 0}, seconds[2] = {0, 0};
                std::vector<double> pairs;
                const bool going = runs[0].going && runs[1].going;
                for (int i = 0; going && i < slices; ++i) {
                    double per_second[2] = {0, 0};
                    // ABBA: whichever goes first in a pair goes second in the next.
                    for (int step = 0; step < 2; ++step) {
                        const int k = (i % 2 == 0) ? step : 1 - step;
                        kill(runs[k].child.target, SIGCONT);
                        sleep_s(settle);
                        const double m0 = peer_messages(runs[k]), t0 = now_s();
                        sleep_s(slice);
                        const double m1 = peer_messages(runs[k]), t1 = now_s();
                        kill(runs[k].child.target, SIGSTOP);
                        messages[k] += m1 - m0;
                        seconds[k] += t1 - t0;
                        per_second[k] = (m1 - m0) / (t1 - t0);
                    }
                    if (per_second[1] > 0)
                        pairs.push_back(per_second[0] / per_second[1]);
                }
                for (end_run& r : runs)
                    finish_end(&r);
                all_ok = all_ok && going;
                const double ours = seconds[0] > 0 ? messages[0] / seconds[0] : 0;
                const double ref = seconds[1] > 0 ? messages[1] / seconds[1] : 0;
                std::sort(pairs.begin(), pairs.end());
                const double p25 = pairs.empty() ? 0 : pairs[pairs.size() / 4];
                const double p75 = pairs.empty() ? 0 : pairs[(pairs.size() * 3) / 4];
                std::printf("%-7s %7d %7d %14.0f %14.0f %10.3f %10.3f..%.3f\n", end.c_str(), rate, padlen, ours, ref,
                            ref > 0 ? ours / ref : 0.0, p25, p75);
                std::fflush(stdout);
            }
        }
    }
    return all_ok ? 0 : 1;
}

// Nanoseconds the process has run on a processor so far (all its threads).
double cpu_seconds_so_far(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/schedstat";
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return 0;
    unsigned long long ns = 0;
    if (std::fscanf(f, "%llu", &ns) != 1)
        ns = 0;
    std::fclose(f);
    return static_cast<double>(ns) / 1e9;
}

// Two figures for processor time: over a window in the steady state (from the
// scheduler's account of the process) and over the whole run, start-up
// included (from the rusage of the reaped process).
int cost(const options& o)
{
    std::printf("%-7s %7s %7s %11s %13s %13s %16s %14s\n", "end", "rate", "padlen", "window (s)", "cpu (steady)",
                "cpu (whole)", "of which system", "peak RSS (KiB)");
    bool all_ok = true;
    for (const std::string& end : o.ends) {
        for (int rate : o.rates) {
            end_run r;
            start_end(o, end, program::ours, rate, o.padlen, &r);
            double window = 0, steady = 0;
            if (r.going) {
                sleep_s(o.warmup);
                const double c0 = cpu_seconds_so_far(r.child.target), t0 = now_s();
                sleep_s(o.seconds);
                const double c1 = cpu_seconds_so_far(r.child.target), t1 = now_s();
                window = t1 - t0;
                steady = (c1 - c0) / window;
            }
            finish_end(&r);
            all_ok = all_ok && r.going;
            const double cpu = cpu_seconds(r.child.usage);
            const double whole = cpu / (r.child.ended - r.child.started);
            const double system = static_cast<double>(r.child.usage.ru_stime.tv_sec) +
                                  static_cast<double>(r.child.usage.ru_stime.tv_usec) / 1e6;
            std::printf("%-7s %7d %7d %11.2f %12.3f%% %12.3f%% %15.1f%% %14ld\n", end.c_str(), rate, o.padlen, window,
                        100.0 * steady, 100.0 * whole, cpu > 0 ? 100.0 * system / cpu : 0.0, r.child.peak_kib);
            std::fflush(stdout);
        }
    }
    return all_ok ? 0 : 1;
}

// SIGINT at a random moment of the cycle, then the time until the process has exited.
int stop_latency(const options& o)
{
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> moment(0.0, 1.0);
    std::printf("%-24s %7s %7s %12s %12s %12s\n", "case", "rate", "trials", "median (ms)", "max (ms)", "exit status");
    struct stop_case { const char* name; std::string end; int rate; bool connected; };
    const stop_case cases[] = {
        {"client sending", "client", 1, true},       {"client sending", "client", 4, true},
        {"client sending", "client", 100000, true},  {"server serving", "server", 1, true},
        {"server serving", "server", 4, true},       {"server serving", "server", 100000, true},
        {"server waiting", "server", 4, false},
    };
    bool all_ok = true;
    for (const stop_case& c : cases) {
        std::vector<double> latencies;
        std::string statuses;
        for (int t = 0; t < o.trials; ++t) {
            end_run r;
            if (c.connected) {
                start_end(o, c.end, program::ours, c.rate, 200, &r);
            } else {
                r.end = c.end;
                r.going = spawn({}, end_command(o, c.end, program::ours, free_port(), c.rate, 200), &r.child);
                sleep_s(0.3);  // listening by now
            }
            if (r.child.pid <= 0)
                return 1;  // never signal "pid -1": that would be every process
            if (r.going)
                sleep_s(0.2 + moment(random));
            const std::int64_t asked = clock_ns();
            kill(r.child.pid, SIGINT);
            waitpid(r.child.pid, &r.child.status, 0);
            const double ms = static_cast<double>(clock_ns() - asked) / 1e6;
            r.child.pid = -1;  // reaped
            finish_end(&r);
            all_ok = all_ok && r.going;
            latencies.push_back(ms);
            const child_run& run = r.child;
            const int code = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : 128 + WTERMSIG(run.status);
            const std::string text = std::to_string(code);
            if (statuses.find(text) == std::string::npos) {
                if (!statuses.empty())
                    statuses.push_back(',');
                statuses.append(text);
            }
        }
        std::sort(latencies.begin(), latencies.end());
        std::printf("%-24s %7d %7d %12.2f %12.2f %12s\n", c.name, c.rate, o.trials, latencies[latencies.size() / 2],
                    latencies.back(), statuses.c_str());
        std::fflush(stdout);
    }
    return all_ok ? 0 : 1;
}

int count(const options& o)
{
    end_run r;
    start_end(o, o.end, program::ours, o.rate, o.padlen, &r, o.wrapper);
    if (r.going)
        sleep_s(o.seconds);
    finish_end(&r);
    std::printf("messages %llu\n", static_cast<unsigned long long>(peer_bytes(r) / static_cast<std::uint64_t>(r.unit)));
    return r.going ? 0 : 1;
}

std::vector<int> int_list(const char* text)
{
    std::vector<int> values;
    for (const char* p = text; *p;) {
        char* end = nullptr;
        values.push_back(static_cast<int>(std::strtol(p, &end, 10)));
        p = *end == ',' ? end + 1 : end;
        if (end == p && *p) break;
    }
    return values;
}

std::vector<std::string> word_list(const std::string& text)
{
    std::vector<std::string> words;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        words.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos)
            return words;
        start = comma + 1;
    }
}

int usage()
{
    std::fprintf(stderr,
                 "usage: bench_drive fidelity|cost|stop|count --quorvel PATH [--ref-client PATH --ref-server PATH]\n"
                 "       [--seconds S] [--warmup S] [--rounds N] [--trials N] [--ends client,server]\n"
                 "       [--rates 1000,10000] [--padlens 0,200] [--end E --rate R --padlen L] [--pin yes|no]\n"
                 "       [-- WRAPPER...]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const std::string mode = argv[1];
    options o;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            o.wrapper.assign(argv + i + 1, argv + argc);
            break;
        }
        if (i + 1 >= argc)
            return usage();
        const char* v = argv[++i];
        if (a == "--quorvel") o.quorvel = v;
        else if (a == "--ref-client") o.ref_client = v;
        else if (a == "--ref-server") o.ref_server = v;
        else if (a == "--seconds") o.seconds = std::atof(v);
        else if (a == "--warmup") o.warmup = std::atof(v);
        else if (a == "--rounds") o.rounds = std::atoi(v);
        else if (a == "--trials") o.trials = std::atoi(v);
        else if (a == "--rates") o.rates = int_list(v);
        else if (a == "--padlens") o.padlens = int_list(v);
        else if (a == "--ends") o.ends = word_list(v);
        else if (a == "--end") o.end = v;
        else if (a == "--rate") o.rate = std::atoi(v);
        else if (a == "--padlen") o.padlen = std::atoi(v);
        else if (a == "--pin") o.pin = std::string(v) == "yes";
        else return usage();
    }
    if (o.quorvel.empty())
        return usage();
    // A peer that has gone must not kill the bench.
    signal(SIGPIPE, SIG_IGN);
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    if (o.pin && cpus >= 2) {
        end_cpu = static_cast<int>(cpus - 1);
        peers_pin(0);
    }
    if (mode == "fidelity")
        return o.ref_client.empty() || o.ref_server.empty() ? usage() : fidelity(o);
    if (mode == "cost")
        return cost(o);
    if (mode == "stop")
        return stop_latency(o);
    if (mode == "count")
        return count(o);
    return usage();
}
