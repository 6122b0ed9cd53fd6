#include "app/editor/frame_slot.h"

#include <cstdlib>

void FrameSlot::store(const BitmapInfo* header, const uint8_t* bits, int frame) {
  if (!header || !bits) return;
  const int w = header->header.biWidth, h = std::abs(int(header->header.biHeight));
  const int depth = header->header.biBitCount;
  if (w <= 0 || h <= 0 || (depth != 8 && depth != 16 && depth != 24)) return;
  const size_t bytes = size_t(bmp_get_bytes_per_line(depth, w)) * size_t(h);
  std::lock_guard<std::mutex> g(lock_);
  picture_.header = *header;
  picture_.bits.assign(bits, bits + bytes);
  picture_.frame = frame;
  picture_.valid = true;
}

void FrameSlot::clear() {
  std::lock_guard<std::mutex> g(lock_);
  picture_ = Picture();
}

FrameSlot::Picture FrameSlot::get() const {
  std::lock_guard<std::mutex> g(lock_);
  return picture_;
}

int FrameSlot::frame() const {
  std::lock_guard<std::mutex> g(lock_);
  return picture_.frame;
}
