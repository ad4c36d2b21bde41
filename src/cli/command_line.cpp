#include "cli/command_line.h"

#include "cli/console.h"
#include "cli/usage.h"

int read_command_line(int argc, const char* const* argv, strmap** map, settings* out)
{
    *map = parse_args(argc, argv);
    if (!*map)
        return EXIT_FAILED;  // memory exhausted: nothing sensible to print

    bool unrecognized = false;
    strmap_first(*map);
    while (const strmap_entry* e = strmap_next(*map)) {
        if (!is_known_parameter(e->key)) {
            console_print("parameter '%s' unrecognized\n", e->key);
            unrecognized = true;
        }
    }

    const char* problem = unrecognized ? nullptr : validate_settings(*map, out);
    if (unrecognized || problem) {
        if (problem)
            console_print("%s", problem);
        print_usage();
        strmap_destroy(*map);
        *map = nullptr;
        return EXIT_REJECTED;
    }
    return COMMAND_LINE_ACCEPTED;
}
