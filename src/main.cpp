// pixremap: reads one image, rewrites the colour samples of every pixel
// through digit_remap and saves the result as "outfirst.png", then rewrites
// the same samples through bit_remap and saves "outsecond.png".
//
//     pixremap [IMAGE]        IMAGE defaults to "default.png"; further
//                             arguments are ignored
//
// Success prints nothing and exits 0. An input that can't be read is one line
// on stderr and exit 1, with no output created or changed. An output that
// can't be written is one line on stderr; the run goes on to the other output
// and exits 1. So does an output that was replaced but whose directory could
// not be synced. A message that can't be written (stderr a closed pipe, a
// full disk) changes nothing else: the run goes on and its exit status says
// what happened.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <new>
#include <string>

#include <unistd.h>

#include "atomic_file.h"
#include "decode/load.h"
#include "png/png_write.h"
#include "printable.h"
#include "remap/remap.h"
#include "save.h"

namespace {

// Writes one line to stderr whatever stderr is: a pipe nobody reads or a
// file past the size limit fails the write (EPIPE, EFBIG) instead of ending
// the run with SIGPIPE or SIGXFSZ, and the failure is let go.
void say(const std::string &line)
{
    struct sigaction ignore = {}, pipe_before, xfsz_before;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &pipe_before);
    sigaction(SIGXFSZ, &ignore, &xfsz_before);
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    sigaction(SIGPIPE, &pipe_before, nullptr);
    sigaction(SIGXFSZ, &xfsz_before, nullptr);
}

// "pixremap: cannot VERB 'FILE': REASON". FILE is shown printable
// (printable.h), so a hostile name can't break the line or steer the
// terminal.
void report(const char *verb, const char *file, const std::string &reason)
{
    say(std::string("pixremap: cannot ") + verb + " '" + printable(file) + "': " + reason + "\n");
}

// Saves one output, leaving its directory to be synced with the other's
// (sync_outputs), and says what went wrong; true if name is the new file.
bool save(const char *name, const unsigned char *pixels, int width, int height, int channels,
          png_scratch *scratch)
{
    std::string reason;
    if (save_png(name, pixels, width, height, channels, scratch, &reason, false) == atomic_result::replaced)
        return true;
    report("write", name, reason);
    return false;
}

// Both outputs are named in the working directory, which is synced once,
// after both renames, so that both names are on disk when the run ends;
// one sync instead of one per output. A failure is said of each output
// that was replaced; false then.
bool sync_outputs(const char *const names[2], const bool replaced[2])
{
    if (!replaced[0] && !replaced[1])
        return true;
    const int error = atomic_sync_directory(names[replaced[0] ? 0 : 1]);
    if (error == 0)
        return true;
    for (int k = 0; k < 2; ++k)
        if (replaced[k])
            say(std::string("pixremap: replaced '") + printable(names[k]) + "', but it may not be on disk: " +
                std::strerror(error) + " (syncing the directory)\n");
    return false;
}

// Memory running out in the run itself (a tight ulimit -d) ends it with one
// line and exit status 1, after removing the hidden output it may be
// making: the C++ way out, an exception, needs memory of its own, and
// without it the run would end in abort. Nothing here allocates.
void out_of_memory()
{
    atomic_remove_hidden();
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
    static const char line[] = "pixremap: out of memory\n";
    (void)!write(STDERR_FILENO, line, sizeof line - 1);
    _exit(1);
}

} // namespace

int main(int argc, char **argv)
{
    std::set_new_handler(out_of_memory);
    const char *path = argc > 1 ? argv[1] : "default.png";
    int width = 0, height = 0, channels = 0;
    std::string reason;

    unsigned char *pixels = load_image(path, &width, &height, &channels, &reason);
    if (!pixels) {
        report("read", path, reason);
        return 1;
    }

    // The PNG writer's memory, set up once for both outputs. Null without
    // memory: each save then tries on its own and says what failed.
    png_scratch *scratch = png_scratch_make();
    const char *const names[2] = {"outfirst.png", "outsecond.png"};
    bool replaced[2];
    remap_pixels(pixels, width, height, channels, byte_map::digit);
    replaced[0] = save(names[0], pixels, width, height, channels, scratch);
    remap_pixels(pixels, width, height, channels, byte_map::bit);
    replaced[1] = save(names[1], pixels, width, height, channels, scratch);
    const bool synced = sync_outputs(names, replaced);

    png_scratch_free(scratch);
    release_image(pixels, width, height, channels);
    return replaced[0] && replaced[1] && synced ? 0 : 1;
}
