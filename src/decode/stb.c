/* stb: compiles stb_image into pixremap from the header the system
   installs, with every format and the library's default limits, and with
   the hooks described in codec.h. The decoder's failure reasons are its
   messages meant for users ("Corrupt JPEG") rather than its terse internal
   ones. */
#define _GNU_SOURCE /* mremap */
#include "decode/codec.h"

#include <setjmp.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

/* Each block carries a header: its size, for the cap and for zero-filling
   what realloc adds, and its place in the list of live blocks, so that a
   call ended by a failed check can free what it allocated. */
typedef struct block {
    struct block *prev, *next;
    size_t size;
    unsigned generation; /* the call that allocated it */
    int mapped;          /* a mapping of its own (see map_block) */
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

/* Blocks of a MiB or more are mappings of their own. The kernel hands
   their pages over zeroed as they are first touched, so nothing is cleared
   by hand, which would touch (and fault in) every page at once, even those
   of a growing buffer that are never filled; realloc moves them with
   mremap instead of copying; and they are offered as huge pages, a fault
   per 2 MiB rather than per page, where the kernel has them. Where no
   mapping can be made (s390x's decoder, whose filter refuses mmap) they
   come from calloc, as smaller blocks do. */
#define MAPPED_SIZE ((size_t)1 << 20)

static void offer_huge_pages(void *p, size_t size)
{
#ifdef MADV_HUGEPAGE
    madvise(p, size, MADV_HUGEPAGE); /* a hint; may be refused */
#else
    (void)p, (void)size;
#endif
}

static block *map_block(size_t size)
{
    void *p = mmap(NULL, HEADER_SIZE + size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return NULL;
    offer_huge_pages(p, HEADER_SIZE + size);
    block *b = (block *)p;
    b->mapped = 1;
    return b;
}

/* Bytes from `from` to the end of its page: what a mapping kept past a
   block's end when it shrank, which growing it again must clear. */
static size_t to_page_end(uintptr_t from)
{
    const uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
    return (size_t)((page - from % page) % page);
}

static void *codec_malloc(size_t size)
{
    block *b = NULL;
    if (fits(size)) {
        if (size >= MAPPED_SIZE)
            b = map_block(size);
        if (!b)
            b = (block *)calloc(1, HEADER_SIZE + size);
    }
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
    if (b->mapped)
        munmap(b, HEADER_SIZE + b->size);
    else
        free(b);
}

/* A block grown (or cut) to `size`: a mapped one moved by the kernel, with
   what lies past its old end in its last page cleared; one from malloc
   grown past MAPPED_SIZE copied into a mapping; any other by realloc, what
   it adds cleared. Null where there is no room; b is then as it was. */
static block *resize_block(block *b, size_t size)
{
    const size_t old = b->size;
    if (b->mapped) {
        void *moved = mremap(b, HEADER_SIZE + old, HEADER_SIZE + size, MREMAP_MAYMOVE);
        if (moved == MAP_FAILED)
            return NULL;
        if (size > old) {
            char *end = (char *)moved + HEADER_SIZE + old;
            const size_t kept = to_page_end((uintptr_t)end);
            memset(end, 0, kept < size - old ? kept : size - old);
            offer_huge_pages(moved, HEADER_SIZE + size);
        }
        return (block *)moved;
    }
    if (size >= MAPPED_SIZE) {
        block *mapped = map_block(size);
        if (mapped) {
            memcpy(payload_of(mapped), payload_of(b), old < size ? old : size);
            free(b);
            return mapped;
        }
    }
    block *moved = (block *)realloc(b, HEADER_SIZE + size);
    if (moved && size > old)
        memset((char *)payload_of(moved) + old, 0, size - old);
    return moved;
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
    block *moved = resize_block(b, size);
    if (!moved) {
        link_block(b);
        refused = 1;
        return NULL;
    }
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
