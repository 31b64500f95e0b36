// The decoder's confinement, probed from a child process: after
// confine_decoder, what decoding needs still works, and anything else kills
// the process with SIGSYS.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "harness.h"
#include "decode/confine.h"

namespace {

const rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};

// Runs attempt in a confined child reading fixture rgb.png and reporting on a
// pipe; returns the child's wait status.
int confined(const std::function<int(int input_fd, int report_fd)> &attempt)
{
    const int input_fd = open(fixture("rgb.png").c_str(), O_RDONLY | O_CLOEXEC);
    int pipe_fds[2];
    if (input_fd < 0 || pipe(pipe_fds) != 0)
        return -1;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!confine_decoder(input_fd, pipe_fds[1], parent, unlimited))
            _exit(99);
        _exit(attempt(input_fd, pipe_fds[1]));
    }
    close(input_fd);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

bool killed_by_sigsys(int status)
{
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS;
}

TEST(confinement, allows_what_decoding_needs)
{
    const int status = confined([](int input_fd, int report_fd) {
        char head[8];
        if (read(input_fd, head, sizeof head) != 8 || std::memcmp(head, "\x89PNG", 4) != 0)
            return 1;
        if (lseek(input_fd, 0, SEEK_SET) != 0)
            return 2;
        // Large and small allocations, grown and freed.
        auto *big = static_cast<char *>(std::malloc(64 << 20));
        if (!big)
            return 3;
        std::memset(big, 1, 64 << 20);
        big = static_cast<char *>(std::realloc(big, 128 << 20));
        if (!big)
            return 4;
        std::free(big);
        if (write(report_fd, "ok", 2) != 2)
            return 5;
        const rlimit lower = {5, 6};
        if (setrlimit(RLIMIT_CPU, &lower) != 0)
            return 6;
        return 0;
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// Once the header is read, the processor-time budget replaces the fixed
// allowance of 8 seconds that confinement starts with, above it as well as
// below.
TEST(confinement, the_time_budget_replaces_the_fixed_allowance)
{
    for (const decoder_time_limit limit : {decoder_time_limit{200, 201}, decoder_time_limit{3, 4}}) {
        const int status = confined([limit](int, int) {
            decoder_budget budget;
            budget.time = limit;
            budget.address_space = ~0ull;
            limit_decoder(budget);
            rlimit now;
            if (getrlimit(RLIMIT_CPU, &now) != 0)
                return 1;
            return now.rlim_cur == limit.soft && now.rlim_max == limit.hard ? 0 : 2;
        });
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "budget " << limit.soft << ": status " << status;
    }
}

// Each attempt returns 0 if it got what it asked for.
TEST(confinement, kills_anything_else)
{
    const std::vector<std::pair<const char *, std::function<int(int, int)>>> attempts = {
        {"opening a file", [](int, int) { return open("/etc/passwd", O_RDONLY); }},
        {"writing to stdout", [](int, int) { return static_cast<int>(write(1, "x", 1)); }},
        {"reading another descriptor", [](int, int) {
             char c;
             return static_cast<int>(read(0, &c, 1));
         }},
        {"a socket", [](int, int) { return socket(AF_INET, SOCK_STREAM, 0); }},
        {"forking", [](int, int) { return static_cast<int>(fork()); }},
        {"running a program", [](int, int) {
             char *const argv[] = {const_cast<char *>("/bin/true"), nullptr};
             return execv("/bin/true", argv);
         }},
        {"signalling the parent", [](int, int) { return kill(getppid(), 0); }},
        // Where the filter can't see mmap's arguments (s390), mmap is
        // refused as if memory had run out: exit 1 here, and only there.
        {"executable memory", [](int, int) {
             void *p = mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
             return p == MAP_FAILED && errno == ENOMEM ? 1 : p == MAP_FAILED ? 2 : 0;
         }},
        {"making memory executable", [](int, int) {
             void *p = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
             return mprotect(p, 4096, PROT_READ | PROT_EXEC);
         }},
        {"raising the file limit", [](int, int) {
             const rlimit none = {0, 0};
             return setrlimit(RLIMIT_NOFILE, &none);
         }},
    };
    for (const auto &[what, attempt] : attempts) {
        SCOPED_TRACE(what);
        const int status = confined(attempt);
#if defined(__s390__)
        const bool refused = std::strcmp(what, "executable memory") == 0 && WIFEXITED(status) &&
                             WEXITSTATUS(status) == 1;
#else
        const bool refused = false;
#endif
        EXPECT_TRUE(killed_by_sigsys(status) || refused) << "status " << status;
    }
}

// A decoder whose parent is gone before it is confined (the parent died
// between the fork and setting the death signal) ends there instead of
// running on for nobody. Its parent here forks it and exits at once; this
// process, a subreaper, adopts it and learns how it ended.
TEST(confinement, a_decoder_whose_parent_is_gone_ends)
{
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t parent = fork();
    if (parent == 0) {
        const pid_t self = getpid();
        if (fork() == 0) {
            char c;
            if (read(go[0], &c, 1) != 1)  // until its parent is gone
                _exit(98);
            confine_decoder(-1, -1, self, unlimited);
            _exit(42);  // went on
        }
        _exit(0);
    }
    int status = 0;
    waitpid(parent, &status, 0);
    ASSERT_EQ(write(go[1], "g", 1), 1);
    const pid_t adopted = waitpid(-1, &status, 0);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    close(go[0]);
    close(go[1]);
    ASSERT_GT(adopted, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
}

// A caller's personality that makes readable memory executable
// (setarch -X) is gone once the decoder is confined: read from outside,
// while the child waits.
TEST(confinement, clears_read_implies_exec)
{
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        personality(READ_IMPLIES_EXEC);
        if (!confine_decoder(-1, pipe_fds[1], getppid(), unlimited) || write(pipe_fds[1], "c", 1) != 1)
            _exit(99);
        for (;;) {
        }
    }
    close(pipe_fds[1]);
    char c = 0;
    ASSERT_EQ(read(pipe_fds[0], &c, 1), 1);
    const std::string persona = read_file("/proc/" + std::to_string(pid) + "/personality");
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(pipe_fds[0]);
    ASSERT_FALSE(persona.empty());
    EXPECT_EQ(std::stoul(persona, nullptr, 16) & READ_IMPLIES_EXEC, 0u) << persona;
}

} // namespace
