// The shown picture handed from whoever moved the editor (the playback
// thread or the user-interface thread) to the painting code: a copy of the
// display bitmap, so painting never calls the editor. The copy is made
// outside the lock and only a pointer changes hands under it, so a paint
// and a store never wait on each other's copying.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "picture/bmp.h"

class FrameSlot {
 public:
  struct Picture {
    BitmapInfo header{};
    std::vector<uint8_t> bits;
    int frame = -1;
    bool valid = false;
  };

  // Copies the bitmap (nothing for a null one or a non-positive size).
  void store(const BitmapInfo* header, const uint8_t* bits, int frame);
  void clear();
  // The last stored picture, shared: it stays as it is while held.
  std::shared_ptr<const Picture> latest() const;
  // A copy of the last stored picture.
  Picture get() const;
  int frame() const;

 private:
  mutable std::mutex lock_;
  std::shared_ptr<const Picture> picture_;
};
