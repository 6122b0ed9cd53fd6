#include "picture/plane_memory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kPage = 4096;
// Below this a buffer is left to the heap, which reuses its memory anyway.
constexpr size_t kPoolMin = size_t{256} << 10;
// *how: 0 for calloc, the length of the buffer's own mapping (a page
// multiple), or a pooled buffer's length plus this mark.
constexpr size_t kFromHeap = 0;
constexpr size_t kPoolMark = 1;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPoolOn = false;  // keep heap buffers, which the sanitizer guards
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPoolOn = false;
#else
constexpr bool kPoolOn = true;
#endif
#else
constexpr bool kPoolOn = true;
#endif

// n bytes (a multiple of the page) of zero pages on a huge-page boundary,
// offered huge pages and faulted in at once: what is not a whole huge page
// (the tail of a 1080-line picture, or all of it when the kernel has no
// huge page free) would otherwise take a trap per 4 kB page on first
// touch. Null when the mapping fails.
uint8_t* map_huge(size_t n) {
#ifdef MADV_HUGEPAGE
  void* p = ::mmap(nullptr, n + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  const uintptr_t raw = reinterpret_cast<uintptr_t>(p);
  const uintptr_t start = (raw + kHugePage - 1) & ~(kHugePage - 1);
  if (start > raw) ::munmap(p, start - raw);
  const size_t tail = raw + n + kHugePage - (start + n);
  if (tail) ::munmap(reinterpret_cast<void*>(start + n), tail);
  ::madvise(reinterpret_cast<void*>(start), n, MADV_HUGEPAGE);  // advice only: failure is harmless
#ifdef MADV_POPULATE_WRITE
  ::madvise(reinterpret_cast<void*>(start), n, MADV_POPULATE_WRITE);  // older kernels: faults on touch
#endif
  return reinterpret_cast<uint8_t*>(start);
#else
  (void)n;
  return nullptr;
#endif
}

// Huge-page chunks cut into buffers from the front. A freed buffer waits
// for another of its size (a stream's frames all have one size); a chunk
// whose buffers are all free is unmapped, so pictures of sizes no longer
// used hold no memory.
class Pool {
 public:
  uint8_t* take(size_t n) {
    if (uint8_t* p = reuse(n)) {
      std::memset(p, 0, n);  // zeroed as fresh memory is, outside the lock
      return p;
    }
    if (uint8_t* p = carve(n)) return p;
    uint8_t* base = map_huge(kHugePage);  // outside the lock: faulting 2 MB in takes a while
    if (!base) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    chunks_.push_back({base, n, 1});
    return base;
  }

  // n bytes from the free end of a chunk; null when none has room.
  uint8_t* carve(size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Chunk& c : chunks_) {
      if (kHugePage - c.used < n) continue;
      uint8_t* p = c.base + c.used;
      c.used += n;
      ++c.live;
      return p;
    }
    return nullptr;
  }

  // A waiting buffer of n bytes, taken; null when none waits.
  uint8_t* reuse(size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < free_.size(); ++i) {
      if (free_[i].size != n) continue;
      uint8_t* p = free_[i].p;
      free_[i] = free_.back();
      free_.pop_back();
      ++chunk_of(p)->live;
      return p;
    }
    return nullptr;
  }

  void give_back(uint8_t* p, size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    Chunk* c = chunk_of(p);
    if (!c) return;
    if (--c->live > 0) {
      free_.push_back({p, n});
      return;
    }
    // The chunk's last buffer: drop the chunk and its waiting buffers.
    const uint8_t* base = c->base;
    for (size_t i = free_.size(); i-- > 0;) {
      if (free_[i].p >= base && free_[i].p < base + kHugePage) {
        free_[i] = free_.back();
        free_.pop_back();
      }
    }
    ::munmap(c->base, kHugePage);
    *c = chunks_.back();
    chunks_.pop_back();
  }

  int chunks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(chunks_.size());
  }

 private:
  struct Chunk {
    uint8_t* base;
    size_t used;
    int live;  // buffers handed out and not given back
  };
  struct Free {
    uint8_t* p;
    size_t size;
  };

  Chunk* chunk_of(const uint8_t* p) {
    for (Chunk& c : chunks_)
      if (p >= c.base && p < c.base + kHugePage) return &c;
    return nullptr;
  }

  std::mutex mutex_;
  std::vector<Chunk> chunks_;
  std::vector<Free> free_;
};

Pool& pool() {
  static Pool* p = new Pool;  // never destroyed: frames may outlive static destruction
  return *p;
}

size_t pooled_size(size_t n) { return (n + kPage - 1) & ~(kPage - 1); }

}  // namespace

uint8_t* planes_alloc(size_t n, size_t* how) {
  *how = kFromHeap;
  if (n >= kHugePage) {
    const size_t len = pooled_size(n);
    if (uint8_t* p = map_huge(len)) {
      *how = len;
      return p;
    }
  } else if (kPoolOn && n >= kPoolMin) {
    const size_t len = pooled_size(n);
    if (uint8_t* p = pool().take(len)) {
      *how = len | kPoolMark;
      return p;
    }
  }
  return static_cast<uint8_t*>(std::calloc(n, 1));
}

void planes_free(uint8_t* p, size_t how) {
  if (!p) return;
  if (how == kFromHeap) {
    std::free(p);
  } else if (how & kPoolMark) {
    pool().give_back(p, how & ~kPoolMark);
  } else {
    ::munmap(p, how);
  }
}

int planes_pool_chunks() { return pool().chunks(); }
