/* codec: stb_image as pixremap uses it, compiled into the tool by stb.c
   from the header the system installs.

   Three things are added around the library:
    - Every block the library allocates is zero-filled, so an image that is
      cut short decodes to zeros beyond its data, never to whatever the
      memory held before.
    - The live total of those blocks can be capped with codec_limit_memory;
      a request past the cap fails as running out of memory does, and the
      decoder reports "Out of memory".
    - A failed internal check of the library ends that call as a failure
      and frees what the call had allocated, instead of aborting the process
      or going on with bad state.

   The cap and the record of live blocks are the only state of their kind in
   pixremap: the library's allocation hooks take no context, so this unit
   keeps them. Calls are for one thread at a time. */
#pragma once

#include <stddef.h>

#include "stb_image.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Caps the bytes the library may hold at once; a cap past what the
   address space can hold (on a 32-bit machine, 4 GiB or more) is no cap,
   and neither is the start value. */
void codec_limit_memory(unsigned long long bytes);

/* The most bytes the library has held at once since the last
   codec_reset_peak (or since the start). */
size_t codec_peak_memory(void);
void codec_reset_peak(void);

/* What the image in the first `size` bytes of a file declares: width,
   height, channels and bytes per sample (1, 2 for 16-bit files, 4 for
   Radiance HDR, which decodes through floats). 0 when the decoder can't tell
   from those bytes. */
int codec_info(const unsigned char *head, size_t size, int *width, int *height,
               int *channels, int *sample_bytes);

/* Decodes the whole image from the callbacks: 8-bit samples, or 16-bit ones
   when `wide`; `samples_per_pixel` of them a pixel, or, when it is 0, the
   file's own channel count. *channels is set to the file's own count either
   way. Returns the pixels, to be freed with codec_free, or NULL with *reason
   set to the decoder's message. */
void *codec_decode(const stbi_io_callbacks *io, void *user, int wide, int samples_per_pixel,
                   int *width, int *height, int *channels, const char **reason);

void codec_free(void *pixels);

#ifdef __cplusplus
}
#endif
