// load: see load.h.
//
// The file is opened here rather than by the decoder so that a file that
// can't be opened, or a directory, is reported with the system's own reason
// instead of the decoder's guess.
#include "load.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "stb_image.h"

unsigned char *load_image(const char *path, int *width, int *height, int *channels,
                          std::string *reason)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return nullptr;
    }
    struct stat st;
    const int error = fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    std::FILE *file = error ? nullptr : fdopen(fd, "rb");
    if (!file) {
        *reason = std::strerror(error ? error : errno);
        close(fd);
        return nullptr;
    }

    int w = 0, h = 0, c = 0;
    unsigned char *pixels = stbi_load_from_file(file, &w, &h, &c, 0);
    std::fclose(file);
    if (!pixels) {
        *reason = stbi_failure_reason();
        return nullptr;
    }
    // The decoder has been seen to hand back images it could not size; an
    // image without pixels or with a channel count no PNG can hold is no image.
    if (w <= 0 || h <= 0 || c < 1 || c > 4) {
        *reason = (w <= 0 || h <= 0) ? "the image has no pixels"
                                     : "the image has an unsupported number of channels";
        stbi_image_free(pixels);
        return nullptr;
    }
    *width = w;
    *height = h;
    *channels = c;
    return pixels;
}

void release_image(unsigned char *pixels, int, int, int)
{
    stbi_image_free(pixels);
}
