#include "engine/clips/clip_summary.h"

#include <vector>

#include "engine/clips/clip_streams.h"
#include "foundation/trace.h"

namespace {

bool same_video(const ClipInfo& a, const ClipInfo& b) {
  return a.mpeg_version == b.mpeg_version && a.width == b.width && a.height == b.height && a.chroma == b.chroma &&
         a.video_bit_rate == b.video_bit_rate && a.vbr == b.vbr && a.aspect_ratio_code == b.aspect_ratio_code &&
         a.frame_rate == b.frame_rate;
}

bool same_audio(const ClipInfo& a, const ClipInfo& b) {
  return a.get_audio_type() == b.get_audio_type() && a.sample_rate == b.sample_rate && a.channels == b.channels &&
         a.audio_layer == b.audio_layer && a.audio_bit_rate == b.audio_bit_rate && a.ac3_channels == b.ac3_channels;
}

// The selected stream's description (the clip's copy is described, so the
// list itself never changes).
bool video_of(const MPEG_Clip* c, ClipInfo* out) {
  MPEG_Clip copy(*c);
  copy.next = copy.prev = nullptr;
  return clip_get_video_es_info(&copy, out, 1) == 1 && out->mpeg_version > 0;
}

bool audio_of(const MPEG_Clip* c, ClipInfo* out) {
  if (c->audio_stream_count < 1 && c->clip_type != 1 && c->clip_type != 9) return false;
  MPEG_Clip copy(*c);
  copy.next = copy.prev = nullptr;
  return clip_get_audio_es_info(&copy, out, 1) == 1;
}

struct Group {
  ClipInfo info;
  int first;
  double seconds;
};

// Groups by format in order of first appearance; the first longest group.
template <class Describe, class Same, class Seconds>
int longest_group(const MPEG_Clip* list, ClipInfo* out, Describe describe, Same same, Seconds seconds) {
  std::vector<Group> groups;
  int index = 0;
  for (const MPEG_Clip* c = list; c; c = c->next, ++index) {
    ClipInfo info;
    if (!describe(c, &info)) continue;
    Group* g = nullptr;
    for (Group& h : groups)
      if (same(h.info, info)) g = &h;
    if (!g) {
      groups.push_back({info, index, 0.0});
      g = &groups.back();
    }
    g->seconds += seconds(c, info);
  }
  const Group* best = nullptr;
  for (const Group& g : groups)
    if (!best || g.seconds > best->seconds) best = &g;
  if (!best) return -1;
  if (out) *out = best->info;
  return best->first;
}

}  // namespace

int clip_get_longest_video_es_info(const MPEG_Clip* list, ClipInfo* out) {
  if (!list || !out) {
    trace("clip_get_longest_video_es_info (ERROR): nil input(s)\n");
    return -1;
  }
  return longest_group(list, out, video_of, same_video, [](const MPEG_Clip* c, const ClipInfo& i) {
    return i.frame_rate > 0 ? c->count / i.frame_rate : 0.0;
  });
}

int clip_get_longest_audio_es_info(const MPEG_Clip* list, ClipInfo* out) {
  if (!list || !out) {
    trace("clip_get_longest_audio_es_info (ERROR): nil input(s)\n");
    return -1;
  }
  auto mpeg_audio = [](const MPEG_Clip* c, ClipInfo* i) {
    return audio_of(c, i) && i->stream_id >= 0xC0 && i->stream_id <= 0xDF;
  };
  return longest_group(list, out, mpeg_audio, same_audio, [](const MPEG_Clip* c, const ClipInfo&) {
    MPEG_Clip copy(*c);
    return clip_get_time_of(&copy);
  });
}

int clip_find_reference_audio_clip_at(const MPEG_Clip* list, int* at, ClipInfo* info) {
  if (at) *at = -1;
  if (!list) {
    trace("clip_find_reference_audio_clip (ERROR): list=nil\n");
    return 0;
  }
  ClipInfo first;
  int index = 0;
  for (const MPEG_Clip* c = list; c; c = c->next, ++index) {
    ClipInfo i;
    const bool ok = audio_of(c, &i) && i.stream_id >= 0x80 && i.stream_id <= 0xDF;
    if (ok && index == 0) first = i;
    if (!ok || !same_audio(first, i)) {
      if (at) *at = index;
      return 0;
    }
  }
  if (info) *info = first;
  return 1;
}

int clip_find_reference_audio_clip(const MPEG_Clip* list) { return clip_find_reference_audio_clip_at(list, nullptr, nullptr); }
