/* stock: pixremap's job done the plain way, as a baseline for the whole-run
   figures: stbi_load, the two maps in a plain loop, and stbi_write_png for
   each output, stb compiled here at the build's optimisation with nothing
   added (no confinement, no hooks, no checks of the writes). Never install
   it; it is not safe on hostile files.

       stock IMAGE */
#include <stdio.h>

#define STB_IMAGE_IMPLEMENTATION
#include "stb_image.h"
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"

static unsigned char digit_remap(unsigned char v)
{
    return (unsigned char)(1000u * (v % 10u) + 100u * (v / 10u % 10u) + 10u * (v / 100u));
}

static unsigned char bit_remap(unsigned char v)
{
    unsigned r = v;
    r = (r & 0xF0u) >> 4 | (r & 0x0Fu) << 4;
    r = (r & 0xCCu) >> 2 | (r & 0x33u) << 2;
    r = (r & 0xAAu) >> 1 | (r & 0x55u) << 1;
    return (unsigned char)(r << 1);
}

static void remap(unsigned char *data, size_t pixels, int channels, unsigned char (*map)(unsigned char))
{
    const int colour = channels >= 3 ? 3 : 1;
    for (size_t p = 0; p < pixels; ++p, data += channels)
        for (int c = 0; c < colour; ++c)
            data[c] = map(data[c]);
}

int main(int argc, char **argv)
{
    int w = 0, h = 0, c = 0;
    unsigned char *data = stbi_load(argc > 1 ? argv[1] : "default.png", &w, &h, &c, 0);
    if (!data) {
        fprintf(stderr, "stock: cannot read: %s\n", stbi_failure_reason());
        return 1;
    }
    const size_t pixels = (size_t)w * (size_t)h;
    remap(data, pixels, c, digit_remap);
    stbi_write_png("outfirst.png", w, h, c, data, 0);
    remap(data, pixels, c, bit_remap);
    stbi_write_png("outsecond.png", w, h, c, data, 0);
    stbi_image_free(data);
    return 0;
}
