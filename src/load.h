// load: turns an image file into 8-bit interleaved samples.
//
// load_image(path, &width, &height, &channels, &reason) reads the file at path
// with stb_image, in the file's own channel count: 1 grey, 2 grey and alpha,
// 3 red, green, blue, 4 red, green, blue, alpha. Rows come top to bottom,
// packed. Whatever the file's sample depth, the samples are 8-bit.
//
// On success it returns the pixels, which the caller owns and hands back to
// release_image once, and sets width, height and channels; the image always
// has at least one pixel and 1 to 4 channels. On failure it returns null,
// leaves width, height and channels alone and sets reason to one line a
// person can read: the system's reason when the file can't be opened, such as
// "No such file or directory", otherwise why the decoder refused it.
#pragma once

#include <string>

unsigned char *load_image(const char *path, int *width, int *height, int *channels,
                          std::string *reason);

void release_image(unsigned char *pixels, int width, int height, int channels);
