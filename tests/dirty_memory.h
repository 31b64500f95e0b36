// dirty_memory: fills memory that code about to run could find
// uninitialised with a chosen byte, so that two runs with different bytes
// show whether anything read it. Used by the determinism test's helper and
// by the fuzz target.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

// Fills a megabyte of stack below the caller's frame. Call it from the
// function that makes the call under test, just before that call: the
// callee's frames then land on the filled memory.
[[gnu::noinline]] inline void dirty_stack(unsigned char pattern)
{
    unsigned char below[1 << 20];
    std::memset(below, pattern, sizeof below);
    // The compiler must believe the bytes are used, or it drops the fill.
    asm volatile("" : : "r"(below) : "memory");
}

// Allocates, fills and frees heap blocks of many sizes below the size that
// glibc serves from fresh mappings, so that later allocations of those sizes
// reuse filled memory. (MALLOC_PERTURB_ in the environment makes glibc fill
// every block it hands out and takes back, besides.)
inline void dirty_heap(unsigned char pattern)
{
    std::vector<void *> blocks;
    for (std::size_t size = 16; size <= (64u << 10); size += size / 2)
        for (int copies = 0; copies < 8; ++copies) {
            void *block = std::malloc(size);
            if (block)
                blocks.push_back(std::memset(block, pattern, size));
        }
    for (void *block : blocks)
        std::free(block);
}
