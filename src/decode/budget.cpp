// budget: see budget.h.
#include "decode/budget.h"

#include <algorithm>

namespace {

// The fixed part of the time budget, in processor seconds.
constexpr std::uint64_t time_allowance = 8;
// The sized part: the decoder's working memory per byte of decoded image,
// and its processor time per declared byte, with room for a machine many
// times slower than the one it was measured on.
constexpr std::uint64_t memory_per_image_byte = 4;
constexpr std::uint64_t image_bytes_per_second = 4ull << 20;
// The address space beyond the memory budget: the program, its libraries,
// its stack and the memory that hands the pixels back.
constexpr std::uint64_t address_space_slack = decoder_largest_image + (256ull << 20);

// The most declared bytes that count towards the budgets: the decoder's
// buffers are int-sized (2 GiB), and counting 16-bit samples and whole
// blocks can double that. Headers may declare far more than any decoder
// would take; that buys nothing.
constexpr std::uint64_t largest_declared = 4ull << 30;

// Resource limits are 64-bit in this build (_FILE_OFFSET_BITS=64, also on
// 32-bit machines), so no budget is cut short on its way to the kernel.
static_assert(sizeof(rlim_t) >= sizeof(std::uint64_t));

// The bytes of the decoded image at the header's sample size, counting
// whole 16x16 blocks (JPEG decodes in blocks of up to 16x16 pixels), at
// most largest_declared. Each side is under 2^32, so their product fits in
// 64 bits; once it passes largest_declared the rest can't bring it back.
std::uint64_t declared_bytes(const image_header &h)
{
    const auto w = (static_cast<std::uint64_t>(std::max(h.width, 0)) + 15) / 16 * 16;
    const auto v = (static_cast<std::uint64_t>(std::max(h.height, 0)) + 15) / 16 * 16;
    const auto c = static_cast<std::uint64_t>(std::clamp(h.channels, 1, 4));
    const auto s = static_cast<std::uint64_t>(std::clamp(h.sample_bytes, 1, 4));
    const std::uint64_t pixels = w * v;
    return pixels > largest_declared ? largest_declared : std::min(pixels * c * s, largest_declared);
}

// `seconds` of processor time, the hard limit one second on, neither past
// the run's own limits.
decoder_time_limit time_limit(std::uint64_t seconds, std::uint64_t hard, const rlimit &run_time)
{
    decoder_time_limit limit;
    limit.hard = std::min<std::uint64_t>(hard, run_time.rlim_max);
    limit.soft = std::min<std::uint64_t>({seconds, run_time.rlim_cur, limit.hard});
    limit.run_limited = limit.soft < seconds;
    return limit;
}

} // namespace

std::uint64_t decoder_memory_budget(const image_header *declared)
{
    if (!declared)
        return decoder_memory_allowance;
    // Where the format says what the decoder will hold (a JPEG's planes and
    // coefficients, by its components rather than the channels it hands
    // back), that, if it is more.
    const std::uint64_t sized = memory_per_image_byte * declared_bytes(*declared);
    const std::uint64_t working = std::min(declared->working_bytes, memory_per_image_byte * largest_declared);
    return decoder_memory_allowance + std::max(sized, working);
}

decoder_budget decoder_budget_for(const image_header *declared, const rlimit &run_time)
{
    const std::uint64_t bytes = declared ? declared_bytes(*declared) : 0;
    decoder_budget budget;
    budget.memory = decoder_memory_budget(declared);
    budget.address_space = budget.memory + address_space_slack;
    const std::uint64_t seconds = time_allowance + bytes / image_bytes_per_second;
    budget.time = time_limit(seconds, seconds + 1, run_time);
    return budget;
}

decoder_time_limit decoder_first_time_limit(const rlimit &run_time)
{
    return time_limit(time_allowance, time_allowance + largest_declared / image_bytes_per_second + 1, run_time);
}
