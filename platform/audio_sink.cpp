#include "platform/audio_sink.h"

#include <algorithm>

bool ClockedAudioSink::open(int rate, int channels, int bits) {
  if (rate < 1 || channels < 1 || bits != 16) return false;
  rate_ = rate;
  channels_ = channels;
  return true;
}

int ClockedAudioSink::advance(int n) {
  if (!running_ || !ring_ || size_ <= 0 || n <= 0) return 0;
  int done = 0;
  while (done < n) {
    const int at = int(consumed_ % uint64_t(size_));
    const int k = std::min(n - done, size_ - at);
    heard(ring_ + at, k);
    consumed_ += uint64_t(k);
    done += k;
  }
  return done;
}
