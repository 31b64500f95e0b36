// save: see save.h. The PNG writer's sink over an atomic file: the file is
// opened only once there is something to write, every write is checked (a
// full disk must not leave a cut-off PNG behind), and an IDAT chunk's
// length is put in its place with a positioned write once the writer knows
// it, which is why the file must be one that can seek.
#include "save.h"

#include <cstring>

#include "png_write.h"

namespace {

// The sink's context: the file, opened at the first byte.
struct png_file {
    const char *name;
    atomic_file file;
};

bool file_write(void *context, const unsigned char *bytes, std::size_t size)
{
    auto *f = static_cast<png_file *>(context);
    if (f->file.error || (f->file.fd < 0 && !atomic_open(&f->file, f->name)))
        return false;
    return atomic_write(&f->file, bytes, size);
}

bool file_rewrite(void *context, std::uint64_t offset, const unsigned char *bytes, std::size_t size)
{
    return atomic_write_at(&static_cast<png_file *>(context)->file, offset, bytes, size);
}

bool file_truncate(void *context, std::uint64_t size)
{
    return atomic_truncate(&static_cast<png_file *>(context)->file, size);
}

} // namespace

atomic_result save_png(const char *name, const unsigned char *pixels, int width, int height,
                       int channels, std::string *reason)
{
    png_file f = {name, {}};
    const png_sink sink = {&f, file_write, file_rewrite, file_truncate};
    const png_write_status status = png_write(sink, pixels, width, height, channels);
    atomic_result result = atomic_result::kept_old;
    if (status == png_write_status::written)
        result = atomic_commit(&f.file);
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
