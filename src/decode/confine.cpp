// confine: see confine.h. The filter is built with libseccomp, which
// knows each architecture's system call numbers and argument layout.
#include "decode/confine.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstring>

#include <linux/capability.h>
#include <malloc.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define PIXREMAP_ADDRESS_SANITIZER 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PIXREMAP_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

// Sets a limit, the hard one only ever lowered: the limits the decoder
// was given are its caller's to set. The soft one is lowered too, unless
// `soft_may_rise`: the processor time's, which rises from the fixed
// allowance it starts with to the budget (decoder_budget already keeps it
// within the run's own). (prlimit, on the process itself, is the one call
// the filter lets through for this.) False where the system refuses.
bool set_limit(int resource, std::uint64_t soft, std::uint64_t hard, bool soft_may_rise = false)
{
    rlimit now;
    if (prlimit(0, static_cast<__rlimit_resource>(resource), nullptr, &now) != 0)
        return false;
    rlimit value = {soft_may_rise ? soft : std::min<std::uint64_t>(soft, now.rlim_cur),
                    std::min<std::uint64_t>(hard, now.rlim_max)};
    value.rlim_cur = std::min(value.rlim_cur, value.rlim_max);
    return prlimit(0, static_cast<__rlimit_resource>(resource), &value, nullptr) == 0;
}

void set_time_limit(const decoder_time_limit &limit)
{
    set_limit(RLIMIT_CPU, limit.soft, limit.hard, true);
}

// The system calls the decoder may make, by name: each architecture's C
// library makes its own (i386 and armhf seek with _llseek and map with
// mmap2, the 64-bit ones with lseek and mmap), and a name this architecture
// doesn't have is left out. `fd` limits the call to that descriptor
// (argument 0), `no_exec` to memory that isn't executable (argument 2).
struct allowed_call {
    const char *name;
    enum { any, fd_input, fd_report, no_exec } rule;
};

constexpr allowed_call decoder_calls[] = {
    {"read", allowed_call::fd_input},     {"lseek", allowed_call::fd_input},
    {"_llseek", allowed_call::fd_input},  {"write", allowed_call::fd_report},
    {"mmap", allowed_call::no_exec},      {"mmap2", allowed_call::no_exec},
    {"mprotect", allowed_call::no_exec},  {"munmap", allowed_call::any},
    {"mremap", allowed_call::any},        {"brk", allowed_call::any},
    {"madvise", allowed_call::any},       {"exit", allowed_call::any},
    {"exit_group", allowed_call::any},    {"rt_sigreturn", allowed_call::any},
    {"sigreturn", allowed_call::any},
};

// Whether a mapping call takes its arguments through a block in memory,
// which a filter can't read, so that the protection asked for can't be
// checked: i386's old mmap (its C library maps with mmap2), and both of
// s390's. Such a call is refused as if memory had run out, and where that
// leaves no way to map memory, the decoder's heap grows with brk alone.
bool arguments_in_memory(const char *name)
{
#if defined(__s390__)
    return std::strcmp(name, "mmap") == 0 || std::strcmp(name, "mmap2") == 0;
#elif defined(__i386__)
    return std::strcmp(name, "mmap") == 0;
#else
    (void)name;
    return false;
#endif
}

bool can_map_memory()
{
    for (const char *name : {"mmap", "mmap2"})
        if (seccomp_syscall_resolve_name(name) >= 0 && !arguments_in_memory(name))
            return true;
    return false;
}

// Allows only what decoding needs. Any other system call kills the child
// with SIGSYS. No memory may be made executable.
bool install_filter(int input_fd, int report_fd)
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (!filter)
        return false;
    const auto fd_is = [](int fd) { return SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(fd), 0); };
    const auto no_exec = SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0);
    int bad = 0;
    for (const allowed_call &call : decoder_calls) {
        const int nr = seccomp_syscall_resolve_name(call.name);
        if (nr < 0)  // not a call of this architecture
            continue;
        if (arguments_in_memory(call.name)) {
            bad |= seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOMEM), nr, 0);
            continue;
        }
        switch (call.rule) {
        case allowed_call::any: bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, nr, 0); break;
        case allowed_call::fd_input: bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, nr, 1, fd_is(input_fd)); break;
        case allowed_call::fd_report: bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, nr, 1, fd_is(report_fd)); break;
        case allowed_call::no_exec: bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, nr, 1, no_exec); break;
        }
    }
    // Lowering its own limits once the header is read.
    for (const int resource : {RLIMIT_CPU, RLIMIT_AS})
        bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 2,
                                SCMP_A0(SCMP_CMP_EQ, 0, 0),
                                SCMP_A1(SCMP_CMP_EQ, static_cast<scmp_datum_t>(resource), 0));
#ifdef PIXREMAP_ADDRESS_SANITIZER
    // The sanitizers' runtime: its locks, its signal stack, and its reports
    // on stderr.
    bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(write), 1, fd_is(STDERR_FILENO));
    for (const int call : {SCMP_SYS(futex), SCMP_SYS(sched_yield), SCMP_SYS(getpid),
                           SCMP_SYS(gettid), SCMP_SYS(sigaltstack)})
        bad |= seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0);
#endif
    bad |= seccomp_load(filter);
    seccomp_release(filter);
    return bad == 0;
}

void drop_capabilities()
{
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    syscall(SYS_capset, &header, none);
}

} // namespace

bool confine_decoder(int input_fd, int report_fd, pid_t parent, const rlimit &run_time)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // A parent that died before the death signal was set sends none: the
    // decoder would run on, orphaned, for nobody.
    if (getppid() != parent)
        _exit(1);
    // No core dumps; where the limit can't be set, the kernel is told the
    // process must not be dumped.
    if (!set_limit(RLIMIT_CORE, 0, 0))
        prctl(PR_SET_DUMPABLE, 0);
    // Readable memory must not become executable behind the filter's back
    // (a personality the caller may have set, as `setarch -X` does).
    const int persona = personality(0xffffffff);
    if (persona != -1 && (persona & READ_IMPLIES_EXEC))
        personality(static_cast<unsigned long>(persona & ~READ_IMPLIES_EXEC));
    // Where no mapping call can be checked, the heap grows with brk alone.
    if (!can_map_memory())
        mallopt(M_MMAP_MAX, 0);
    // Until the header is read, the fixed allowance of processor time; the
    // hard limit is the most any declared size could be given.
    set_time_limit(decoder_first_time_limit(run_time));
    drop_capabilities();
    return install_filter(input_fd, report_fd);
}

void limit_decoder(const decoder_budget &budget)
{
    set_time_limit(budget.time);
#ifndef PIXREMAP_ADDRESS_SANITIZER
    // The kernel's own cap behind the decoder's count.
    set_limit(RLIMIT_AS, budget.address_space, budget.address_space);
#endif
}
