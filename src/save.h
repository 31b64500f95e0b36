// save: writes an image as one PNG file, replacing any file of that name in
// one step.
//
// save_png(name, pixels, width, height, channels, &reason) encodes a packed
// 8-bit image of 1 to 4 channels with stb_image_write at its defaults, so the
// bytes are exactly those stbi_write_png would write. They go to a new
// temporary file beside name, which is flushed to disk and then renamed over
// name: anyone reading name sees the old file or the whole new one, never a
// part. A new file gets the permissions a plain create gives (0666 less the
// umask); a file that is replaced keeps its permission bits.
//
// On failure (the image is too large for the encoder (png_fits_encoder), the
// encoder runs out of memory, or
// creating, writing, syncing or renaming fails) it returns false, sets reason
// to one line a person can read, the system's reason where there is one,
// removes the temporary file and leaves any file called name as it was.
#pragma once

#include <string>

// Whether stb_image_write 1.16 can encode the image without overflowing its
// 32-bit sizes. It sums a row's filter costs, up to 128 a byte, in an int,
// so a row may hold at most 16777215 bytes; it keeps the filtered rows (a
// filter byte and the row each) in an int-sized buffer and compresses them
// into a buffer that grows to 3 * 2^k - 1 bytes, whose last size below 2^31
// is 1610612735. Compressing can take 9 bits a byte, plus a zlib header,
// end-of-block code and checksum: 2 + ceil((9 * rows + 10) / 8) + 4 bytes, so
// the filtered rows may hold at most 1431655757 bytes.
bool png_fits_encoder(int width, int height, int channels);

bool save_png(const char *name, const unsigned char *pixels, int width, int height,
              int channels, std::string *reason);
