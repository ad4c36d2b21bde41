// The command line: the argument vector turned into a parameter map, the
// names checked, the settings validated.
#pragma once

#include "cli/strmap.h"

#include <cstdint>

struct settings {
    bool client_mode;
    bool server_mode;
    const char* host;  // borrowed from the map
    std::int32_t port;
    std::int32_t rate;
    std::int32_t buflen;  // 0 leaves the operating system's default
    std::int32_t padlen;
};

// Every "-name value" pair of argv[1..] in a map keyed by the name without its
// dash; a name with no value gets "". Null when memory runs out.
strmap* parse_args(int argc, const char* const* argv);

// True for null, "" and text whose every byte is 0x20 or below.
bool is_blank(const char* text);

// True for the six parameter names the program knows, in any letter case.
bool is_known_parameter(const char* name);

// Decimal text read as strtol reads it (white space, sign, digits, the rest
// ignored, 0 when no digit), clamped to the 32-bit range.
std::int32_t read_number(const char* text);

// Fills *out from the map in a fixed order of checks. Null when every check
// passes, otherwise the first failing check's message, ready to print.
const char* validate_settings(const strmap* map, settings* out);
