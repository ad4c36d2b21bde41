// The command line from arbitrary bytes: the input, split at every NUL byte,
// is argv[1..] after a fixed program name. It goes through the whole reading
// of the command line (parse, name check, validation; no resolution, no loop).
//
// Checked: the map parse_args builds against a plain model of the "-name
// value" rules; an accepted command line has exactly one mode, every setting in
// its range, its defaults where a setting is absent or blank, and a host in
// client mode; a rejected one leaves no map behind; with memory running out
// part way, the outcome is the same or a failure that leaves nothing behind.

#include "cli/args.h"
#include "cli/command_line.h"
#include "cli/strmap.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool same_name(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto fold = [](unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 0x20 : c; };
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

struct parameter {
    std::string name;  // as last given, without its dash
    std::string value;
};

// The command-line rules on their own: a dash argument names a parameter, the
// next non-dash argument is its value, a name without one gets "", a value
// without a name is dropped; a repeated name keeps its first place and takes
// the last spelling and value.
std::vector<parameter> model_parse(const std::vector<std::string>& args)
{
    std::vector<parameter> params;
    auto store = [&params](const std::string& dashed, const std::string& value) {
        const std::string name = dashed.substr(1);
        for (parameter& p : params) {
            if (same_name(p.name, name)) {
                p = parameter{name, value};
                return;
            }
        }
        params.push_back(parameter{name, value});
    };
    const std::string* pending = nullptr;
    for (const std::string& arg : args) {
        if (!arg.empty() && arg[0] == '-') {
            if (pending)
                store(*pending, "");
            pending = &arg;
        } else if (pending) {
            store(*pending, arg);
            pending = nullptr;
        }
    }
    if (pending)
        store(*pending, "");
    return params;
}

const parameter* model_find(const std::vector<parameter>& params, const char* name)
{
    for (const parameter& p : params) {
        if (same_name(p.name, name))
            return &p;
    }
    return nullptr;
}

// Absent, empty, or nothing above 0x20 (space, controls, and so on).
bool model_blank(const parameter* p)
{
    if (!p)
        return true;
    for (const char c : p->value) {
        if (static_cast<unsigned char>(c) > 0x20)
            return false;
    }
    return true;
}

// An accepted command line: one mode, every setting in range, the defaults
// where a setting is absent or blank, a host in client mode, and only names
// the program knows.
void check_accepted(const std::vector<parameter>& expected, strmap* map, const settings& run)
{
    strmap_first(map);
    while (const strmap_entry* e = strmap_next(map))
        FUZZ_CHECK(is_known_parameter(e->key));

    FUZZ_CHECK(run.client_mode != run.server_mode);
    FUZZ_CHECK(run.rate >= 1 && run.rate <= 100000);
    FUZZ_CHECK(run.port >= 1 && run.port <= 65535);
    FUZZ_CHECK(run.buflen == 0 || (run.buflen >= 1 && run.buflen <= 100000000));
    FUZZ_CHECK(run.padlen >= 0 && run.padlen <= 4000);
    if (run.client_mode)
        FUZZ_CHECK(!is_blank(run.host));
    // The host is the map's own text, valid until the map is destroyed.
    FUZZ_CHECK(run.host == strmap_get(map, "host"));

    const parameter* mode = model_find(expected, "mode");
    FUZZ_CHECK(mode && same_name(mode->value, run.client_mode ? "client" : "server"));
    FUZZ_CHECK(!model_blank(model_find(expected, "rate")));
    if (model_blank(model_find(expected, "port")))
        FUZZ_CHECK(run.port == 5000);
    if (model_blank(model_find(expected, "buflen")))
        FUZZ_CHECK(run.buflen == 0);
    else
        FUZZ_CHECK(run.buflen != 0);
    if (model_blank(model_find(expected, "padlen")))
        FUZZ_CHECK(run.padlen == 200);
}

// While set, allocations_left allocations of the map succeed and the rest fail.
int allocations_left = 0;

void* failing_alloc(std::size_t size)
{
    if (allocations_left == 0)
        return nullptr;
    --allocations_left;
    return std::malloc(size);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Rejections print the usage block; printing it a million times would only
    // slow the fuzzer down. libFuzzer itself reports on stderr.
    if (!std::freopen("/dev/null", "w", stdout))
        std::fclose(stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args;
    if (size > 0) {
        args.emplace_back();
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == 0)
                args.emplace_back();
            else
                args.back() += static_cast<char>(data[i]);
        }
    }
    std::vector<const char*> argv{"quorvel"};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);

    // The parameter map, entry by entry in command-line order.
    const std::vector<parameter> expected = model_parse(args);
    strmap* parsed = parse_args(argc, argv.data());
    FUZZ_CHECK(parsed != nullptr);
    FUZZ_CHECK(parsed->entry_count == static_cast<std::int32_t>(expected.size()));
    FUZZ_CHECK(parsed->bucket_count == 1);
    std::size_t seen = 0;
    strmap_first(parsed);
    while (const strmap_entry* e = strmap_next(parsed)) {
        FUZZ_CHECK(seen < expected.size());
        FUZZ_CHECK(expected[seen].name == e->key);
        FUZZ_CHECK(expected[seen].value == static_cast<const char*>(e->value));
        ++seen;
    }
    FUZZ_CHECK(seen == expected.size());
    strmap_destroy(parsed);

    static strmap not_written{};  // read_command_line must overwrite it on every path
    strmap* map = &not_written;
    settings run{};
    const int status = read_command_line(argc, argv.data(), &map, &run);
    if (status == COMMAND_LINE_ACCEPTED) {
        FUZZ_CHECK(map != nullptr);
        check_accepted(expected, map, run);
    } else {
        FUZZ_CHECK(status == EXIT_REJECTED);  // memory does not run out here
        FUZZ_CHECK(map == nullptr);
    }

    // Again with memory running out after a few allocations (the last input
    // byte says how many): either the same outcome, or a failure with no map
    // left behind and nothing leaked.
    allocations_left = size > 0 ? data[size - 1] % 16 : 0;
    strmap_set_alloc_hook(failing_alloc);
    strmap* short_map = &not_written;
    settings short_run{};
    const int short_status = read_command_line(argc, argv.data(), &short_map, &short_run);
    strmap_set_alloc_hook(nullptr);
    if (short_status == EXIT_FAILED) {
        FUZZ_CHECK(short_map == nullptr);
    } else {
        FUZZ_CHECK(short_status == status);
        FUZZ_CHECK((short_map == nullptr) == (map == nullptr));
        if (map) {
            FUZZ_CHECK(short_run.client_mode == run.client_mode && short_run.server_mode == run.server_mode);
            FUZZ_CHECK(short_run.port == run.port && short_run.rate == run.rate);
            FUZZ_CHECK(short_run.buflen == run.buflen && short_run.padlen == run.padlen);
            FUZZ_CHECK((short_run.host == nullptr) == (run.host == nullptr));
            FUZZ_CHECK(!run.host || std::strcmp(short_run.host, run.host) == 0);
        }
    }
    strmap_destroy(short_map);
    strmap_destroy(map);
    return 0;
}
