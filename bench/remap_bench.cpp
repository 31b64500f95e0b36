// remap_bench: the throughput of remap_pixels with each map, on RGB, RGBA
// and grey images of 1, 12 and 48 megapixels, beside two references over
// the same buffer and the same colour samples:
//   - xor_loop: a plain in-place loop, v ^= 1 on each colour sample, as fast
//     as this access pattern goes (memory speed, or cache speed where the
//     image fits in the cache);
//   - column_walk: the literal walk, column by column, calling the map
//     through a function pointer for each sample.
// Bytes/s counts every byte of the image, alpha included.
//
//     remap_bench [--tiny] [Google Benchmark options]
//
// --tiny runs a 64x64 image only, for checking that the benchmark still
// builds and runs.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "remap/remap.h"

namespace {

std::vector<unsigned char> image_bytes(std::size_t size)
{
    std::vector<unsigned char> bytes(size);
    unsigned state = 7;
    for (auto &b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<unsigned char>(state >> 16);
    }
    return bytes;
}

// The colour samples of a pixel of c samples: 3 of RGB(A), 1 of grey.
int colour_samples(int c)
{
    return c >= 3 ? 3 : 1;
}

void pass(benchmark::State &state, byte_map map, int w, int h, int c)
{
    auto bytes = image_bytes(static_cast<std::size_t>(w) * h * c);
    for (auto _ : state) {
        remap_pixels(bytes.data(), w, h, c, map);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
}

// For RGBA the colour samples are flipped a whole pixel at a time, as one
// 32-bit word (0x00010101 flips red, green and blue on a little-endian
// machine), which the compiler vectorises; a byte-by-byte walk that skips
// alpha would not be, and would be no ceiling.
template <int c>
void xor_run(unsigned char *data, std::size_t pixels)
{
    if constexpr (c == 1 || c == 3) {
        for (std::size_t i = 0; i < pixels * c; ++i)
            data[i] ^= 1;
    } else {
        for (std::size_t p = 0; p < pixels; ++p) {
            std::uint32_t word;
            std::memcpy(&word, data + 4 * p, 4);
            word ^= 0x00010101u;
            std::memcpy(data + 4 * p, &word, 4);
        }
    }
}

void xor_loop(benchmark::State &state, int w, int h, int c)
{
    auto bytes = image_bytes(static_cast<std::size_t>(w) * h * c);
    const std::size_t pixels = static_cast<std::size_t>(w) * h;
    for (auto _ : state) {
        switch (c) {
        case 1: xor_run<1>(bytes.data(), pixels); break;
        case 3: xor_run<3>(bytes.data(), pixels); break;
        case 4: xor_run<4>(bytes.data(), pixels); break;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
}

// Through a pointer the compiler can't see through, as a caller passing the
// map at run time would.
std::uint8_t (*volatile walk_map)(std::uint8_t) = digit_remap;

void column_walk(benchmark::State &state, int w, int h, int c)
{
    auto bytes = image_bytes(static_cast<std::size_t>(w) * h * c);
    const int colour = colour_samples(c);
    for (auto _ : state) {
        const auto map = walk_map;
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y) {
                unsigned char *p = bytes.data() + (static_cast<std::size_t>(y) * w + x) * c;
                for (int k = 0; k < colour; ++k)
                    p[k] = map(p[k]);
            }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
}

struct size {
    const char *name;
    int w, h;
};

} // namespace

int main(int argc, char **argv)
{
    bool tiny = false;
    std::vector<char *> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--tiny") == 0)
            tiny = true;
        else
            args.push_back(argv[i]);
    }
    const std::vector<size> sizes = tiny ? std::vector<size>{{"64x64", 64, 64}}
                                         : std::vector<size>{{"1MP", 1000, 1000},
                                                             {"12MP", 4000, 3000},
                                                             {"48MP", 8000, 6000}};
    const std::pair<const char *, int> layouts[] = {{"rgb", 3}, {"rgba", 4}, {"grey", 1}};
    for (const auto &s : sizes)
        for (const auto &[layout, c] : layouts) {
            const std::string tag = std::string(layout) + "/" + s.name;
            const int w = s.w, h = s.h, channels = c;
            benchmark::RegisterBenchmark(("digit_remap/" + tag).c_str(),
                                         [=](benchmark::State &st) { pass(st, byte_map::digit, w, h, channels); });
            benchmark::RegisterBenchmark(("bit_remap/" + tag).c_str(),
                                         [=](benchmark::State &st) { pass(st, byte_map::bit, w, h, channels); });
            benchmark::RegisterBenchmark(("xor_loop/" + tag).c_str(),
                                         [=](benchmark::State &st) { xor_loop(st, w, h, channels); });
            benchmark::RegisterBenchmark(("column_walk/" + tag).c_str(),
                                         [=](benchmark::State &st) { column_walk(st, w, h, channels); })
                ->Iterations(tiny ? 1 : 3);
        }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
