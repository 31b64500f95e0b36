/* stb: compiles stb_image and stb_image_write into pixremap from the headers
   the system installs, with every format and the libraries' default limits.
   The decoder's failure reasons are its messages meant for users ("Corrupt
   JPEG") rather than its terse internal ones. */
#define STBI_FAILURE_USERMSG
#define STB_IMAGE_IMPLEMENTATION
#include "stb_image.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"
