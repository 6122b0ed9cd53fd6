#include "app/editor/frame_slot.h"

#include <cstdlib>
#include <utility>

void FrameSlot::store(const BitmapInfo* header, const uint8_t* bits, int frame) {
  if (!header || !bits) return;
  const int w = header->header.biWidth, h = std::abs(int(header->header.biHeight));
  const int depth = header->header.biBitCount;
  if (w <= 0 || h <= 0 || (depth != 8 && depth != 16 && depth != 24)) return;
  const size_t bytes = size_t(bmp_get_bytes_per_line(depth, w)) * size_t(h);
  auto next = std::make_shared<Picture>();
  next->header = *header;
  next->bits.assign(bits, bits + bytes);
  next->frame = frame;
  next->valid = true;
  // The picture replaced is freed after the lock is let go.
  std::shared_ptr<const Picture> old;
  std::lock_guard<std::mutex> g(lock_);
  old = std::exchange(picture_, std::move(next));
}

void FrameSlot::clear() {
  std::shared_ptr<const Picture> old;
  std::lock_guard<std::mutex> g(lock_);
  old = std::move(picture_);
}

std::shared_ptr<const FrameSlot::Picture> FrameSlot::latest() const {
  std::lock_guard<std::mutex> g(lock_);
  if (picture_) return picture_;
  static const std::shared_ptr<const Picture> none = std::make_shared<Picture>();
  return none;
}

FrameSlot::Picture FrameSlot::get() const { return *latest(); }

int FrameSlot::frame() const {
  std::lock_guard<std::mutex> g(lock_);
  return picture_ ? picture_->frame : -1;
}
