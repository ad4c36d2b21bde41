// The console's stop notification, visible so that it can be called directly.
#pragma once

#include <windows.h>

// Raises stop_requested for Ctrl+C and Ctrl+Break and reports them handled, so
// the process keeps running and its loop winds down. Any other notification
// (console closed, logoff, shutdown) is left to the system's default handling.
BOOL WINAPI on_console_control(DWORD control_type);
