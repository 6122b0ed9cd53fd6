// The time-stamp table of a transport stream: where the audio time stamps
// jump back (recordings joined one after another), and the correction that
// makes the times of each later part follow on from the parts before it.
// Built at every open from a few dozen probes of the audio PTS, so a file
// of any size opens in about the same time.
#include <algorithm>
#include <cmath>

#include "demux/transport_demuxer.h"
#include "foundation/trace.h"

namespace {

constexpr int kSamples = 32;
constexpr uint64_t kLinearScan = 2u << 20;  // bytes searched packet by packet

}  // namespace

double DeMuxerTransport::audio_ticks_of(int payload_bytes) const {
  const int i = pid_index(audio_pid_);
  if (i < 0 || payload_bytes <= 0) return 0.0;
  const ESData& r = st_.es_data[size_t(i)];
  const int frame = r.get_audio_frame_size();
  const double fd = r.get_audio_frame_duration();
  if (frame <= 0 || fd <= 0) return 0.0;
  return std::round(double(payload_bytes) / frame) * fd * 90000.0;
}

double DeMuxerTransport::timestamp_table_length() const {
  double total = 0.0;
  for (const TimeStampPart& p : tstable_) total += p.end_pts - p.start_pts;
  return total / 90000.0;
}

double DeMuxerTransport::lookup_offset_table(FileOffset offset) const {
  if (tstable_.size() < 2) return 0.0;
  double c = 0.0;
  for (size_t i = 1; i < tstable_.size(); ++i) {
    if (tstable_[i].offset.greater(offset)) break;
    c = tstable_[i].correction;
  }
  return c;
}

double DeMuxerTransport::scan_audio_pts(FileOffset from, FileOffset limit, FileOffset* at) {
  goto_offset(from);
  while (current_offset().less(limit)) {
    if (read_packet()) {
      if (!step_over_bad_packet()) break;
      continue;
    }
    if (packet_.PID == audio_pid_ && packet_.payload_unit_start_indicator && decode_pes_header() == 0 &&
        pes_.pts_flag) {
      if (at) *at = current_offset();
      return pes_.pts;
    }
    advance_packet();
  }
  return kNoTime;
}

// The reset between two probes: a lies before it, b behind it (b's PTS is
// below a's). Fills the offset where the later part starts, the last audio
// PTS before it and the first one behind it; false when none was found.
bool DeMuxerTransport::find_reset(FileOffset a, double a_pts, FileOffset b, FileOffset* join, double* end_pts,
                                  double* start_pts) {
  const double ticks_per_byte = st_.bit_rate > 0 ? 90000.0 * 8.0 / st_.bit_rate : 0.0;
  // Halve the range while it is long: a probe whose PTS follows on from
  // a's at about the stream's rate still belongs to a's part.
  for (int guard = 0; guard < 64 && b.value() - a.value() > kLinearScan; ++guard) {
    const FileOffset mid = FileOffset::from_u64(a.value() + (b.value() - a.value()) / 2);
    FileOffset at;
    const double p = scan_audio_pts(mid, b, &at);
    if (p <= kNoTime) break;
    const double span = double(at.value() - a.value()) * ticks_per_byte;
    if (p >= a_pts && (ticks_per_byte <= 0 || p - a_pts <= 2 * span + 90000.0)) {
      a = at;
      a_pts = p;
    } else {
      b = at;
    }
  }
  // Packet by packet: the first audio PES whose PTS is below the one before.
  goto_offset(a);
  double prev = a_pts;
  int prev_len = 0;
  FileOffset reset;
  bool found = false;
  const uint64_t stop = b.value() + kLinearScan;
  while (current_offset().value() < stop) {
    if (read_packet()) {
      if (!step_over_bad_packet()) break;
      continue;
    }
    if (packet_.PID == audio_pid_ && packet_.payload_unit_start_indicator && decode_pes_header() == 0 &&
        pes_.pts_flag) {
      if (pes_.pts < prev) {
        reset = current_offset();
        *start_pts = pes_.pts;
        found = true;
        break;
      }
      prev = pes_.pts;
      prev_len = pes_.payload_length;
    }
    advance_packet();
  }
  if (!found) return false;
  // The part ends where its last audio PES stops playing.
  *end_pts = prev + audio_ticks_of(prev_len);
  // The later part may start with other streams: the first PES of any
  // stream whose PTS falls back by more than half a second marks the join.
  *join = reset;
  const uint64_t back = std::min<uint64_t>(reset.value(), kLinearScan);
  goto_offset(FileOffset::from_u64(reset.value() - back));
  std::vector<FirstPts> last;
  while (current_offset().less(reset)) {
    if (read_packet()) {
      if (!step_over_bad_packet()) break;
      continue;
    }
    if (packet_.payload_unit_start_indicator && pid_index(packet_.PID) >= 0 && decode_pes_header() == 0 &&
        pes_.pts_flag) {
      auto it = std::find_if(last.begin(), last.end(), [&](const FirstPts& f) { return f.pid == packet_.PID; });
      if (it == last.end()) {
        last.push_back({packet_.PID, pes_.pts});
      } else {
        if (pes_.pts < it->pts - 45000.0) {
          *join = current_offset();
          break;
        }
        it->pts = pes_.pts;
      }
    }
    advance_packet();
  }
  return true;
}

void DeMuxerTransport::build_timestamp_table() {
  tstable_.clear();
  if (audio_pid_ == kNoPid || !src_.file) return;
  const uint64_t size = src_.size.value();
  const uint64_t probe = std::max<uint64_t>(1u << 20, uint64_t(std::max(st_.bit_rate, 0)) / 4);
  struct Sample {
    FileOffset at;
    double pts;
  };
  std::vector<Sample> samples;
  for (int k = 0; k <= kSamples; ++k) {
    uint64_t from = size / kSamples * uint64_t(k);
    if (k == kSamples) from = size > probe ? size - probe : 0;
    FileOffset at;
    const double p = scan_audio_pts(FileOffset::from_u64(from), FileOffset::from_u64(std::min(size, from + probe)), &at);
    if (p > kNoTime && (samples.empty() || at.greater(samples.back().at))) samples.push_back({at, p});
  }
  if (samples.size() < 2) return;
  bool resets = false;
  for (size_t i = 1; i < samples.size(); ++i)
    if (samples[i].pts < samples[i - 1].pts) resets = true;
  if (!resets) return;

  tstable_.push_back({FileOffset(0u), samples[0].pts, samples[0].pts, 0.0});
  for (size_t i = 1; i < samples.size(); ++i) {
    if (samples[i].pts >= samples[i - 1].pts) continue;
    FileOffset join;
    double end_pts = 0, start_pts = 0;
    if (!find_reset(samples[i - 1].at, samples[i - 1].pts, samples[i].at, &join, &end_pts, &start_pts)) continue;
    tstable_.back().end_pts = end_pts;
    tstable_.push_back({join, start_pts, start_pts, 0.0});
  }
  // The last part ends with the last audio PTS of the file.
  FileOffset at = samples.back().at;
  double last = samples.back().pts;
  int last_len = 0;
  goto_offset(at);
  while (true) {
    if (read_packet()) {
      if (!step_over_bad_packet()) break;
      continue;
    }
    if (packet_.PID == audio_pid_ && packet_.payload_unit_start_indicator && decode_pes_header() == 0 &&
        pes_.pts_flag && pes_.pts >= tstable_.back().start_pts && pes_.pts >= last) {
      last = pes_.pts;
      last_len = pes_.payload_length;
    }
    advance_packet();
  }
  tstable_.back().end_pts = last + audio_ticks_of(last_len);
  if (tstable_.size() < 2) {
    tstable_.clear();
    return;
  }
  // Each part follows on where the one before it ended; entry 0 keeps its
  // span in the correction word.
  double running = tstable_[0].end_pts;
  tstable_[0].correction = tstable_[0].end_pts - tstable_[0].start_pts;
  for (size_t i = 1; i < tstable_.size(); ++i) {
    tstable_[i].correction = running - tstable_[i].start_pts;
    running += tstable_[i].end_pts - tstable_[i].start_pts;
  }
  // Times now run on across the joins: frame numbers follow them.
  m_.pts_timing = 1;
  trace("DeMuxerTransport::build_timestamp_table (): %zu parts, %.3f s\n", tstable_.size(), timestamp_table_length());
}
