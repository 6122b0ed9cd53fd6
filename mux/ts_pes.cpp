#include "mux/ts_pes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/es_data.h"
#include "foundation/mpeg_fields.h"
#include "foundation/trace.h"

namespace {
// An audio PES takes a second frame while the first is under this size.
constexpr int64_t kTwoFramesBelow = 4096;
}  // namespace

bool PESStream::open() {
  const int64_t span = next_span();
  if (span <= 0) return false;
  double pts = 0, dts = 0;
  const int off = es_->next_stamp(span, &pts, &dts);
  header_ = {0x00, 0x00, 0x01, uint8_t(pes_id_), 0x00, 0x00, 0x81, 0x00, 0x00};
  pes_pts_ = -1;
  if (off >= 0) {
    const bool both = both_stamps(pts, dts);
    header_[7] = both ? 0xC0 : 0x80;
    header_[8] = both ? 10 : 5;
    uint8_t f[5];
    encode_pts(pts, f);
    f[0] |= both ? 0x30 : 0x20;
    header_.insert(header_.end(), f, f + 5);
    if (both) {
      encode_pts(dts, f);
      f[0] |= 0x10;
      header_.insert(header_.end(), f, f + 5);
    }
    pes_pts_ = pts;
  }
  append_prefix(&header_, span);
  const int64_t length = int64_t(header_.size()) - 6 + span;
  if (bounded_length() || length <= 0xFFFF) {
    header_[4] = uint8_t(length >> 8);
    header_[5] = uint8_t(length);
  }
  header_at_ = 0;
  pes_left_ = span;
  started_ = false;
  return true;
}

int PESStream::next_payload_bytes(bool pcr) const {
  const int room = pcr ? 176 : 184;
  const int64_t header = int64_t(header_.size() - header_at_);
  return int(std::min<int64_t>(room, header + pes_left_) - std::min<int64_t>(room, header));
}

int PESStream::fill(uint8_t* buf, bool pcr, bool* first) {
  const int room = pcr ? 176 : 184;
  const size_t h = std::min(header_.size() - header_at_, size_t(room));
  std::memcpy(buf, header_.data() + header_at_, h);
  header_at_ += h;
  int n = int(h);
  const int want = int(std::min<int64_t>(room - n, pes_left_));
  if (want > 0) {
    const int got = es_->take(buf + n, want);
    if (got != want) {
      trace("GopTS::emit (ERROR): stream 0x%02x gave %d of %d bytes\n", pes_id_, got, want);
      return -1;
    }
    pes_left_ -= got;
    n += got;
  }
  *first = !started_;
  started_ = true;
  ++packets_;
  if (*first) es_->count_packet();
  sent(buf + h, int(h), n - int(h), *first);
  return n;
}

bool VideoPES::both_stamps(double pts, double dts) const { return std::fabs(pts - dts) >= 0.5; }

void AudioPES::prepare() {
  ES& e = *es();
  if (e.kind() == ES_KIND_LPCM) return;  // no frame headers to model: the packetiser's buffer rules
  const bool is_ac3 = e.kind() == ES_KIND_AC3;
  int samples = is_ac3 ? 1536 : 1152;
  if (!is_ac3 && e.sample_rate() > 0 && e.unit_duration() > 0)
    samples = int(std::lround(e.unit_duration() * e.sample_rate() / 90000.0));
  tstd_ = std::make_unique<AudioTSTD>(is_ac3 ? 9 : 1, e.sample_rate(), e.bit_rate(), samples);
}

int64_t AudioPES::next_span() const {
  // Linear PCM: three 1/600 s units, the 5 ms a Blu-ray player expects per PES.
  if (es()->kind() == ES_KIND_LPCM) {
    const int64_t three = es()->unit_span(3);
    return three > 0 ? three : es()->unit_span(1);
  }
  const int64_t one = es()->unit_span(1);
  if (one > 0 && one < kTwoFramesBelow) {
    const int64_t two = es()->unit_span(2);
    if (two > 0) return two;
  }
  return one;
}

int64_t AudioPES::room(double t) {
  const int64_t r = es()->room(t);
  return tstd_ ? std::min<int64_t>(r, tstd_->room(t)) : r;
}

// Linear PCM carries a header in front of each PES payload: its size, the
// channel layout (3 = stereo) with the rate code (1 = 48 kHz, 4 = 96 kHz),
// and the sample width (1 = 16 bits) in bits 7-6.
void AudioPES::append_prefix(std::vector<uint8_t>* header, int64_t span) const {
  if (es()->kind() != ES_KIND_LPCM) return;
  const int rate_code = es()->sample_rate() == 96000 ? 4 : 1;
  header->insert(header->end(), {uint8_t(span >> 8), uint8_t(span), uint8_t(0x30 | rate_code), 0x40});
}

void AudioPES::sent(const uint8_t* payload, int header_bytes, int payload_bytes, bool first) {
  if (tstd_) tstd_->add_packet(payload, payload_bytes, header_bytes, first ? pes_pts_ : -1);
}
