// unconfined: pixremap's run with the decoder in the same process, as it
// was before decoding was confined. Only for measuring what the confinement
// costs a whole run (`/usr/bin/time` against build/pixremap on the same
// image); never install it, it is not safe on hostile files.
//
//     unconfined IMAGE
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "decode/decode.h"
#include "remap/remap.h"
#include "save.h"

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    decode_input in;
    decode_from_file(&in, fd, true);
    std::string reason;
    int w = 0, h = 0, c = 0;
    unsigned char *pixels = fd >= 0 && decode_begin(&in, &reason)
                                ? decode_pixels(&in, &w, &h, &c, &reason)
                                : nullptr;
    if (!pixels) {
        std::fprintf(stderr, "unconfined: cannot read '%s': %s\n", argv[1], reason.c_str());
        return 1;
    }
    remap_pixels(pixels, w, h, c, byte_map::digit);
    const bool first = save_png("outfirst.png", pixels, w, h, c, nullptr, &reason) == atomic_result::replaced;
    remap_pixels(pixels, w, h, c, byte_map::bit);
    const bool second = save_png("outsecond.png", pixels, w, h, c, nullptr, &reason) == atomic_result::replaced;
    decode_free(pixels);
    return first && second ? 0 : 1;
}
