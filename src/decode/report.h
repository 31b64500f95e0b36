// report: what the decoder process tells the parent (load.cpp), and every
// message the load gives about the decoder, worded here and nowhere else.
//
// The child sends fixed-size reports on a pipe: the size its file declares
// once the header is read, then the image it handed back or the reason it
// failed. Nothing in a report is trusted: the parent checks sizes itself,
// and the child's words are shown only as printable text. A report is
// smaller than PIPE_BUF, so it is never split or mixed with another.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

#include "decode/budget.h"
#include "decode/decode.h"

enum class report_kind : int { none, header_read, image_ready, failed };

struct decoder_report {
    report_kind kind = report_kind::none;
    int sized = 0;  // header_read: whether the header could be read
    image_header header;
    int width = 0, height = 0, channels = 0;  // image_ready
    char reason[256] = {};                    // failed
};
static_assert(sizeof(decoder_report) <= PIPE_BUF);

// Sends one report; a failed write is let go (the parent then says how the
// decoder ended instead).
void send_report(int fd, const decoder_report &report);
// Sends `reason` as the failure and ends the process (exit status 1),
// without allocating: also the way out when memory has run out.
[[noreturn]] void send_failure(int fd, const char *reason);

// The decoder's own failure, as one line of printable text.
std::string failure_words(const decoder_report &report);

// How the decoder ended without handing back an image, as the parent saw it.
struct decoder_end {
    bool collected = false;        // the kernel gave its status
    int wait_error = 0;            // the errno of a wait that failed
    int status = 0;                // the wait status, when collected
    double processor_seconds = 0;  // what it used, when collected
    bool stopped_for_time = false; // killed by the parent at the time limit
    decoder_time_limit time;       // the limit it was under when it ended
};
std::string end_words(const decoder_end &end);

// Why an image the decoder handed back is refused.
enum class refused_image { no_pixels, no_png_channels, past_reservation, past_memory_budget };
std::string refusal_words(const decoder_report &image, refused_image why, std::size_t reserved);

// The child's words for an image the hand-back memory can't hold, and for
// a hand-back that failed (error, an errno).
std::string unmappable_words(std::uint64_t image, std::size_t reserved);
std::string hand_back_words(std::uint64_t image, int error);
// The child's, for a file whose size wasn't found within `reach` bytes that
// ran out of the fixed allowance any file gets.
std::string unsized_words(std::uint64_t reach);
// The parent's, for a decoder that couldn't be started (error, an errno).
std::string start_words(int error);
constexpr const char *unconfined_words = "the decoder could not be confined (seccomp is not available)";
constexpr const char *out_of_memory_words = "Out of memory";
