// Storage for picture planes. Fresh memory is expensive to touch (a page
// fault per 4 kB page), so plane buffers come from huge pages where they
// can: a buffer of a huge page or more gets its own huge-page-aligned
// mapping, and smaller ones (SD pictures) share 2 MB huge-page chunks, so
// that a decoder's three SD frames cost one fault instead of some 450.
#pragma once

#include <cstddef>
#include <cstdint>

// Zeroed storage of n bytes; null when none can be had. *how records the
// kind of storage for planes_free.
uint8_t* planes_alloc(size_t n, size_t* how);
// Releases what planes_alloc returned (null is ignored).
void planes_free(uint8_t* p, size_t how);

// Chunks the shared pool holds mapped now (for tests).
int planes_pool_chunks();
