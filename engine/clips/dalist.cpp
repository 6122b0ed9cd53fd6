#include "engine/clips/dalist.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "demux/demuxer.h"
#include "demux/demuxer_cache.h"
#include "foundation/ac3.h"
#include "foundation/audio_header.h"
#include "foundation/audio_info.h"
#include "foundation/probe.h"
#include "foundation/trace.h"

namespace {

bool read_file(const char* name, std::vector<uint8_t>* out) {
  FILE* f = std::fopen(name, "rb");
  if (!f) return false;
  uint8_t buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  std::fclose(f);
  return true;
}

}  // namespace

int DAList::init(const char* file_name, int stream_id, int pid) {
  *this = DAList();
  if (!file_name) return 1;
  const int type = mpegfile_get_stream_type(file_name);
  if (type == 1) open_ = count_mpeg_audio(file_name);
  else if (type == 9) open_ = count_ac3(file_name);
  else if (type >= 4 && type <= 8) open_ = from_demuxer(file_name, stream_id, pid);
  if (!open_) {
    trace("DAList (ERROR): no audio frames in <%s>\n", file_name);
    *this = DAList();
    return 1;
  }
  if (ids_.empty()) {
    ids_.push_back(stream_id_);
    pids_.push_back(pid_);
  }
  return 0;
}

int DAList::get_stream_list(int* ids, int* pids, int max) const {
  const int n = std::min(max, int(ids_.size()));
  for (int i = 0; i < n; ++i) {
    if (ids) ids[i] = ids_[size_t(i)];
    if (pids) pids[i] = pids_[size_t(i)];
  }
  return n;
}

int DAList::get_audio_info(AudioInfo* info) const {
  if (!open_ || !info) return 1;
  *info = AudioInfo();
  info->set_audio_type(ac3_ ? 9 : 1);
  info->layer = layer_;
  info->channels = ac3_ ? std::min(2, channels_) : channels_;
  info->sample_rate = sample_rate_;
  info->bit_rate = bit_rate_;
  info->stream_id = stream_id_;
  info->pid = pid_;
  info->full_channels = ac3_ ? ac3_channels_ : 0;
  return 0;
}

// Every frame whose header follows the previous frame's end is counted;
// junk between frames is skipped by a new sync search.
bool DAList::count_mpeg_audio(const char* name) {
  std::vector<uint8_t> d;
  if (!read_file(name, &d) || d.size() < 4) return false;
  const int n = int(d.size());
  FrmHdr first;
  int pos = first.parse_buffer(d.data(), n);
  if (!first.valid) return false;
  long long samples = 0;
  while (pos + 4 <= n) {
    FrmHdr h;
    const int skip = h.parse_buffer(d.data() + pos, n - pos);
    if (!h.valid || h.frame_size <= 0) break;
    pos += skip;
    if (h.same_stream(first) != 0) {
      pos += 1;
      continue;
    }
    if (pos + h.frame_size > n) break;  // a frame cut off by the end
    ++frames_;
    samples += h.samples_per_frame();
    pos += h.frame_size;
  }
  if (frames_ < 1) return false;
  layer_ = first.layer;
  bit_rate_ = first.bit_rate;
  channels_ = first.channels;
  sample_rate_ = first.sample_rate;
  // Layer III at the lower rates has 576 samples a frame.
  frame_period_ = double(first.samples_per_frame()) / sample_rate_;
  length_ = double(samples) / sample_rate_;
  stream_id_ = 0xC0;
  return true;
}

bool DAList::count_ac3(const char* name) {
  std::vector<uint8_t> d;
  if (!read_file(name, &d)) return false;
  const int n = int(d.size());
  int pos = 0;
  AC3FrmHdr first;
  while (pos + 5 < n) {
    AC3FrmHdr h;
    const int skip = h.decode(d.data() + pos, n - pos, 0);
    if (!h.valid) break;
    pos += skip;
    if (h.frame_size <= 0 || pos + h.frame_size > n) break;
    if (frames_ == 0) first = h;
    ++frames_;
    pos += h.frame_size;
  }
  if (frames_ < 1) return false;
  ac3_ = 1;
  bit_rate_ = first.bit_rate;
  sample_rate_ = first.sample_rate;
  ac3_channels_ = first.get_channels();
  channels_ = first.channels;
  frame_period_ = 1536.0 / sample_rate_;
  length_ = frames_ * frame_period_;
  stream_id_ = 0x80;
  return true;
}

// A multiplex: the chosen (or first) audio stream's header gives the frame
// period, the demultiplexer's measured length the rest.
bool DAList::from_demuxer(const char* name, int stream_id, int pid) {
  std::unique_ptr<DeMuxer> dm(demuxer_create(name, 0));
  if (!dm) return false;
  int n = 0;
  const ESData* es = dm->get_es_data(&n);
  const ESData* pick = nullptr;
  for (int i = 0; i < n; ++i) {
    if (!es[i].is_audio()) continue;
    ids_.push_back(es[i].stream_id);
    pids_.push_back(es[i].pid);
    const bool match = (stream_id == 0 || es[i].stream_id == stream_id) && (pid == 0 || es[i].pid == pid);
    if (!pick && match) pick = &es[i];
  }
  if (!pick) return false;
  // The stream's own frame: MPEG audio and AC-3 from their headers, LPCM
  // in packs of 1/60 s.
  sample_rate_ = pick->get_audio_sample_rate();
  if (sample_rate_ < 1 || (!pick->get_audio_header() && !pick->ac3 && !pick->lpcm)) return false;
  frame_period_ = pick->get_audio_frame_duration();
  if (frame_period_ <= 0) return false;
  length_ = dm->get_total_length();
  frames_ = int(length_ / frame_period_ + 0.5);
  layer_ = pick->ac3 ? 0 : pick->get_audio_layer();
  bit_rate_ = pick->get_audio_bit_rate();
  channels_ = pick->get_channel_count();
  ac3_ = pick->ac3 ? 1 : 0;
  ac3_channels_ = pick->ac3 ? pick->get_ac3_channels() : 0;
  stream_id_ = pick->stream_id;
  pid_ = pick->pid;
  return frames_ > 0;
}
