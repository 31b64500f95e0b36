// decode: turns the bytes of an image file, read from a file descriptor (a
// file or a pipe) or from memory, into 8-bit interleaved samples with
// stb_image. This is what runs inside the confined decoder process (see
// load.h); it knows nothing of processes or limits.
//
//     decode_input in;
//     decode_from_file(&in, fd, seekable);      or decode_from_memory(...)
//     decode_begin(&in, &reason)                reads the first MiB
//     decode_header(in, &header)                what the file declares
//     decode_pixels(&in, &w, &h, &c, &reason)   the whole image
//     decode_free(pixels)
//
// The image comes in the file's own channel count: 1 grey, 2 grey and alpha,
// 3 red, green, blue, 4 red, green, blue, alpha; rows top to bottom, packed;
// 8-bit samples whatever the file's depth. A successful decode always has at
// least one pixel and 1 to 4 channels. On failure the functions return
// false or null and set reason to one line a person can read: the system's
// reason when reading fails, otherwise the decoder's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// A buffered reader that feeds the decoder, over a file descriptor or a
// block of memory.
struct decode_input {
    int fd = -1;                          // the file, or -1 for memory
    bool seekable = false;                // a regular file, where skips can seek
    // The buffer, when reading a file: not cleared, so that its pages cost
    // nothing until a read fills them (a small file touches a few of them).
    std::unique_ptr<unsigned char[]> storage;
    std::size_t capacity = 0;             // its size
    const unsigned char *data = nullptr;  // the buffer, or the memory
    std::size_t start = 0, end = 0;       // the unread bytes in data
    bool at_end = false;                  // no more bytes will come
    int error = 0;                        // the errno of a failed read
};

// What a file's header declares: its width and height in pixels (a
// top-down bitmap's negative height counted as rows), and its channels as
// the header gives them, which the decoded image may exceed by an alpha
// channel (a PNG's transparent colour, a bitmap's alpha mask).
struct image_header {
    int width = 0, height = 0, channels = 0;
    int sample_bytes = 1;  // 1, 2 for 16-bit files, 4 for HDR (decoded through floats)
    // For a JPEG, the bytes the decoder will allocate for it, by the
    // components and mode its frame header declares (jpeg_frame.h); 0 for
    // other formats.
    std::uint64_t working_bytes = 0;
};

void decode_from_file(decode_input *in, int fd, bool seekable);
void decode_from_memory(decode_input *in, const unsigned char *data, std::size_t size);

// Reads the first MiB of a file (all of it, if it is shorter), which the
// header is read from. False if the file is empty or can't be read.
bool decode_begin(decode_input *in, std::string *reason);

// The image size the file declares, where the decoder can tell it from the
// first MiB, or, for a JPEG in a regular file, from a frame header up to
// 64 MiB in (the segments before it are skipped, not read; the file's
// offset is put back); false otherwise. Nothing is decoded.
bool decode_header(const decode_input &in, image_header *header);

// How far into the file decode_header looks for the size.
std::uint64_t decode_header_reach(const decode_input &in);

// Decodes the whole image; the pixels are the caller's, for decode_free.
unsigned char *decode_pixels(decode_input *in, int *width, int *height, int *channels,
                             std::string *reason);

void decode_free(unsigned char *pixels);
