// atomic_file: replaces one file in one step, so that anyone reading its
// name sees the old file or the whole new one, never a part, and a run
// ended at any moment leaves no stray file behind. It knows nothing of what
// the bytes are.
//
//     atomic_file f;
//     atomic_open(&f, "out.png")             before the first byte
//     atomic_write / atomic_write_at / atomic_truncate
//     atomic_commit(&f)  or  atomic_abandon(&f)
//
// The new file is made in the target's directory, so that naming it can't
// copy: on Linux as an unnamed file (open with O_TMPFILE), which no one
// can see and nothing has to remove, whatever ends the process (SIGKILL,
// the out-of-memory killer, a power cut). atomic_commit writes it to disk,
// links it under a hidden name (".NAME.PID.N") and renames that over the
// target, with every signal whose default action ends the process held
// back for those few calls. Where the file system or kernel can't make
// unnamed files, or /proc is missing to link one, the new file is that
// hidden name from the start; where the link is refused (a security module
// may refuse links alone), the unnamed file is copied to one at commit.
// While a hidden name exists, every signal whose default action ends the
// process (all but SIGKILL: the real-time signals and those an
// architecture adds too) removes it and then ends the process as it would
// have; the few the C library keeps for itself, which can't be caught, wait
// until the name is gone. Signals the caller ignores stay ignored. From
// open to commit or abandon SIGXFSZ is ignored, so that a file-size limit
// is a failed write, as a full disk is.
//
// A new file gets the permissions a plain create gives (0666 less the
// umask); a file that is replaced keeps its permission bits.
//
// Failures: each call returns false once anything has failed, and `error`
// keeps the first errno. Until atomic_commit has renamed, the target is as
// it was; atomic_commit's result tells the rest (atomic_result below).
// One atomic_file at a time per process: the signal handlers need the
// hidden name, and a handler has no other way to find it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct atomic_file {
    std::string target;  // the name being replaced
    std::string hidden;  // the hidden name, while the file has one
    int fd = -1;
    bool unnamed = false;  // made with O_TMPFILE
    int error = 0;         // the first errno seen, 0 while all is well
};

enum class atomic_result {
    replaced,         // the new file has the name, and is on disk
    kept_old,         // nothing changed; error says why
    replaced_unsynced // the new file has the name, but syncing the directory
                      // failed (error): after a crash the old one may be back
};

bool atomic_open(atomic_file *f, const char *target);
bool atomic_write(atomic_file *f, const unsigned char *bytes, std::size_t size);
// Writes at an offset, leaving the file's position where it was.
bool atomic_write_at(atomic_file *f, std::uint64_t offset, const unsigned char *bytes,
                     std::size_t size);
// Cuts the file to size and continues writing from there.
bool atomic_truncate(atomic_file *f, std::uint64_t size);

// sync_directory_now false leaves the directory's sync to the caller
// (atomic_sync_directory), so that several files replaced in one directory
// share one: `replaced` then means named, with the file itself on disk.
atomic_result atomic_commit(atomic_file *f, bool sync_directory_now = true);
// Syncs the directory that holds target, making the names given in it so
// far durable: 0, or the errno of a failed sync. A directory that can't be
// opened to sync it (mode 0333) or a file system that can't sync one is no
// failure.
int atomic_sync_directory(const char *target);
// Drops the new file; the target stays as it was.
void atomic_abandon(atomic_file *f);
// Removes the hidden name of the file being made, if it has one, for a
// process about to end without another step (out of memory). Safe in a
// signal handler.
void atomic_remove_hidden();
