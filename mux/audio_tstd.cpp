#include "mux/audio_tstd.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/ac3.h"
#include "foundation/audio_header.h"
#include "foundation/trace.h"

namespace {
constexpr int kMpegAudioBuffer = 2848;
constexpr int kAc3Buffer = 2592;
}  // namespace

AudioTSTD::AudioTSTD(int kind, int sample_rate, int bit_rate, int samples_per_frame)
    : kind_(kind), size_(kind == 9 ? kAc3Buffer : kMpegAudioBuffer) {
  const int rate = std::max(sample_rate, 1);
  const int samples = samples_per_frame > 0 ? samples_per_frame : (kind == 9 ? 1536 : 1152);
  frame_ticks_ = double(samples) * 90000.0 / rate;
  nominal_ = int(std::lround(double(samples) / rate * std::max(bit_rate, 0) / 8.0));
  assembly_.reserve(kAssemblyBytes);
}

int AudioTSTD::frame_size(const uint8_t* d, int n) const {
  if (kind_ == 9) {
    if (n < 6 || d[0] != 0x0B || d[1] != 0x77) return -1;
    AC3FrmHdr h;
    if (h.decode_bsi(d, n) != 0) return -1;
    const int s = h.bsi.get_frame_size();
    return s > 0 ? s : -1;
  }
  if (n < 4) return -1;
  FrmHdr h;
  if (h.parse(uint32_t(d[0]) << 24 | uint32_t(d[1]) << 16 | uint32_t(d[2]) << 8 | d[3]) != 0 || h.frame_size <= 0)
    return -1;
  return h.frame_size;
}

int AudioTSTD::add_packet(const uint8_t* payload, int n, int header_bytes, double pts) {
  if (n < 0 || int(assembly_.size()) + n > kAssemblyBytes) {
    trace("ERROR (add_packet): buffer overflow.\n");
    return -1;
  }
  pending_header_ += std::max(header_bytes, 0);
  if (pts >= 0) {
    // The stamp belongs to the first frame starting in this PES: with ours
    // (whole frames) the one the payload starts with.
    next_stamped_ = true;
    last_pts_ = pts;
  }
  assembly_.insert(assembly_.end(), payload, payload + n);
  size_t at = 0;
  int result = 0;
  while (assembly_.size() - at >= 6 || (kind_ != 9 && assembly_.size() - at >= 4)) {
    const int avail = int(assembly_.size() - at);
    const int size = frame_size(assembly_.data() + at, avail);
    if (size < 0) {
      trace("AudioTSTD::add_packet (ERROR): no frame header where one must start\n");
      // Nothing after a broken frame can be placed: drop what is held so the
      // model goes on with the next packet.
      at = assembly_.size();
      result = -1;
      break;
    }
    if (size > avail) break;
    double time = running_;
    if (next_stamped_) {
      if (have_running_ && std::fabs(last_pts_ - running_) >= 1.0) {
        trace("Warning: PTS jump = %.0f <= %.0f - %.0f.\n", last_pts_ - running_, last_pts_, running_);
        ++jumps_;
      }
      time = last_pts_;
      next_stamped_ = false;
    } else if (!have_running_) {
      // Frames before any stamp cannot be placed in time: they leave at once.
      time = clock_;
    }
    have_running_ = true;
    running_ = time + frame_ticks_;
    if (time < clock_) ++late_;
    queue_.push_back({time, size, pending_header_});
    held_ += size + pending_header_;
    pending_header_ = 0;
    at += size_t(size);
  }
  assembly_.erase(assembly_.begin(), assembly_.begin() + std::ptrdiff_t(at));
  return result;
}

void AudioTSTD::advance(double t) {
  clock_ = std::max(clock_, t);
  while (!queue_.empty() && queue_.front().time <= clock_) {
    held_ -= queue_.front().frame_bytes + queue_.front().header_bytes;
    queue_.pop_front();
    ++removed_;
  }
}

int AudioTSTD::room(double t) {
  advance(t);
  return std::max(0, size_ - held_ - pending_header_ - int(assembly_.size()));
}
