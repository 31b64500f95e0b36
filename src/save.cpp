// save: see save.h. The PNG writer's sink over an atomic file. The first
// bytes are gathered in memory, so that a small PNG, the whole of it, goes
// to the file in one write, its IDAT length and any restart in the stored
// form settled in memory; past that the sink writes as the bytes come. The
// file is opened only once there is something to write, and every write is
// checked (a full disk must not leave a cut-off PNG behind). An IDAT
// chunk's length that is already on disk is put in its place with a
// positioned write, which is why the file must be one that can seek.
#include "save.h"

#include <cstdlib>
#include <cstring>

#include "png/png_write.h"

namespace {

// What is gathered before the first write: the PNG of a 128x128 RGBA image
// that doesn't compress. Small enough to come from the heap, not a mapping
// of its own.
constexpr std::size_t gather = 64 << 10;

// The sink's context: the file, opened at the first write, and the bytes
// not yet written to it.
struct png_file {
    const char *name;
    atomic_file file;
    unsigned char *held;       // `gather` bytes, or null to write straight through
    std::size_t held_size;     // bytes held, which follow the file's first `written`
    std::uint64_t written;
};

bool write_through(png_file *f, const unsigned char *bytes, std::size_t size)
{
    if (f->file.error || (f->file.fd < 0 && !atomic_open(&f->file, f->name)))
        return false;
    f->written += size;
    return atomic_write(&f->file, bytes, size);
}

// Writes what is held.
bool flush_held(png_file *f)
{
    const std::size_t size = f->held_size;
    f->held_size = 0;
    return size == 0 || write_through(f, f->held, size);
}

bool file_write(void *context, const unsigned char *bytes, std::size_t size)
{
    auto *f = static_cast<png_file *>(context);
    if (f->held && f->held_size + size <= gather) {
        std::memcpy(f->held + f->held_size, bytes, size);
        f->held_size += size;
        return true;
    }
    return flush_held(f) && write_through(f, bytes, size);
}

bool file_rewrite(void *context, std::uint64_t offset, const unsigned char *bytes, std::size_t size)
{
    auto *f = static_cast<png_file *>(context);
    if (offset >= f->written) {
        std::memcpy(f->held + (offset - f->written), bytes, size);
        return true;
    }
    return atomic_write_at(&f->file, offset, bytes, size);
}

bool file_truncate(void *context, std::uint64_t size)
{
    auto *f = static_cast<png_file *>(context);
    if (size >= f->written) {
        f->held_size = static_cast<std::size_t>(size - f->written);
        return true;
    }
    f->held_size = 0;
    f->written = size;
    return atomic_truncate(&f->file, size);
}

} // namespace

atomic_result save_png(const char *name, const unsigned char *pixels, int width, int height,
                       int channels, png_scratch *scratch, std::string *reason, bool sync_directory)
{
    png_file f = {name, {}, static_cast<unsigned char *>(std::malloc(gather)), 0, 0};
    const png_sink sink = {&f, file_write, file_rewrite, file_truncate};
    png_write_status status = png_write(sink, pixels, width, height, channels, scratch);
    if (status == png_write_status::written && !flush_held(&f))
        status = png_write_status::sink_failed;
    std::free(f.held);
    atomic_result result = atomic_result::kept_old;
    if (status == png_write_status::written)
        result = atomic_commit(&f.file, sync_directory);
    else
        atomic_abandon(&f.file);
    if (result == atomic_result::replaced)
        return result;
    const int error = f.file.error;
    *reason = status == png_write_status::out_of_memory ? "out of memory while encoding the PNG"
              : status == png_write_status::not_an_image ? "the image has no pixels"
              : error                                    ? std::strerror(error)
                                                         : "the PNG could not be written";
    if (result == atomic_result::replaced_unsynced)
        *reason += " (syncing the directory)";
    return result;
}
