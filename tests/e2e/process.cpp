#include "process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using clock_type = std::chrono::steady_clock;

// Appends what the pipe holds now (waiting at most wait_ms for something);
// false once the pipe has ended.
bool pump(child& c, int wait_ms)
{
    if (c.out_fd < 0)
        return false;
    pollfd p{c.out_fd, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0)
        return true;
    char buffer[4096];
    const ssize_t got = read(c.out_fd, buffer, sizeof buffer);
    if (got <= 0) {
        if (got < 0 && errno == EINTR)
            return true;
        close(c.out_fd);
        c.out_fd = -1;
        return false;
    }
    for (ssize_t i = 0; i < got; ++i) {
        if (buffer[i] != '\r')
            c.out.push_back(buffer[i]);
    }
    return true;
}

bool try_reap(child& c, bool block)
{
    if (c.reaped || c.pid < 0)
        return true;
    int status = 0;
    const pid_t r = waitpid(c.pid, &status, block ? 0 : WNOHANG);
    if (r != c.pid)
        return false;
    c.reaped = true;
    c.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

int remaining_ms(clock_type::time_point deadline)
{
    const auto left = std::chrono::duration_cast<millis>(deadline - clock_type::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

} // namespace

void PrintTo(const target& t, std::ostream* os)
{
    *os << t.name;
}

child spawn(const target& t, const std::vector<std::string>& args)
{
    child c;
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0)
        return c;

    std::vector<std::string> words = t.launcher;
    words.push_back(t.program);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    // Stderr to /dev/null: Wine's helper would hold a captured stderr open for seconds.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    // The child starts with default signal handling whatever the test runner had.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGHUP})
        sigaddset(&defaults, sig);
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(pipe_fds[1]);
    if (rc != 0) {
        close(pipe_fds[0]);
        return c;
    }
    c.pid = pid;
    c.out_fd = pipe_fds[0];
    return c;
}

bool read_until(child& c, const std::function<bool(const std::string&)>& done, millis timeout)
{
    const auto deadline = clock_type::now() + timeout;
    for (;;) {
        if (done(c.out))
            return true;
        const int left = remaining_ms(deadline);
        if (left == 0 || !pump(c, left < 50 ? left : 50))
            return done(c.out);
    }
}

bool read_until_contains(child& c, const std::string& text, millis timeout)
{
    return read_until(c, [&](const std::string& out) { return out.find(text) != std::string::npos; }, timeout);
}

void signal_child(child& c, int sig)
{
    if (c.pid > 0 && !c.reaped)
        kill(c.pid, sig);
}

int wait_exit(child& c, millis timeout)
{
    const auto deadline = clock_type::now() + timeout;
    while (!try_reap(c, false)) {
        if (remaining_ms(deadline) == 0) {
            stop_hard(c);
            return -1;
        }
        pump(c, 10);
    }
    // The pipe may still hold the last words. A helper process that inherited
    // it could keep it open after the exit, so the drain is capped.
    const auto drained_by = std::min(deadline, clock_type::now() + 1s);
    while (c.out_fd >= 0 && remaining_ms(drained_by) > 0)
        pump(c, 50);
    return c.exit_status;
}

run_result run_to_end(const target& t, const std::vector<std::string>& args, millis timeout)
{
    child c = spawn(t, args);
    const int status = wait_exit(c, timeout);
    stop_hard(c);
    return {c.out, status};
}

void stop_hard(child& c)
{
    if (c.pid > 0 && !c.reaped) {
        kill(c.pid, SIGKILL);
        try_reap(c, true);
    }
    if (c.out_fd >= 0) {
        close(c.out_fd);
        c.out_fd = -1;
    }
}

int count_lines(const std::string& out, const std::string& line)
{
    const std::string whole = line + "\n";
    int n = 0;
    for (std::size_t at = out.find(whole); at != std::string::npos; at = out.find(whole, at + 1))
        n += at == 0 || out[at - 1] == '\n';
    return n;
}

bool wait_lines(child& c, const std::string& line, int count, millis timeout)
{
    return read_until(c, [&](const std::string& out) { return count_lines(out, line) >= count; }, timeout);
}

int count_of(const std::string& text, char ch)
{
    int n = 0;
    for (char x : text)
        n += x == ch;
    return n;
}

std::vector<long long> age_lines(const std::string& out)
{
    std::vector<long long> ages;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos)
            break;  // an unfinished line is not a line yet
        const std::string line = out.substr(start, end - start);
        char* rest = nullptr;
        errno = 0;
        const long long value = std::strtoll(line.c_str(), &rest, 10);
        if (!line.empty() && *rest == '\0' && errno == 0)
            ages.push_back(value);
        start = end + 1;
    }
    return ages;
}
