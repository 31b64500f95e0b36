// load: turns an image file into 8-bit interleaved samples, decoding it in a
// child process that can do nothing else.
//
// load_image(path, &width, &height, &channels, &reason) opens the file and
// decodes it in a confined child process with budgets of memory and
// processor time, so that a file that makes the decoder crash, hang or ask
// for far more memory than its pixels need costs a bounded amount and is
// reported as unreadable. How the child is confined and what it is given:
// load.cpp's header comment; for users, README.md ("Files from anywhere").
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

#include <string>

unsigned char *load_image(const char *path, int *width, int *height, int *channels,
                          std::string *reason);

void release_image(unsigned char *pixels, int width, int height, int channels);
