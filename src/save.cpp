// save: see save.h. The PNG writer's sink over an atomic file: the file is
// opened only once there is something to write, every write is checked (a
// full disk must not leave a cut-off PNG behind), and an IDAT chunk's
// length is put in its place with a positioned write once the writer knows
// it, which is why the file must be one that can seek.
#include "save.h"

#include <cstring>

#include "png_write.h"

namespace {

bool file_write(void *context, const unsigned char *bytes, std::size_t size)
{
    auto *f = static_cast<atomic_file *>(context);
    if (f->error || (f->fd < 0 && !atomic_open(f, f->target.c_str())))
        return false;
    return atomic_write(f, bytes, size);
}

bool file_rewrite(void *context, std::uint64_t offset, const unsigned char *bytes, std::size_t size)
{
    return atomic_write_at(static_cast<atomic_file *>(context), offset, bytes, size);
}

bool file_truncate(void *context, std::uint64_t size)
{
    return atomic_truncate(static_cast<atomic_file *>(context), size);
}

} // namespace

atomic_result save_png(const char *name, const unsigned char *pixels, int width, int height,
                       int channels, std::string *reason)
{
    atomic_file f;
    f.target = name;
    const png_sink sink = {&f, file_write, file_rewrite, file_truncate};
    const png_write_status status = png_write(sink, pixels, width, height, channels);
    atomic_result result = atomic_result::kept_old;
    if (status == png_write_status::written)
        result = atomic_commit(&f);
    else
        atomic_abandon(&f);
    if (result == atomic_result::replaced)
        return result;
    *reason = status == png_write_status::out_of_memory ? "out of memory while encoding the PNG"
              : status == png_write_status::not_an_image ? "the image has no pixels"
              : f.error                                  ? std::strerror(f.error)
                                                         : "the PNG could not be written";
    if (result == atomic_result::replaced_unsynced)
        *reason += " (syncing the directory)";
    return result;
}
