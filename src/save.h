// save: writes an image as one PNG file, replacing any file of that name in
// one step.
//
// save_png(name, pixels, width, height, channels, &reason) writes a packed
// 8-bit image of 1 to 4 channels as the PNG file stbi_write_png would write
// at its defaults (png_write.h), as it is made, to a new temporary file
// beside name, which is then flushed to disk and renamed over name: anyone
// reading name sees the old file or the whole new one, never a part. A new
// file gets the permissions a plain create gives (0666 less the umask); a
// file that is replaced keeps its permission bits.
//
// While the temporary file exists, SIGINT, SIGTERM and SIGHUP remove it and
// then end the process as they would have (unless they were being ignored),
// and SIGXFSZ is ignored, so that a file-size limit is a failed write like
// a full disk.
//
// On failure (creating, writing, syncing or renaming fails, or there is no
// memory for the writer) it returns false, sets reason to one line a person
// can read, the system's reason where there is one, removes the temporary
// file and leaves any file called name as it was.
#pragma once

#include <string>

bool save_png(const char *name, const unsigned char *pixels, int width, int height,
              int channels, std::string *reason);
