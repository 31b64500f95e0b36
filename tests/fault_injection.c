/* fault_injection: a library the tests preload into pixremap (LD_PRELOAD)
   to make the system fail in ways a test can't arrange otherwise: a file
   system without unnamed files, a directory that can't be opened or
   synced, a process killed or signalled in the middle of writing an
   output. PIXREMAP_FAULTS lists the faults, separated by commas:

     no_tmpfile        open with O_TMPFILE fails with EOPNOTSUPP, as on a
                       file system that can't make unnamed files
     no_proc           /proc/self/fd/N can't be reached, as without /proc
     dir_unreadable    opening a directory to read it fails with EACCES,
                       as in a directory with mode 0333
     dir_sync_eio      fsync of a directory fails with EIO
     kill_on_write     the first write to an output file raises SIGKILL
     signal_on_write=N the first write to an output file raises signal N
     no_link           linkat fails with EPERM, as under a security module
                       that refuses links
     signal_on_link=N  the first linkat, once done, raises signal N

   Output files are those opened with O_CREAT or O_TMPFILE. Nothing else is
   changed, and the decoder process (which opens nothing) is untouched. */
#define _GNU_SOURCE
/* Both open and open64 are wrapped, so neither may be renamed to the other. */
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int has_fault(const char *name)
{
    const char *faults = getenv("PIXREMAP_FAULTS");
    const size_t length = strlen(name);
    for (const char *at = faults; at && *at;) {
        if (strncmp(at, name, length) == 0 && (at[length] == ',' || at[length] == '=' || !at[length]))
            return 1;
        at = strchr(at, ',');
        at = at ? at + 1 : NULL;
    }
    return 0;
}

/* Signals are sent with kill, as another process would send them: raise
   refuses the real-time signals the C library keeps for itself. */

/* The N of "name=N" among the faults, or 0. */
static int fault_number(const char *name)
{
    const char *faults = getenv("PIXREMAP_FAULTS");
    const char *at = faults ? strstr(faults, name) : NULL;
    return at ? atoi(at + strlen(name)) : 0;
}

static int signal_to_raise(void)
{
    return has_fault("kill_on_write") ? SIGKILL : fault_number("signal_on_write=");
}

static char is_output[1024];
static int raised;

/* The real calls, found once at load time, so that no lookup happens later
   (in the confined decoder, say). */
static int (*real_open)(const char *, int, ...), (*real_open64)(const char *, int, ...);
static int (*real_access)(const char *, int), (*real_fsync)(int);
static ssize_t (*real_write)(int, const void *, size_t);
static int (*real_linkat)(int, const char *, int, const char *, int);

__attribute__((constructor)) static void find_real_calls(void)
{
    real_open = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
    real_open64 = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open64");
    real_access = (int (*)(const char *, int))dlsym(RTLD_NEXT, "access");
    real_fsync = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    real_write = (ssize_t (*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    real_linkat = (int (*)(int, const char *, int, const char *, int))dlsym(RTLD_NEXT, "linkat");
}

static int faulty_open(int (*real)(const char *, int, ...), const char *path, int flags, mode_t mode)
{
    if ((flags & O_TMPFILE) == O_TMPFILE && has_fault("no_tmpfile")) {
        errno = EOPNOTSUPP;
        return -1;
    }
    if ((flags & O_TMPFILE) != O_TMPFILE && (flags & O_DIRECTORY) && (flags & O_ACCMODE) == O_RDONLY &&
        has_fault("dir_unreadable")) {
        errno = EACCES;
        return -1;
    }
    const int fd = real(path, flags, mode);
    if (fd >= 0 && fd < (int)sizeof is_output)
        is_output[fd] = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
    return fd;
}

#define OPEN_WRAPPER(name)                                                     \
    int name(const char *path, int flags, ...)                                 \
    {                                                                          \
        mode_t mode = 0;                                                       \
        if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {           \
            va_list args;                                                      \
            va_start(args, flags);                                             \
            mode = va_arg(args, mode_t);                                       \
            va_end(args);                                                      \
        }                                                                      \
        return faulty_open(real_##name, path, flags, mode);                    \
    }
OPEN_WRAPPER(open)
OPEN_WRAPPER(open64)

int access(const char *path, int how)
{
    if (strncmp(path, "/proc/self/fd/", 14) == 0 && has_fault("no_proc")) {
        errno = ENOENT;
        return -1;
    }
    return real_access(path, how);
}

int fsync(int fd)
{
    struct stat st;
    if (has_fault("dir_sync_eio") && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EIO;
        return -1;
    }
    return real_fsync(fd);
}

ssize_t write(int fd, const void *bytes, size_t size)
{
    if (fd >= 0 && fd < (int)sizeof is_output && is_output[fd] && !raised) {
        const int sig = signal_to_raise();
        if (sig) {
            raised = 1;
            kill(getpid(), sig);
        }
    }
    return real_write(fd, bytes, size);
}

int linkat(int from_dir, const char *from, int to_dir, const char *to, int flags)
{
    static int linked;
    if (has_fault("no_link")) {
        errno = EPERM;
        return -1;
    }
    const int result = real_linkat(from_dir, from, to_dir, to, flags);
    const int sig = fault_number("signal_on_link=");
    if (sig && !linked++)
        kill(getpid(), sig);
    return result;
}
