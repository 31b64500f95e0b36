// png_deflate_avx2: png_deflate's encode loop with the AVX2 bucket compare
// inlined, compiled with AVX2 for this file alone (png_deflate_x86.h).
#include "arch/x86/png_deflate_x86.h"
#include "png/png_deflate_encode.h"

void png_deflate_encode_avx2(png_deflate *z, std::size_t stop)
{
    encode_with<avx2_bucket_kernels>(z, stop);
}
