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
// On failure (the encoder can't take the image or runs out of memory, or
// creating, writing, syncing or renaming fails) it returns false, sets reason
// to one line a person can read, the system's reason where there is one,
// removes the temporary file and leaves any file called name as it was.
#pragma once

#include <string>

bool save_png(const char *name, const unsigned char *pixels, int width, int height,
              int channels, std::string *reason);
