/* stb: compiles stb_image into pixremap from the header the system
   installs, with every format and the library's default limits, and with
   the hooks described in codec.h. The decoder's failure reasons are its
   messages meant for users ("Corrupt JPEG") rather than its terse internal
   ones. */
#include "decode/codec.h"

#include <setjmp.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* Each block carries a header: its size, for the cap and for zero-filling
   what realloc adds, and its place in the list of live blocks, so that a
   call ended by a failed check can free what it allocated. */
typedef struct block {
    struct block *prev, *next;
    size_t size;
    unsigned generation; /* the call that allocated it */
} block;

/* Keeps the payload as aligned as malloc's own. */
#define HEADER_SIZE ((sizeof(block) + 15) / 16 * 16)

static block live = {&live, &live, 0, 0};
static size_t live_bytes, peak_bytes, limit_bytes = (size_t)-1;
static unsigned generation;
static int refused; /* an allocation failed since the last decode began */
static jmp_buf *check_failed; /* where a failed check returns to */

static block *header_of(void *p) { return (block *)((char *)p - HEADER_SIZE); }
static void *payload_of(block *b) { return (char *)b + HEADER_SIZE; }

static int fits(size_t more)
{
    return more <= limit_bytes - live_bytes && more <= (size_t)-1 - HEADER_SIZE;
}

static void count(size_t more, size_t less)
{
    live_bytes = live_bytes - less + more;
    if (live_bytes > peak_bytes)
        peak_bytes = live_bytes;
}

static void link_block(block *b)
{
    b->prev = live.prev;
    b->next = &live;
    live.prev->next = b;
    live.prev = b;
}

static void unlink_block(block *b)
{
    b->prev->next = b->next;
    b->next->prev = b->prev;
}

static void *codec_malloc(size_t size)
{
    block *b = fits(size) ? (block *)calloc(1, HEADER_SIZE + size) : NULL;
    if (!b) {
        refused = 1;
        return NULL;
    }
    b->size = size;
    b->generation = generation;
    link_block(b);
    count(size, 0);
    return payload_of(b);
}

static void codec_release(void *p)
{
    if (!p)
        return;
    block *b = header_of(p);
    unlink_block(b);
    count(0, b->size);
    free(b);
}

static void *codec_realloc(void *p, size_t size)
{
    if (!p)
        return codec_malloc(size);
    block *b = header_of(p);
    const size_t old = b->size;
    if (size > old && !fits(size - old)) {
        refused = 1;
        return NULL;
    }
    unlink_block(b);
    block *moved = (block *)realloc(b, HEADER_SIZE + size);
    if (!moved) {
        link_block(b);
        refused = 1;
        return NULL;
    }
    if (size > old)
        memset((char *)payload_of(moved) + old, 0, size - old);
    moved->size = size;
    link_block(moved);
    count(size, old);
    return payload_of(moved);
}

static void codec_check(int ok)
{
    if (!ok && check_failed)
        longjmp(*check_failed, 1);
}

/* Frees every block allocated by the call that a failed check ended. */
static void release_generation(unsigned which)
{
    block *b = live.next;
    while (b != &live) {
        block *next = b->next;
        if (b->generation == which)
            codec_release(payload_of(b));
        b = next;
    }
}

#define STBI_MALLOC(size) codec_malloc(size)
#define STBI_REALLOC(p, size) codec_realloc(p, size)
#define STBI_FREE(p) codec_release(p)
#define STBI_ASSERT(x) codec_check((x) != 0)
#define STBI_FAILURE_USERMSG
#define STB_IMAGE_IMPLEMENTATION
#include "stb_image.h"

void codec_limit_memory(unsigned long long bytes)
{
    limit_bytes = bytes > (size_t)-1 ? (size_t)-1 : (size_t)bytes;
}

size_t codec_peak_memory(void) { return peak_bytes; }

void codec_reset_peak(void) { peak_bytes = live_bytes; }

/* Runs one library call with failed checks caught: `call` is an expression
   whose value becomes `result`; a failed check frees what the call allocated,
   runs `on_failure` and leaves `failed_value`. `result` is volatile, as
   longjmp asks of what it must keep. */
#define GUARDED(call, failed_value, on_failure)                                           \
    do {                                                                                  \
        jmp_buf here;                                                                     \
        jmp_buf *volatile outer = check_failed;                                           \
        const unsigned mine = ++generation;                                               \
        if (setjmp(here) == 0) {                                                          \
            check_failed = &here;                                                         \
            result = (call);                                                              \
        } else {                                                                          \
            release_generation(mine);                                                     \
            result = (failed_value);                                                      \
            on_failure;                                                                   \
        }                                                                                 \
        check_failed = outer;                                                             \
    } while (0)

int codec_info(const unsigned char *head, size_t size, int *width, int *height,
               int *channels, int *sample_bytes)
{
    const int len = size > INT32_MAX ? INT32_MAX : (int)size;
    volatile int result = 0;
    GUARDED(stbi_info_from_memory(head, len, width, height, channels), 0, (void)0);
    if (!result)
        return 0;
    GUARDED(stbi_is_hdr_from_memory(head, len) ? 4 : stbi_is_16_bit_from_memory(head, len) ? 2 : 1,
            0, (void)0);
    *sample_bytes = result;
    return result != 0;
}

void *codec_decode(const stbi_io_callbacks *io, void *user, int wide, int samples_per_pixel,
                   int *width, int *height, int *channels, const char **reason)
{
    void *volatile result = NULL;
    stbi__g_failure_reason = NULL;
    refused = 0;
    const int n = samples_per_pixel;
    GUARDED(wide ? (void *)stbi_load_16_from_callbacks(io, user, width, height, channels, n)
                 : (void *)stbi_load_from_callbacks(io, user, width, height, channels, n),
            NULL, stbi__g_failure_reason = "the decoder found the file inconsistent");
    /* Some of the library's allocations fail without a reason (its zlib's
       first buffer, for one); a decode that failed after memory was refused
       failed for that. */
    if (!result)
        *reason = stbi__g_failure_reason ? stbi__g_failure_reason
                  : refused              ? "Out of memory"
                                         : "the decoder failed";
    return result;
}

void codec_free(void *pixels) { codec_release(pixels); }
