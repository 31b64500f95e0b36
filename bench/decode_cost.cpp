// decode_cost: what decoding each file costs against the confined decoder's
// budgets. For each file it decodes in this process, as the confined
// decoder does, and prints the size the header declares, the decoder's peak
// memory as a multiple of the declared image bytes, and the processor time
// per declared megabyte, beside the budgets the tool would give the file.
//
//     decode_cost FILE...
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decode/codec.h"
#include "decode/decode.h"
#include "decode/budget.h"

namespace {

double cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

} // namespace

int main(int argc, char **argv)
{
    std::printf("%-36s %11s %11s %8s %9s %9s %8s\n", "file", "declared", "peak",
                "peak/img", "ms", "ms/MB", "budget");
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), {});
        decode_input in;
        decode_from_memory(&in, bytes.data(), bytes.size());
        std::string reason;
        image_header header;
        const bool sized = decode_begin(&in, &reason) && decode_header(in, &header);
        const auto image_bytes = static_cast<double>(header.width) * header.height *
                                 header.channels * header.sample_bytes;
        const auto budget = decoder_memory_budget(sized ? &header : nullptr);
        codec_reset_peak();
        codec_limit_memory(budget);
        const double start = cpu_seconds();
        int w = 0, h = 0, c = 0;
        unsigned char *pixels = decode_pixels(&in, &w, &h, &c, &reason);
        const double ms = (cpu_seconds() - start) * 1e3;
        codec_limit_memory(~0ull);
        const auto peak = static_cast<double>(codec_peak_memory());
        std::printf("%-36s %11.0f %11.0f %8.2f %9.1f %9.2f %8s\n", argv[i], image_bytes, peak,
                    sized && image_bytes > 0 ? peak / image_bytes : 0.0, ms,
                    image_bytes > 0 ? ms / (image_bytes / 1e6) : 0.0,
                    pixels ? "fits" : reason.c_str());
        if (!pixels)
            status = 1;
        decode_free(pixels);
    }
    return status;
}
