// Memory for large working arrays (image planes, pyramid levels): blocks of 4 MiB
// or more are mapped on their own, start on a 2 MiB boundary, are advised onto
// huge pages and are faulted in ahead, in runs of 4 MiB (shared among the threads
// for blocks of 16 MiB or more).
// A few kernel calls replace one fault per 4 KiB page, which on a virtual machine
// with shadowed page tables costs more than the work done on the page.
#pragma once

#include <cstddef>

// A block of `bytes` (zero bytes when `zeroed`, as calloc gives), or null when the
// memory cannot be had. Free it with free_pages.
void* alloc_pages(size_t bytes, bool zeroed);

// Frees a block from alloc_pages, or any block from malloc (null is ignored).
void free_pages(void* block);

struct FreePages {
    void operator()(void* p) const { free_pages(p); }
};
