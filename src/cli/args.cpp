#include "cli/args.h"

#include <cstdlib>
#include <limits>

namespace {

constexpr const char* known_parameters[] = {"mode", "host", "port", "rate", "buflen", "padlen"};

bool equals_nocase(const char* a, const char* b)
{
    return strmap_keys_equal(a, b, STRMAP_NOCASE);
}

// Stores "-name" as name (one dash removed) with value.
bool store(strmap* map, const char* dashed_name, const char* value)
{
    return strmap_set(map, dashed_name + 1, value) >= 0;
}

// Reads an optional setting into *value, keeping the default when it is absent
// or blank. False when the number given lies outside min..max.
bool read_optional(const strmap* map, const char* name, std::int32_t min, std::int32_t max,
                   std::int32_t* value)
{
    const char* text = strmap_get(map, name);
    if (is_blank(text))
        return true;
    *value = read_number(text);
    return *value >= min && *value <= max;
}

} // namespace

strmap* parse_args(int argc, const char* const* argv)
{
    strmap* map = strmap_create();
    if (!map)
        return nullptr;
    const char* pending_name = nullptr;
    bool stored = true;
    for (int i = 1; i < argc && stored; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-') {
            // A name after a name: the first one had no value.
            if (pending_name)
                stored = store(map, pending_name, "");
            pending_name = arg;
        } else if (pending_name) {
            stored = store(map, pending_name, arg);
            pending_name = nullptr;
        }
        // A value with no name before it is ignored.
    }
    if (stored && pending_name)
        stored = store(map, pending_name, "");
    if (!stored) {
        strmap_destroy(map);
        return nullptr;
    }
    return map;
}

bool is_blank(const char* text)
{
    if (!text)
        return true;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p > 0x20)
            return false;
    }
    return true;
}

bool is_known_parameter(const char* name)
{
    for (const char* known : known_parameters) {
        if (equals_nocase(name, known))
            return true;
    }
    return false;
}

std::int32_t read_number(const char* text)
{
    const long value = std::strtol(text, nullptr, 10);
    // long is 64 bits here and 32 on other platforms: clamp so both read alike.
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

const char* validate_settings(const strmap* map, settings* out)
{
    *out = settings{false, false, nullptr, 5000, 0, 0, 200};

    const char* mode = strmap_get(map, "mode");
    out->host = strmap_get(map, "host");
    if (is_blank(mode))
        return "-mode required, must be 'client' or 'server'\n";
    if (equals_nocase(mode, "client")) {
        out->client_mode = true;
        if (is_blank(out->host))
            return "client mode requires -host parameter\n";
    } else if (equals_nocase(mode, "server")) {
        out->server_mode = true;
    } else {
        return "-mode invalid, must be 'client' or 'server'\n";
    }

    const char* rate = strmap_get(map, "rate");
    if (is_blank(rate))
        return "-rate required in requests per second\n";
    out->rate = read_number(rate);
    if (out->rate < 1 || out->rate > 100000)
        return "-rate invalid, must be between '1' per second and '100000' per second\n";

    if (!read_optional(map, "port", 1, 65535, &out->port))
        return "-port invalid, must be between '1' and '65535'\n";
    if (!read_optional(map, "buflen", 1, 100000000, &out->buflen))
        return "-buflen invalid, must be between '1' and '100000000'\n";
    if (!read_optional(map, "padlen", 0, 4000, &out->padlen))
        return "-padlen invalid, must be between '0' and '4000'\n";
    return nullptr;
}
