// Runs the program under test as a real process and watches its output.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

// Which build is under test and how to start it: no launcher for a native
// program, "wine" for the Windows build, valgrind and its options for a check.
struct target {
    std::string name;
    std::vector<std::string> launcher;
    std::string program;
    bool wine = false;
    bool is_wine() const { return wine; }
};

// Names the build in test output.
void PrintTo(const target& t, std::ostream* os);

using namespace std::chrono_literals;
using millis = std::chrono::milliseconds;

struct child {
    pid_t pid = -1;
    int out_fd = -1;     // the child's standard output
    std::string out;     // everything read so far, line breaks normalised to "\n"
    int exit_status = -1;
    bool reaped = false;
};

// Starts the program with args; its standard input and error are /dev/null.
child spawn(const target& t, const std::vector<std::string>& args);

// Reads output until done(out) holds, the output ends, or the time is up.
// Returns whether done(out) held.
bool read_until(child& c, const std::function<bool(const std::string&)>& done, millis timeout);
bool read_until_contains(child& c, const std::string& text, millis timeout);

// Sends sig (SIGINT by default: Ctrl+C); SIGKILL with hard.
void signal_child(child& c, int sig);

// Waits for the child to exit, reading the rest of its output; -1 when it
// did not exit in time (it is then killed).
int wait_exit(child& c, millis timeout);

// Runs to completion with a cap: output and exit status.
struct run_result {
    std::string out;
    int exit_status;
};
run_result run_to_end(const target& t, const std::vector<std::string>& args, millis timeout);

// Kills and reaps a child that is still running; safe on any child.
void stop_hard(child& c);

// How many whole lines of out read exactly line (given without its "\n").
int count_lines(const std::string& out, const std::string& line);

// Reads until the child has printed line at least count times.
bool wait_lines(child& c, const std::string& line, int count, millis timeout);

// Counts occurrences of ch in text.
int count_of(const std::string& text, char ch);

// The numbers in the age lines of a server's output, in order.
std::vector<long long> age_lines(const std::string& out);
