// jpeg_frame: a JPEG's frame header, found the way stb_image finds it, and
// what stb_image will hold to decode the image it describes.
//
//     jpeg_frame f;
//     if (jpeg_find_frame(read_at, context, bound, &f)) ... f.width, f.working_bytes
//
// The marker segments are walked from the start of the file as stb_image
// walks them (fill bytes and padding between segments passed over; the
// tables, the restart interval, APPn and comments skipped by their
// lengths) to its first frame header (SOF0, SOF1 or SOF2), but no segment
// is read: the file is read through read_at, a few bytes where each
// segment starts, so that any amount of metadata before the frame (Exif,
// extended XMP, ICC profiles split over APP2, Photoshop's APP13) costs a
// read per segment, up to `bound` bytes into the file.
//
// Written here because what matters is stb_image's own reading: which
// frames it takes and what it skips. A JPEG library reads the segments it
// passes, and takes frames stb_image refuses.
#pragma once

#include <cstddef>
#include <cstdint>

struct jpeg_frame {
    int width = 0, height = 0;
    int components = 0;        // 1, 3 or 4
    bool progressive = false;  // SOF2: every coefficient is held until the end
    // The bytes stb_image allocates for it: a plane of each component in
    // whole blocks, for a progressive file the components' coefficients
    // (2 bytes each) beside them, and the image it hands back.
    std::uint64_t working_bytes = 0;
};

// Reads up to `size` bytes at `offset` of the file into `into`; fewer at its
// end.
using jpeg_read_at = std::size_t (*)(void *context, std::uint64_t offset, unsigned char *into, std::size_t size);

// False where the file is no JPEG, its frame header is not within `bound`
// bytes, or the header is one stb_image refuses.
bool jpeg_find_frame(jpeg_read_at read_at, void *context, std::uint64_t bound, jpeg_frame *frame);
