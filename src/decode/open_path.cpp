// open_path: see open_path.h.
#include "decode/open_path.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

int open_any_length(const char *path, int flags)
{
    std::size_t left = std::strlen(path);
    if (left < PATH_MAX)
        return open(path, flags);
    int dir = AT_FDCWD;
    const auto close_dir = [&] {
        if (dir != AT_FDCWD) {
            const int error = errno;
            close(dir);
            errno = error;
        }
    };
    while (left >= PATH_MAX) {
        std::size_t cut = PATH_MAX - 1;  // the last '/' that leaves a step within the limit
        while (cut > 0 && path[cut] != '/')
            --cut;
        if (cut == 0 && path[0] != '/') {
            close_dir();
            errno = ENAMETOOLONG;  // a single name longer than the limit
            return -1;
        }
        const std::string step(path, cut == 0 ? 1 : cut);  // "/" for an absolute path's root
        const int next = openat(dir, step.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        close_dir();
        if (next < 0)
            return -1;
        dir = next;
        path += step.size();
        while (*path == '/')
            ++path;
        left = std::strlen(path);
    }
    const int fd = openat(dir, *path ? path : ".", flags);
    close_dir();
    return fd;
}
