#pragma once

#include "cli/args.h"
#include "cli/strmap.h"

// Exit statuses: scripts can tell a stopped run from a failed or refused one.
enum : int {
    EXIT_STOPPED = 0,   // ran until a stop request
    EXIT_FAILED = 1,    // start-up, set-up or a hard send failure; memory exhausted
    EXIT_REJECTED = 2,  // a command line that printed the usage block
};

constexpr int COMMAND_LINE_ACCEPTED = -1;

// Parses argv, reports every unrecognized name (in command-line order) and
// validates the settings, printing each rejection and then the usage block.
// Returns COMMAND_LINE_ACCEPTED with *map (the caller destroys it) and *out
// filled, or else the exit status, with *map null.
int read_command_line(int argc, const char* const* argv, strmap** map, settings* out);
