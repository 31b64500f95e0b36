// report: see report.h.
#include "decode/report.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/wait.h>
#include <unistd.h>

#include "printable.h"

namespace {

std::string mebibytes(std::uint64_t bytes)
{
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

// "signal 11, Segmentation fault": the number this machine gives the
// signal, and its description.
std::string signal_text(int sig)
{
    const char *description = strsignal(sig);
    return "signal " + std::to_string(sig) + (description ? std::string(", ") + description : "");
}

// The signals only a fault of the decoder's own raises (or the C library,
// for a failed check: abort), which a file can cause. SIGSYS, from the
// filter, is worded apart.
bool raised_by_a_fault(int sig)
{
    switch (sig) {
    case SIGSEGV:
    case SIGBUS:
    case SIGILL:
    case SIGFPE:
    case SIGABRT:
    case SIGTRAP:
        return true;
    default:
        return false;
    }
}

std::string seconds_text(std::uint64_t seconds)
{
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

} // namespace

void send_report(int fd, const decoder_report &report)
{
    while (write(fd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

void send_failure(int fd, const char *reason)
{
    decoder_report report;
    report.kind = report_kind::failed;
    std::strncpy(report.reason, reason, sizeof report.reason - 1);
    send_report(fd, report);
    _exit(1);
}

std::string failure_words(const decoder_report &report)
{
    const std::string shown = printable(std::string_view(report.reason, strnlen(report.reason, sizeof report.reason)));
    return shown.empty() ? "the decoder failed" : shown;
}

std::string end_words(const decoder_end &end)
{
    if (!end.collected)
        return std::string("cannot learn how the decoder ended (") + std::strerror(end.wait_error) + ")";
    if (WIFEXITED(end.status))
        return "the decoder stopped without a result (exit status " + std::to_string(WEXITSTATUS(end.status)) + ")";
    const int sig = WTERMSIG(end.status);
    // The kernel counts in ticks; a process killed at its hard limit has
    // used at least nearly that much.
    const bool out_of_time = sig == SIGXCPU || end.stopped_for_time ||
                             (sig == SIGKILL && end.processor_seconds + 0.5 >= static_cast<double>(end.time.hard));
    if (out_of_time && end.time.run_limited)
        return "the decoder was stopped by this run's processor-time limit (ulimit -t) after " +
               seconds_text(end.time.soft);
    if (out_of_time)
        return "the decoder was stopped after " + seconds_text(end.time.soft) +
               " of processor time on this file (it may be made to hang it)";
    if (sig == SIGSYS)
        return "the decoder was stopped for trying something outside its confinement (" + signal_text(sig) +
               "); the file may be an attack";
    if (raised_by_a_fault(sig))
        return "the decoder crashed on this file (" + signal_text(sig) + ")";
    if (sig == SIGKILL)
        return "the decoder was killed (" + signal_text(sig) + "), possibly for lack of memory";
    return "the decoder was killed (" + signal_text(sig) + ")";
}

std::string refusal_words(const decoder_report &image, refused_image why, std::size_t reserved)
{
    std::string words = "the decoder handed back a " + std::to_string(image.width) + "x" +
                        std::to_string(image.height) + " image of " + std::to_string(image.channels) + " channels, ";
    switch (why) {
    case refused_image::no_pixels: return words + "which has no pixels";
    case refused_image::no_png_channels: return words + "which no PNG can hold";
    case refused_image::past_reservation: return words + "larger than the " + mebibytes(reserved) + " reserved for it";
    case refused_image::past_memory_budget: return words + "larger than the memory it was allowed";
    }
    return words;
}

std::string unmappable_words(std::uint64_t image, std::size_t reserved)
{
    return "the image needs " + mebibytes(image) + " and this run can map only " + mebibytes(reserved) +
           " for it (is there an address-space limit?)";
}

std::string hand_back_words(std::uint64_t image, int error)
{
    return "cannot hand back the image (" + mebibytes(image) + "): " + std::strerror(error);
}

std::string unsized_words(std::uint64_t reach)
{
    return "Out of memory: the image's size was not found in its first " + mebibytes(reach) +
           ", so the decoder had only the " + mebibytes(decoder_memory_allowance) + " any file gets";
}

std::string start_words(int error)
{
    return std::string("cannot start the decoder: ") + std::strerror(error);
}
