// Time-stamp scan: the clock runs of a program stream, and the stretches in
// which the selected video and audio streams keep their parameters.
#include "demux/timestamp_scan.h"

#include <algorithm>
#include <cstring>

#include "demux/demuxer_cache.h"
#include "foundation/ac3.h"
#include "foundation/audio_header.h"
#include "foundation/seq_header.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"
#include "foundation/utils.h"

namespace {

constexpr int kSeqNeed = 160;      // header, matrices and the extension
constexpr int kAudioNeed = 8192;   // more than two frames of any kind followed
constexpr int kPollPackets = 17;   // packets between looks at the command word
constexpr size_t kPayloadMax = 1 << 20;

// Offset of the next 00 00 01 B3 in b from `from`, or -1.
long find_seq_code(const std::vector<uint8_t>& b, size_t from) {
  StartCodeCursor c(b.data(), int64_t(b.size()));
  c.seek(int64_t(from));
  return c.find(0xB3) ? long(c.offset()) : -1;
}

}  // namespace

TimeStampScan::TimeStampScan() = default;
TimeStampScan::~TimeStampScan() = default;

int TimeStampScan::open(const char* name) {
  dmx_.reset();
  for (auto& l : lists_) l.clear();
  last_clock_ = first_clock_ = -1.0;
  done_ = false;
  vbuf_.clear();
  abuf_.clear();
  video_ = VideoInfo();
  audio_ = AudioInfo();
  video_id_ = video_pid_ = audio_id_ = audio_pid_ = audio_kind_ = 0;
  if (!name || !*name) return 1;
  dmx_.reset(demuxer_create(name, 0));
  if (!dmx_) {
    trace("TimeStampScan::open (ERROR): <%s> has no demultiplexer\n", name);
    return 1;
  }
  transport_ = dmx_->get_stream_type() == 8;
  if (dmx_->get_video_es_count() > 0) {
    video_ = dmx_->get_video_info();
    video_id_ = video_.stream_id;
    video_pid_ = video_.pid;
  }
  if (dmx_->get_audio_es_count() > 0) {
    audio_ = dmx_->get_audio_info();
    const int type = audio_.get_audio_type();
    // Only MPEG audio and AC-3 carry headers to follow.
    if (type == AUDIO_TYPE_MPEG || type == AUDIO_TYPE_AC3) {
      audio_kind_ = type;
      audio_id_ = audio_.stream_id;
      audio_pid_ = audio_.pid;
    }
  }
  dmx_->goto_offset(FileOffset());
  return 0;
}

const char* TimeStampScan::get_file_name() const { return dmx_ ? dmx_->get_file_name() : nullptr; }

int TimeStampScan::get_stream_type() const { return dmx_ ? dmx_->get_stream_type() : 0; }

int TimeStampScan::get_list(int kind, const TimeStampEntry** list) const {
  if (kind < 1 || kind > 3) {
    if (list) *list = nullptr;
    return 0;
  }
  const auto& l = lists_[kind - 1];
  if (list) *list = l.empty() ? nullptr : l.data();
  return int(l.size());
}

void TimeStampScan::add(std::vector<TimeStampEntry>* list, int kind, double at) {
  TimeStampEntry e;
  e.kind = kind;
  e.start = at;
  e.video = video_;
  e.audio = audio_;
  if (!list->empty()) list->back().end = at;
  list->push_back(e);
}

void TimeStampScan::on_clock(double scr, double at) {
  if (scr < 0) return;
  if (first_clock_ < 0) first_clock_ = scr;
  if (last_clock_ >= 0 && scr < last_clock_) {
    auto& l = lists_[0];
    if (l.empty()) {
      add(&l, TimeStampEntry::kTimeBase, 0.0);
      l.back().clock_start = first_clock_;
    }
    l.back().clock_end = last_clock_;
    add(&l, TimeStampEntry::kTimeBase, at);
    l.back().clock_start = scr;
  }
  last_clock_ = scr;
}

void TimeStampScan::on_video(const uint8_t* payload, int n, double at) {
  const size_t old = vbuf_.size();
  vbuf_.insert(vbuf_.end(), payload, payload + n);
  // A start code begun in the packet before still belongs to this one's
  // header: its bytes are what makes it whole.
  size_t keep_from = vbuf_.size() > 3 ? vbuf_.size() - 3 : 0;
  long i = find_seq_code(vbuf_, old >= 3 ? old - 3 : 0);
  while (i >= 0) {
    const size_t behind = vbuf_.size() - size_t(i);
    if (behind < size_t(kSeqNeed)) {
      keep_from = size_t(i);
      break;
    }
    SeqHdr s;
    VideoInfo v;
    if (s.decode(vbuf_.data() + i, int(behind)) > 0 && !s.invalid && s.get_video_info(&v) == 0) {
      v.stream_id = video_.stream_id;
      v.pid = video_.pid;
      if (utils_same_video_info(v, video_)) {
        auto& l = lists_[1];
        if (l.empty()) add(&l, TimeStampEntry::kVideo, 0.0);
        video_ = v;
        add(&l, TimeStampEntry::kVideo, at);
      }
    }
    keep_from = size_t(i) + 4;
    i = find_seq_code(vbuf_, keep_from);
    if (i < 0) keep_from = std::max(keep_from, vbuf_.size() > 3 ? vbuf_.size() - 3 : 0);
  }
  vbuf_.erase(vbuf_.begin(), vbuf_.begin() + long(std::min(keep_from, vbuf_.size())));
}

void TimeStampScan::on_audio(const uint8_t* payload, int n, double at) {
  if (abuf_.empty()) abuf_pos_ = at;
  abuf_.insert(abuf_.end(), payload, payload + n);
  while (int(abuf_.size()) >= kAudioNeed) {
    int left = int(abuf_.size());
    AudioInfo a = audio_;
    const int changed = audio_kind_ == AUDIO_TYPE_AC3 ? ac3_audio_info(abuf_.data(), &left, &a)
                                                      : mpeg_audio_info_from_data(abuf_.data(), &left, &a);
    if (changed) {
      a.stream_id = audio_.stream_id;
      a.pid = audio_.pid;
      a.audio_type = audio_.audio_type;
      auto& l = lists_[2];
      if (l.empty()) add(&l, TimeStampEntry::kAudio, 0.0);
      audio_ = a;
      add(&l, TimeStampEntry::kAudio, abuf_pos_);
    }
    // Nothing examined (no frame at all): keep only a possible header start.
    size_t drop = size_t(int(abuf_.size()) - left);
    if (drop == 0) drop = abuf_.size() - 3;
    abuf_.erase(abuf_.begin(), abuf_.begin() + long(drop));
    abuf_pos_ = at;
  }
}

int TimeStampScan::changes() const {
  int n = 0;
  for (const auto& l : lists_)
    if (!l.empty()) n += int(l.size()) - 1;
  return n;
}

void TimeStampScan::close_lists(double size) {
  for (auto& l : lists_)
    if (!l.empty()) l.back().end = size;
  if (!lists_[0].empty()) lists_[0].back().clock_end = last_clock_;
}

int TimeStampScan::scan(JobControl* control) {
  if (!dmx_ || done_) {
    if (control) {
      control->set_progress(100.0);
      if (dmx_)
        control->finish(JobOutcome::done, changes());
      else
        control->finish(JobOutcome::failed, 0, "no stream open");
    }
    return dmx_ ? changes() : 0;
  }
  const double size = dmx_->get_file_size_double();
  const double scale = size > 0 ? 100.0 / size : 0.0;
  double reported = control ? control->progress() : 0.0;
  int packets = 0;
  bool stopped = false;
  for (;;) {
    const double at = dmx_->current_offset().to_double();
    if (at >= size) break;
    if (control && ++packets % kPollPackets == 0) {
      // A pause waits in steps of a second, reading nothing.
      if (control->checkpoint()) {
        stopped = true;
        break;
      }
      const double p = dmx_->current_offset().to_double() * scale;
      if (p >= reported + 0.1) {
        reported = p;
        control->set_progress(p);
      }
    }
    const int id = dmx_->next_packet();
    if (!id) {
      // Transport packets of other PIDs are stepped over; elsewhere no
      // packet means the end of the stream.
      if (!transport_ || dmx_->skip_packet() || dmx_->current_offset().to_double() <= at) break;
      continue;
    }
    if (dmx_->get_stream_flag()) on_clock(dmx_->get_stored_time(), at);
    const int pid = dmx_->get_curr_pid();
    const bool video = video_id_ && id == video_id_ && (!transport_ || pid == video_pid_);
    const bool audio = audio_id_ && id == audio_id_ && (!transport_ || pid == audio_pid_);
    if (!video && !audio) {
      dmx_->skip_packet();
      if (dmx_->current_offset().to_double() <= at) break;
      continue;
    }
    const int want = std::min<int>(std::max(dmx_->get_payload_size(), 2048), int(kPayloadMax));
    if (payload_.size() < size_t(want)) payload_.resize(size_t(want));
    const int got = dmx_->get_payload(payload_.data(), want);
    if (got > 0) {
      if (video)
        on_video(payload_.data(), got, at);
      else
        on_audio(payload_.data(), got, at);
    }
    if (dmx_->current_offset().to_double() <= at) break;
  }
  if (stopped) {
    // The entries stay open: a later call goes on from here.
    if (control) {
      control->set_progress(dmx_->current_offset().to_double() * scale);
      control->finish(JobOutcome::stopped, changes());
    }
    return changes();
  }
  done_ = true;
  close_lists(size);
  if (control) {
    control->set_progress(100.0);
    control->finish(JobOutcome::done, changes());
  }
  return changes();
}
