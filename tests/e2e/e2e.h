// The end-to-end suite: the real program, started as a process, against raw
// peers on loopback. Every suite runs once per build under test (the native
// program, and the Windows program under Wine when QUORVEL_WINDOWS_EXE names it).
#pragma once

#include "peer.h"
#include "process.h"

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

class E2eTest : public ::testing::TestWithParam<target> {
protected:
    void SetUp() override;
    void TearDown() override;

    const target& build() const { return GetParam(); }

    // Starts the program; every child is killed and reaped when the test ends.
    child& start(const std::vector<std::string>& args);
    child& start(const target& t, const std::vector<std::string>& args);

    // Starts a server on a free port (or on *port when it is set) and waits
    // for its first "Waiting for connection..".
    child& start_server(int* port, const std::vector<std::string>& extra);
    child& start_server_on(const target& t, int port, const std::vector<std::string>& extra);

    // Caps for waits that depend on process start-up (Wine starts slower).
    millis startup() const { return build().is_wine() ? 15s : 5s; }
    // Bound on how long a stop request may take to end the program.
    millis stop_bound() const;

private:
    std::list<child> children_;
};

std::string usage_block();

// A client's output after a peer that vanished: marks, then the send failure
// naming the cause, then the final line break. The peer's reset may be taken by
// the client's drain, leaving the next send a broken pipe; Wine reports an abort.
bool ends_with_send_failure(const std::string& out);

std::vector<target> builds_under_test();
std::string build_name(const ::testing::TestParamInfo<target>& info);

#define INSTANTIATE_FOR_EVERY_BUILD(suite) \
    INSTANTIATE_TEST_SUITE_P(Builds, suite, ::testing::ValuesIn(builds_under_test()), build_name)

// For the long fault and load cases, which the native build carries alone.
#define INSTANTIATE_FOR_NATIVE_BUILD(suite) \
    INSTANTIATE_TEST_SUITE_P(Builds, suite, ::testing::Values(builds_under_test().front()), build_name)
