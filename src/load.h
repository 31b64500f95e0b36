// load: turns an image file into 8-bit interleaved samples, decoding it in a
// child process that can do nothing else.
//
// load_image(path, &width, &height, &channels, &reason) opens the file, then
// starts the decoder in a child process. The child confines itself before it
// reads a byte: it can read the open file, allocate memory, hand the pixels
// back through a shared memory file and exit; any other system call kills
// it. It is given memory and processor time in proportion to the image size
// the file declares (decoder_memory_budget, decoder_time_budget), so a file
// that makes the decoder crash, hang or ask for far more memory than its
// pixels need costs a bounded amount and is reported as unreadable.
//
// On success it returns the pixels, which the caller owns and hands back to
// release_image once, and sets width, height and channels: at least one
// pixel, 1 grey, 2 grey and alpha, 3 red, green, blue, 4 red, green, blue,
// alpha, rows top to bottom, packed, 8-bit samples. On failure it returns
// null, leaves width, height and channels alone and sets reason to one line
// a person can read: the system's reason when the file can't be opened, such
// as "No such file or directory", the decoder's when it refuses the file,
// otherwise what became of the decoder ("the decoder crashed on this file
// (signal 11)").
#pragma once

#include <cstdint>
#include <string>

#include "decode.h"

unsigned char *load_image(const char *path, int *width, int *height, int *channels,
                          std::string *reason);

void release_image(unsigned char *pixels, int width, int height, int channels);

// What the decoder process does to itself before it reads a byte: no core
// dumps, no capabilities, the fixed allowance of processor time, and a
// seccomp filter under which it may only read input_fd, write report_fd,
// manage its own memory (never executable), lower its processor-time and
// address-space limits and exit; any other system call kills it with
// SIGSYS. False if the filter can't be installed. Exposed so that tests can
// probe the confinement.
bool confine_decoder(int input_fd, int report_fd);

// The bytes the decoder may hold at once, for a file whose header declares
// `declared`, or null for a file whose size the decoder can't tell.
std::uint64_t decoder_memory_budget(const image_header *declared);

// The processor seconds the decoder may use, likewise.
std::uint64_t decoder_time_budget(const image_header *declared);
