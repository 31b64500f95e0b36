/* stb_write: see stb_write.h. */
#include "stb_write.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"

unsigned char *reference_png(const unsigned char *pixels, int width, int height, int channels,
                             int *size)
{
    return stbi_write_png_to_mem(pixels, 0, width, height, channels, size);
}

unsigned char *reference_zlib(const unsigned char *data, int length, int *size)
{
    return stbi_zlib_compress((unsigned char *)data, length, size, stbi_write_png_compression_level);
}
