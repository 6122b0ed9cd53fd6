// The shown picture handed from whoever moved the editor (the playback
// thread or the user-interface thread) to the painting code: a copy of the
// display bitmap taken under a lock, so painting never calls the editor.
#pragma once

#include <cstdint>
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
  // A copy of the last stored picture.
  Picture get() const;
  int frame() const;

 private:
  mutable std::mutex lock_;
  Picture picture_;
};
