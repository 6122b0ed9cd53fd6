#include "foundation/file_offset.h"

void FileOffset::from_double(double x) {
  if (!(x > 0.0)) {  // negative, zero or NaN
    v_ = 0;
    return;
  }
  // 2^64 and above cannot be held; no media file comes near it.
  if (x >= 18446744073709551616.0) {
    v_ = ~static_cast<uint64_t>(0);
    return;
  }
  v_ = static_cast<uint64_t>(x);
}
