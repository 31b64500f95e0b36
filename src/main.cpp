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
// and exits 1.
#include <cstdio>
#include <string>

#include "load.h"
#include "printable.h"
#include "remap.h"
#include "save.h"

namespace {

// One line on stderr, "pixremap: cannot VERB 'FILE': REASON". FILE is shown
// printable (printable.h), so a hostile name can't break the line or steer
// the terminal.
void report(const char *verb, const char *file, const std::string &reason)
{
    std::fprintf(stderr, "pixremap: cannot %s '%s': %s\n", verb, printable(file).c_str(), reason.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    const char *path = argc > 1 ? argv[1] : "default.png";
    int width = 0, height = 0, channels = 0;
    std::string reason;

    unsigned char *pixels = load_image(path, &width, &height, &channels, &reason);
    if (!pixels) {
        report("read", path, reason);
        return 1;
    }

    int status = 0;
    remap_pixels<digit_remap>(pixels, width, height, channels);
    if (!save_png("outfirst.png", pixels, width, height, channels, &reason)) {
        report("write", "outfirst.png", reason);
        status = 1;
    }
    remap_pixels<bit_remap>(pixels, width, height, channels);
    if (!save_png("outsecond.png", pixels, width, height, channels, &reason)) {
        report("write", "outsecond.png", reason);
        status = 1;
    }

    release_image(pixels, width, height, channels);
    return status;
}
