#include "cli/stop.h"
#include "cli/stop_win.h"

// Called by the console on a thread of its own; the only thing it touches is the flag.
BOOL WINAPI on_console_control(DWORD control_type)
{
    if (control_type == CTRL_C_EVENT || control_type == CTRL_BREAK_EVENT) {
        stop_requested.store(1, std::memory_order_relaxed);
        return TRUE;
    }
    return FALSE;
}

int install_stop_handler()
{
    return SetConsoleCtrlHandler(on_console_control, TRUE) ? 0 : -1;
}
