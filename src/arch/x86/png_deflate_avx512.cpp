// png_deflate_avx512: png_deflate's encode loop with the AVX-512 bucket
// compare inlined, compiled with AVX-512 for this file alone
// (png_deflate_x86.h).
#include "arch/x86/png_deflate_x86.h"
#include "png/png_deflate_encode.h"

void png_deflate_encode_avx512(png_deflate *z, std::size_t stop)
{
    encode_with<avx512_bucket_kernels>(z, stop);
}
