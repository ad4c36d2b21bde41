#include "cli/stop.h"
#include "cli/stop_win.h"

#include <gtest/gtest.h>

TEST(ConsoleControl, CtrlCAndCtrlBreakStopTheRunEverythingElseGoesToTheSystem)
{
    struct Case { DWORD type; BOOL handled; };
    for (Case c : {Case{0, TRUE},            // Ctrl+C
                   Case{1, TRUE},            // Ctrl+Break
                   Case{2, FALSE},           // console window closed
                   Case{5, FALSE},           // logoff
                   Case{6, FALSE},           // shutdown
                   Case{3, FALSE}, Case{4, FALSE}, Case{7, FALSE}, Case{0xFFFFFFFF, FALSE}}) {
        // The flag is never cleared in a run; here each case starts afresh.
        stop_requested.store(0);
        EXPECT_EQ(on_console_control(c.type), c.handled) << "control type " << c.type;
        EXPECT_EQ(stop_is_requested(), c.handled == TRUE) << "control type " << c.type;
    }
    stop_requested.store(0);
}

TEST(ConsoleControl, RegistersWithoutAConsoleWindow)
{
    // Test runs have no console of their own, and neither does a service or a
    // redirected run: registering must still succeed.
    EXPECT_EQ(install_stop_handler(), 0);
    EXPECT_FALSE(stop_is_requested());
}
