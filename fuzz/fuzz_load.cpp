// A fuzz target over the load the tool itself makes: the input, as a file,
// goes through load_image, which decodes it in the confined decoder process
// and hands the pixels back through shared memory, and the result must be
// what the decoder makes of the same bytes in this process, under the same
// memory budget: the same image, byte for byte, or a refusal both ways.
// fuzz_decode fuzzes the decoding itself, in memory, and can't reach the
// hand-back, where an image larger than its header (a transparent colour's
// alpha channel, a top-down bitmap) was once refused. Built with libFuzzer
// by fuzz/run.sh (target "load"); the normal build links it with replay.cpp
// instead. Needs /proc, to name the input's memory file.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decode/codec.h"
#include "decode/decode.h"
#include "decode/load.h"
#include "fuzzed_input.h"
#include "image.h"

namespace {

[[noreturn]] void stop(const std::string &what)
{
    std::fprintf(stderr, "fuzz_load: %s\n", what.c_str());
    std::abort();
}

std::string shape(int width, int height, int channels)
{
    return std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(channels);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::uint64_t budget = 0;
    if (!fuzzed_input(data, size, &budget))
        return 0;
    decode_input in;
    decode_from_memory(&in, data, size);
    std::string reason;
    codec_limit_memory(budget);
    int w = 0, h = 0, c = 0;
    unsigned char *here = decode_pixels(&in, &w, &h, &c, &reason);
    codec_limit_memory(~0ull);

    const int fd = memfd_create("fuzz_load", MFD_CLOEXEC);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size))
        stop(std::string("cannot make the input's file: ") + std::strerror(errno));
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    int lw = 0, lh = 0, lc = 0;
    std::string load_reason;
    unsigned char *loaded = load_image(path.c_str(), &lw, &lh, &lc, &load_reason);
    close(fd);

    if (here && !loaded)
        stop("the decoder makes a " + shape(w, h, c) + " image, the load refuses it: " + load_reason);
    if (!here && loaded)
        stop("the decoder refuses the file (" + reason + "), the load hands back a " + shape(lw, lh, lc) +
               " image");
    if (here && (lw != w || lh != h || lc != c ||
                 std::memcmp(here, loaded, static_cast<std::size_t>(image_samples(w, h, c))) != 0))
        stop("the load hands back a " + shape(lw, lh, lc) + " image, not the decoder's " + shape(w, h, c) +
               " one");
    decode_free(here);
    if (loaded)
        release_image(loaded, lw, lh, lc);
    return 0;
}
