/* stb_write: stb_image_write 1.16, compiled from the system's header at its
   defaults, as the reference pixremap's PNG writer is held to byte for byte
   by the tests, the fuzz targets and the benchmarks. The tool itself never
   calls it.

   reference_png(pixels, w, h, c, &size) is stbi_write_png_to_mem: the whole
   PNG file stbi_write_png(name, w, h, c, pixels, 0) would write, in memory
   from malloc (free it with free), or NULL where stb fails.
   reference_zlib(data, length, &size) is stbi_zlib_compress at the PNG
   writer's quality, 8: the zlib stream it puts in the IDAT chunk. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

unsigned char *reference_png(const unsigned char *pixels, int width, int height, int channels,
                             int *size);
unsigned char *reference_zlib(const unsigned char *data, int length, int *size);

#ifdef __cplusplus
}
#endif
