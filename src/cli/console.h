// Everything the program says goes to standard output through here: each
// text leaves in a single write the moment it is printed, so a mark or a line
// is seen at once, whole, also through a pipe or in a file.
#pragma once

#if defined(__GNUC__)
#define CONSOLE_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define CONSOLE_PRINTF_FORMAT
#endif

// Gives standard output a buffer that console_print empties after every text.
void console_init();

void console_print(const char* format, ...) CONSOLE_PRINTF_FORMAT;
