// save: writes an image as one PNG file, replacing any file of that name in
// one step.
//
// save_png(name, pixels, width, height, channels, scratch, &reason) writes a packed
// 8-bit image of 1 to 4 channels as the PNG file stbi_write_png would write
// at its defaults (png_write.h), as it is made, into a new file that takes
// the name only once it is whole and on disk (atomic_file.h): anyone
// reading name sees the old file or the whole new one, never a part, and
// no stray file is left whatever ends the run.
//
// It returns what became of name (atomic_result) and, unless it was
// replaced cleanly, sets reason to one line a person can read, the
// system's reason where there is one. kept_old: creating, writing, syncing
// or renaming failed, or there was no memory for the writer; name is as it
// was. replaced_unsynced: name is the new file, but the directory could not
// be synced, so a crash soon after may bring the old one back.
#pragma once

#include <string>

#include "atomic_file.h"
#include "png/png_write.h"

// scratch: the PNG writer's memory, shared by the images saved one after
// another (png_write.h); null for memory of this save's own. With
// sync_directory false the directory is left for the caller to sync
// (atomic_sync_directory), once for several files.
atomic_result save_png(const char *name, const unsigned char *pixels, int width, int height,
                       int channels, png_scratch *scratch, std::string *reason,
                       bool sync_directory = true);
