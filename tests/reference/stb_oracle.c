/* stb_oracle: stb_image 2.27 as a plain program, the decode that the
   corpus test holds pixremap to on files nobody here made.

       stb_oracle IMAGE

   Decodes IMAGE with stbi_load(..., 0) and writes "WIDTH HEIGHT CHANNELS\n"
   and then the packed 8-bit samples to stdout, exit status 0; or the
   decoder's reason to stderr, exit status 1. It runs in a process of its
   own, outside any confinement, so that a file that crashes stb (an abort
   from a failed assert, a segmentation fault) or hangs it ends only this
   process: the test counts every such end as stb refusing the file.

   stb is built here from the system's header with nothing of pixremap's,
   but with the differences README.md lists under "Where pixremap differs
   from a bare stb_image run" that change pixels:
    - every block stb allocates, and every local variable, starts out
      zeroed (the allocation macros below, and -ftrivial-auto-var-init=zero
      in CMakeLists.txt), so a short palette or a truncated file gives
      zeros rather than what memory held;
    - a 16-bit PGM or PPM keeps each sample's high byte, the byte the file
      stores first (stb_image 2.27 keeps the low one on little-endian
      machines);
    - an image without pixels or with a channel count outside 1 to 4 is a
      refusal.
   (The OS/2 bitmap palette, which stb_image 2.27 reads short, is left to
   the test, which holds those files to a second decoder.) */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void *oracle_realloc(void *p, size_t old_size, size_t new_size)
{
    unsigned char *grown = realloc(p, new_size);
    if (grown && new_size > old_size)
        memset(grown + old_size, 0, new_size - old_size);
    return grown;
}

#define STBI_MALLOC(size) calloc(1, size)
#define STBI_REALLOC_SIZED(p, old_size, new_size) oracle_realloc(p, old_size, new_size)
#define STBI_FREE(p) free(p)
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include "stb_image.h"

/* A binary PGM or PPM of more than 8 bits a sample. */
static int is_16_bit_pnm(const char *path)
{
    unsigned char magic[2] = {0, 0};
    FILE *f = fopen(path, "rb");
    if (!f)
        return 0;
    const size_t got = fread(magic, 1, 2, f);
    fclose(f);
    return got == 2 && magic[0] == 'P' && (magic[1] == '5' || magic[1] == '6') && stbi_is_16_bit(path);
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: stb_oracle IMAGE\n");
        return 2;
    }
    const int wide = is_16_bit_pnm(argv[1]);
    int w = 0, h = 0, c = 0;
    unsigned char *pixels = wide ? (unsigned char *)stbi_load_16(argv[1], &w, &h, &c, 0)
                                 : stbi_load(argv[1], &w, &h, &c, 0);
    if (!pixels) {
        fprintf(stderr, "%s\n", stbi_failure_reason());
        return 1;
    }
    if (w <= 0 || h <= 0 || c < 1 || c > 4) {
        fprintf(stderr, "an image of %dx%d pixels and %d channels\n", w, h, c);
        return 1;
    }
    const size_t samples = (size_t)w * (size_t)h * (size_t)c;
    if (wide)
        for (size_t i = 0; i < samples; ++i)
            pixels[i] = pixels[2 * i];
    printf("%d %d %d\n", w, h, c);
    fwrite(pixels, 1, samples, stdout);
    stbi_image_free(pixels);
    return fflush(stdout) == 0 ? 0 : 1;
}
