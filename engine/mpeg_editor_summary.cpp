// The editor's display mode and its summary queries over the edit list.
#include <cmath>

#include "access/dtv.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/clip_streams.h"
#include "engine/clips/clip_summary.h"
#include "engine/mpeg_editor.h"
#include "mux/mux_drivers.h"

namespace {

constexpr int kDisplayBits = kPlayExact | kPlayIP | kPlayGOP;
constexpr int kVcdMuxRate = 1411200;

// Rates in bit/s (the multiplexers' order) to bytes per frame; the Video
// CD entry is its fixed rate.
void per_frame(int r[5], double frame_rate, MuxRates* out) {
  r[2] = kVcdMuxRate;
  int b[5];
  for (int i = 0; i < 5; ++i) b[i] = int(std::lround(r[i] / (8.0 * frame_rate)));
  *out = MuxRates{b[0], b[1], b[2], b[3], b[4]};
}

struct ListCopy {
  explicit ListCopy(const MPEG_Clip* l) : list(l ? clip_list_duplicate(l) : nullptr) {}
  ~ListCopy() { mpeg_clip_list_free(list); }
  ListCopy(const ListCopy&) = delete;
  ListCopy& operator=(const ListCopy&) = delete;
  MPEG_Clip* list;
};

}  // namespace

PlayMode MPEG_Editor::set_play_mode(PlayMode mode) {
  if (!engine_) return PlayMode::every_frame;
  const int word = engine_->get_play_mode();
  const PlayMode old = (word & kPlayExact) ? PlayMode::every_frame : (word & kPlayGOP) ? PlayMode::i_only
                                                                                       : PlayMode::i_and_p;
  const int bit = mode == PlayMode::i_only ? kPlayGOP : mode == PlayMode::i_and_p ? kPlayIP : kPlayExact;
  if (!(word & bit)) engine_->set_play_mode((word & ~kDisplayBits) | bit);
  return old;
}

int MPEG_Editor::get_minimum_output_bit_rate(int kind) {
  return engine_ ? engine_->get_minimum_output_bit_rate(editor_record_kind(kind)) : 0;
}

int MPEG_Editor::get_clip_mux_rates(int index, MuxRates* out) {
  const MPEG_Clip* list = engine_ ? engine_->get_clip_list() : nullptr;
  if (!list || !out) return 1;
  const MPEG_Clip* c = list;
  if (index < 0) {
    while (c && c->is_still_image()) c = c->next;
  } else {
    for (int i = 0; i < index && c->next; ++i) c = c->next;
  }
  if (!c) return 1;
  ESData es[16];
  const int n = mpeg_clip_get_es_data(c, es, 16);
  int video = -1;
  for (int i = 0; i < n && video < 0; ++i)
    if (es[i].is_video()) video = i;
  if (video < 0 || !(es[video].get_video_frame_rate() > 0)) return 1;
  int r[5];
  mux_rates_for_es_list(r, n, es);
  per_frame(r, es[video].get_video_frame_rate(), out);
  return 0;
}

int estimate_mux_rates(int n_video, const ESData* videos, int n_audio, const ESData* audios, MuxRates* out) {
  if (n_video < 1 || !videos || !out || !(videos[0].get_video_frame_rate() > 0)) return 1;
  int r[5];
  mux_rates_for_av_lists(r, n_video, videos, n_audio, audios);
  per_frame(r, videos[0].get_video_frame_rate(), out);
  return 0;
}

int MPEG_Editor::get_longest_video_info(VideoInfo* out) {
  if (!engine_ || !engine_->get_clip_list()) return -1;
  const ListCopy copy(engine_->get_clip_list());
  ClipInfo info;
  const int index = clip_get_longest_video_es_info(copy.list, &info);
  if (index < 0 || !out) return index;
  out->video_type = info.mpeg_version == 2 ? 3 : 2;
  out->mpeg2 = info.mpeg_version == 2;
  out->width = info.width;
  out->height = info.height;
  out->frame_rate = info.frame_rate;
  out->aspect_ratio_information = info.aspect_ratio_code;
  out->bit_rate = info.video_bit_rate;
  out->vbr = info.vbr;
  out->chroma_format = info.chroma;
  out->stream_id = info.stream_id;
  out->pid = info.pid;
  return index;
}

int MPEG_Editor::get_reference_audio_info(AudioInfo* out) {
  if (!engine_ || !engine_->get_clip_list()) return -1;
  const ListCopy copy(engine_->get_clip_list());
  ClipInfo info;
  int at = -1;
  if (!clip_find_reference_audio_clip_at(copy.list, &at, &info)) return 0;
  if (out) {
    out->layer = info.audio_layer;
    out->channels = info.channels;
    out->sample_rate = info.sample_rate;
    out->bit_rate = info.audio_bit_rate;
    out->frame_size = info.audio_frame_size;
    out->stream_id = info.stream_id;
    out->pid = info.pid;
    out->audio_type = info.get_audio_type();
  }
  return 1;
}
