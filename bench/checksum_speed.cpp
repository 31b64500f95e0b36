// checksum_speed: the CRC-32 and Adler-32 the PNG writer needs, from zlib
// and from libdeflate, on the same 64 MiB (or the size given, in MiB): best
// of 5 runs each, in GB/s. The writer uses the faster.
//
//     checksum_speed [MIB]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>

namespace {

template <class F>
double best_rate(const std::vector<unsigned char> &data, F f, unsigned long *sink)
{
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        *sink += f(data.data(), data.size());
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return static_cast<double>(data.size()) / best / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    std::vector<unsigned char> data(std::max<std::size_t>(mib, 1) << 20);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 131 + i / 4096);
    unsigned long sink = 0;
    std::printf("%-10s %8s %12s\n", "checksum", "zlib", "libdeflate");
    std::printf("%-10s %8.2f %12.2f  GB/s\n", "Adler-32",
                best_rate(data, [](const unsigned char *p, std::size_t n) { return adler32_z(1, p, n); }, &sink),
                best_rate(data, [](const unsigned char *p, std::size_t n) { return libdeflate_adler32(1, p, n); }, &sink));
    std::printf("%-10s %8.2f %12.2f  GB/s\n", "CRC-32",
                best_rate(data, [](const unsigned char *p, std::size_t n) { return crc32_z(0, p, n); }, &sink),
                best_rate(data, [](const unsigned char *p, std::size_t n) { return libdeflate_crc32(0, p, n); }, &sink));
    return sink == 42 ? 1 : 0;
}
