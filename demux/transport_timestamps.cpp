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
constexpr uint64_t kLinearScan = 1u << 20;  // bytes searched packet by packet

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
  return scan_pts(audio_pid_, from, limit, at);
}

double DeMuxerTransport::scan_pts(int pid, FileOffset from, FileOffset limit, FileOffset* at) {
  goto_offset(from);
  while (current_offset().less(limit)) {
    if (read_packet()) {
      if (!step_over_bad_packet()) break;
      continue;
    }
    if (packet_.PID == pid && packet_.payload_unit_start_indicator && decode_pes_header() == 0 &&
        pes_.pts_flag) {
      if (at) *at = current_offset();
      return pes_.pts;
    }
    advance_packet();
  }
  return kNoTime;
}

// The reset between two probes: a lies before it, b behind it (b's PTS is
// below a's), the last part found starts at floor. Fills the offset where the later part starts, the last audio
// PTS before it and the first one behind it; false when none was found.
bool DeMuxerTransport::find_reset(FileOffset floor, FileOffset a, double a_pts, FileOffset b, double ticks_per_byte,
                                  ResetFound* r) {
  // Halve the range while it is long: a probe whose PTS follows on from
  // a's at about the stream's pace still belongs to a's part.
  for (int guard = 0; guard < 64 && b.value() - a.value() > kLinearScan; ++guard) {
    const FileOffset mid = FileOffset::from_u64(a.value() + (b.value() - a.value()) / 2);
    FileOffset at;
    const double p = scan_audio_pts(mid, b, &at);
    if (p <= kNoTime) break;
    const double span = double(at.value() - a.value()) * ticks_per_byte;
    const double slack = std::max(0.25 * span, 180000.0);
    if (p >= a_pts && (ticks_per_byte <= 0 || std::fabs(p - a_pts - span) <= slack)) {
      a = at;
      a_pts = p;
    } else {
      b = at;
    }
  }
  // Packet by packet: the first audio PES whose PTS is below the one before.
  goto_offset(a);
  const FileOffset from = current_offset();
  double prev = a_pts;
  int prev_len = 0;
  FileOffset reset;
  bool found = false;
  const uint64_t stop = b.value() + 1;  // b's own PES may be the first of the next part
  while (current_offset().value() < stop) {
    if (read_packet()) {
      if (!step_over_bad_packet()) break;
      continue;
    }
    if (packet_.PID == audio_pid_ && packet_.payload_unit_start_indicator && decode_pes_header() == 0 &&
        pes_.pts_flag) {
      // Time stamps of one stream only rise: one that does not starts again.
      if (current_offset().equals(from)) {
        prev_len = pes_.payload_length;
      } else if (pes_.pts <= prev) {
        reset = current_offset();
        r->start_pts = pes_.pts;
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
  r->end_pts = prev + audio_ticks_of(prev_len);
  r->reset = reset;
  // The later part may start with other streams: the first PES of any
  // stream whose PTS falls back by more than half a second marks the join.
  // The video's last frame before it and first after it bound the parts
  // in frames.
  r->join = reset;
  r->video_end = r->video_start = kNoTime;
  double video_max = kNoTime;
  goto_offset(FileOffset::from_u64(std::max(floor.value(), reset.value() > kLinearScan ? reset.value() - kLinearScan : 0)));
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
          r->join = current_offset();
          break;
        }
        it->pts = pes_.pts;
      }
      if (packet_.PID == video_pid_) video_max = std::max(video_max, pes_.pts);
    }
    advance_packet();
  }
  if (video_pid_ != kNoPid && video_max > kNoTime) {
    FileOffset at;
    r->video_start = scan_pts(video_pid_, r->join, FileOffset::from_u64(r->join.value() + kLinearScan), &at);
    const double fr = get_frame_rate();
    if (r->video_start > kNoTime && fr > 0) r->video_end = video_max + 90000.0 / fr;
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
    if (k == kSamples) from = size - std::min<uint64_t>(size, std::min<uint64_t>(probe, size / (2 * kSamples)));
    FileOffset at;
    const double p = scan_audio_pts(FileOffset::from_u64(from), FileOffset::from_u64(std::min(size, from + probe)), &at);
    if (p > kNoTime && (samples.empty() || at.greater(samples.back().at))) samples.push_back({at, p});
  }
  if (samples.size() < 2) return;
  // The stream's pace in ticks per byte, measured over the audio at its
  // start up to the first reset (the header rates may not be the file's,
  // and samples of a file that repeats one recording alias with it).
  double ticks_per_byte = st_.bit_rate > 0 ? 90000.0 * 8.0 / st_.bit_rate : 0.0;
  {
    goto_offset(samples[0].at);
    const uint64_t x0 = samples[0].at.value(), stop = x0 + (4u << 20);
    double last = samples[0].pts;
    uint64_t last_at = x0;
    while (current_offset().value() < stop) {
      if (read_packet()) {
        if (!step_over_bad_packet()) break;
        continue;
      }
      if (packet_.PID == audio_pid_ && packet_.payload_unit_start_indicator && decode_pes_header() == 0 &&
          pes_.pts_flag && current_offset().value() > x0) {
        if (pes_.pts <= last) break;
        last = pes_.pts;
        last_at = current_offset().value();
      }
      advance_packet();
    }
    if (last > samples[0].pts && last_at > x0) ticks_per_byte = (last - samples[0].pts) / double(last_at - x0);
  }
  // A time stamp not above the one before, or far behind the pace of the
  // bytes between them: one reset at least lies between the two.
  auto reset_between = [&](const Sample& a, const Sample& b) {
    const double paced = a.pts + 0.8 * double(b.at.value() - a.at.value()) * ticks_per_byte;
    return b.pts <= a.pts || b.pts < paced;
  };
  bool resets = false;
  for (size_t i = 1; i < samples.size() && !resets; ++i) resets = reset_between(samples[i - 1], samples[i]);
  if (!resets) return;

  // Each part by audio and, when every part has them, by video frames: the
  // frames of the parts then follow on without a gap or an overlap.
  const double fr = get_frame_rate();
  std::vector<TimeStampPart> by_video;
  bool video_ok = video_pid_ != kNoPid && fr > 0;
  {
    FileOffset at;
    const double v0 = video_ok ? scan_pts(video_pid_, FileOffset(0u), FileOffset::from_u64(std::min(size, probe)), &at)
                               : kNoTime;
    video_ok = v0 > kNoTime;
    by_video.push_back({FileOffset(0u), v0, v0, 0.0});
  }
  tstable_.push_back({FileOffset(0u), samples[0].pts, samples[0].pts, 0.0});
  for (size_t i = 1; i < samples.size(); ++i) {
    const Sample a = samples[i - 1], b = samples[i];
    // Close samples cost little to search through: short parts hide from
    // the pace test.
    if (!reset_between(a, b) && b.at.value() - a.at.value() > 2 * kLinearScan) continue;
    ResetFound r;
    if (!find_reset(tstable_.back().offset, a.at, a.pts, b.at, ticks_per_byte, &r)) {
      if (b.pts <= a.pts)
        trace("DeMuxerTransport::build_timestamp_table (): no reset found between %.0f and %.0f\n", a.at.to_double(),
              b.at.to_double());
      continue;
    }
    if (!r.join.greater(tstable_.back().offset)) continue;
    tstable_.back().end_pts = r.end_pts;
    tstable_.push_back({r.join, r.start_pts, r.start_pts, 0.0});
    if (r.video_start <= kNoTime) video_ok = false;
    by_video.back().end_pts = r.video_end;
    by_video.push_back({r.join, r.video_start, r.video_start, 0.0});
    // More resets may follow before b: go on from the one found.
    if (r.reset.greater(a.at) && r.reset.less(b.at)) samples.insert(samples.begin() + long(i), {r.reset, r.start_pts});
  }
  // The last part ends with the last audio PTS of the file.
  // Its end lies in the last bytes of the file (or of the part).
  const uint64_t tail = std::max<uint64_t>(tstable_.back().offset.value(), size > 2 * kLinearScan ? size - 2 * kLinearScan : 0);
  double last = samples.back().at.value() >= tail ? samples.back().pts : tstable_.back().start_pts;
  int last_len = 0;
  double video_max = kNoTime;
  goto_offset(FileOffset::from_u64(std::min(tail, samples.back().at.value())));
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
    if (packet_.PID == video_pid_ && packet_.payload_unit_start_indicator && decode_pes_header() == 0 &&
        pes_.pts_flag)
      video_max = std::max(video_max, pes_.pts);
    advance_packet();
  }
  tstable_.back().end_pts = last + audio_ticks_of(last_len);
  by_video.back().end_pts = video_max > kNoTime && fr > 0 ? video_max + 90000.0 / fr : kNoTime;
  if (video_ok && by_video.back().end_pts > kNoTime && by_video.size() == tstable_.size()) tstable_ = by_video;
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
