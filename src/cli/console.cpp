#include "cli/console.h"

#include <cstdarg>
#include <cstdio>

namespace {
// Larger than any one text the program prints, so each leaves in one write.
char output_buffer[4096];
} // namespace

void console_init()
{
    std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
}

void console_print(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}
