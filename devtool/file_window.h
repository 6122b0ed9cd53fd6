// A sliding window over a file for the commands that walk frame by frame:
// at() makes the bytes from pos on available, reading again only when fewer
// than want bytes are held (and the file goes on).
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/bsfile.h"

class FileWindow {
 public:
  explicit FileWindow(BSFile& f) : file_(f), size_(f.size().value()), buf_(kCapacity) {}

  uint64_t size() const { return size_; }

  const uint8_t* at(uint64_t pos, size_t want, int* avail) {
    const bool holds_end = base_ + held_ >= size_;
    if (pos < base_ || (pos + want > base_ + held_ && !holds_end)) {
      file_.seek(FileOffset::from_u64(pos), 0);
      base_ = pos;
      held_ = file_.read(buf_.data(), buf_.size());
    }
    const uint64_t end = base_ + held_;
    *avail = pos >= end ? 0 : static_cast<int>(std::min<uint64_t>(end - pos, INT_MAX));
    return buf_.data() + (pos >= end ? 0 : pos - base_);
  }

 private:
  static constexpr size_t kCapacity = 1 << 20;
  BSFile& file_;
  uint64_t size_;
  std::vector<uint8_t> buf_;
  uint64_t base_ = 0;
  size_t held_ = 0;
};
