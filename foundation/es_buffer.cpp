#include "foundation/es_buffer.h"

#include <cstdlib>
#include <cstring>

#include "foundation/trace.h"

namespace {
uint8_t* alloc_zeroed(uint32_t n) { return static_cast<uint8_t*>(std::calloc(size_t(n) + 32, 1)); }
}  // namespace

ESBuffer::ESBuffer(uint32_t capacity) {
  if (capacity == 0) capacity = 32768;
  data = alloc_zeroed(capacity);
  size = data ? capacity : 0;
  clear();
}

ESBuffer::~ESBuffer() { std::free(data); }

void ESBuffer::clear() {
  bytes = 0;
  first_frame = 0;
  rd = wr = data;
  wrap = data ? data + size : nullptr;
}

uint32_t ESBuffer::resize(uint32_t n) {
  if (n == 0) n = size ? size * 2 : 16384;
  if (n <= size) return size;
  // 1.25 x the request, in whole 16 KiB blocks, computed wide so a huge
  // request cannot wrap.
  uint64_t want = (uint64_t(n) * 5 / 4 + 16383) / 16384 * 16384;
  uint32_t new_size = want > 0xFFFFFFDFull ? n : uint32_t(want);
  if (new_size < n) {
    trace("ERROR (ESBuffer::resize): integer arithmetic overflow\n    %d ==> %d\n", int(n), int(new_size));
    new_size = n;
  }
  uint8_t* p = alloc_zeroed(new_size);
  if (!p) return size;
  int held = bytes;
  if (held > 0) peek(p, held);
  std::free(data);
  data = p;
  size = new_size;
  wrap = data + size;
  rd = data;
  wr = data + held;
  bytes = held;
  return size;
}

int ESBuffer::write(const uint8_t* src, int n) {
  if (!src || n <= 0) return 0;
  if (uint64_t(size) - uint64_t(bytes) < uint64_t(n)) {
    resize(uint32_t(bytes + n));
    if (uint64_t(size) - uint64_t(bytes) < uint64_t(n)) return 0;
  }
  if (wr >= wrap) wr = data;
  int first = int(wrap - wr) < n ? int(wrap - wr) : n;
  std::memcpy(wr, src, size_t(first));
  if (first < n) {
    std::memcpy(data, src + first, size_t(n - first));
    wr = data + (n - first);
  } else {
    wr += first;
  }
  bytes += n;
  return n;
}

int ESBuffer::peek(uint8_t* dst, int n) const {
  if (!dst || n <= 0 || bytes <= 0 || !data) return 0;
  if (n > bytes) n = bytes;
  const uint8_t* p = rd >= wrap ? data : rd;
  int first = int(wrap - p) < n ? int(wrap - p) : n;
  std::memcpy(dst, p, size_t(first));
  if (first < n) std::memcpy(dst + first, data, size_t(n - first));
  return n;
}

int ESBuffer::skip(int n) {
  if (n <= 0 || bytes <= 0) return 0;
  if (n > bytes) n = bytes;
  if (rd >= wrap) rd = data;
  int first = int(wrap - rd);
  rd = n < first ? rd + n : data + (n - first);
  bytes -= n;
  return n;
}

int ESBuffer::read(uint8_t* dst, int n) {
  int got = peek(dst, n);
  return skip(got);
}

void ESBuffer::set_bytes(int n) {
  if (n < 0) n = 0;
  if (uint32_t(n) > size) {
    trace("ERROR (ESBuffer::set_bytes): bytes=%d > %d=size\n", n, int(size));
    n = int(size);
  }
  bytes = n;
  rd = data;
  wr = data + n;
  wrap = data + n;
}

void ESBuffer::discard_front(int n) {
  if (n <= 0) return;
  if (n >= bytes) {
    clear();
    return;
  }
  // The owner keeps the bytes contiguous from the storage start.
  int left = bytes - n;
  std::memmove(data, rd + n, size_t(left));
  bytes = left;
  first_frame = 0;
  rd = data;
  wr = data + left;
  wrap = data + size;
}
