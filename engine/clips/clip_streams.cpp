#include "engine/clips/clip_streams.h"

#include <cmath>
#include <memory>
#include <vector>

#include "demux/demuxer_cache.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/clip_verify.h"
#include "formats/still_loader.h"
#include "foundation/trace.h"

namespace {

constexpr double kNtsc = 30000.0 / 1001.0;

// Every stream of an MPEG file with video, the first video stream first.
std::vector<ESData> file_streams(const Clip* c) {
  std::vector<ESData> out;
  if (!Clip::is_mpeg_video_type(c->clip_type) || !c->get_file_name()) return out;
  std::unique_ptr<DeMuxer> dm(demuxer_create(c->get_file_name(), 0));
  if (!dm) {
    trace("MPEG_Clip::get_es_data (ERROR): demuxer_create () failed for <%s>\n", c->get_file_name());
    return out;
  }
  int n = 0;
  const ESData* es = dm->get_es_data(&n);
  int first_video = -1;
  for (int i = 0; i < n && first_video < 0; ++i)
    if (es[i].is_video()) first_video = i;
  if (first_video >= 0) out.push_back(es[first_video]);
  for (int i = 0; i < n; ++i)
    if (i != first_video) out.push_back(es[i]);
  return out;
}

void video_info_of(const ESData& e, ClipInfo* out) {
  out->init();
  out->mpeg_version = e.is_video_mpeg2() ? 2 : 1;
  out->width = e.get_video_width();
  out->height = e.get_video_height();
  out->video_bit_rate = e.get_video_bit_rate();
  out->vbr = e.is_vbr();
  out->frame_rate = e.get_video_frame_rate();
  out->aspect_ratio_code = e.get_video_pel_aspect_ratio();
  out->chroma = e.get_video_chroma_format();
  out->stream_id = e.stream_id;
  out->pid = e.pid;
  out->stream_word = e.info_words[0];
}

void audio_info_of(const ESData& e, ClipInfo* out) {
  out->init();
  out->audio_layer = e.ac3 || e.lpcm ? 0 : e.get_audio_layer();
  out->audio_bit_rate = e.get_audio_bit_rate();
  out->sample_rate = e.get_audio_sample_rate();
  out->channels = e.get_channel_count();
  out->audio_frame_size = e.get_audio_frame_size();
  out->crc = e.ac3 || e.lpcm ? 0 : e.get_audio_crc_flag();
  out->ac3_channels = e.ac3 ? e.get_ac3_channels() : 0;
  if (e.ac3) {
    out->ac3_language = e.get_ac3_language_code();
    out->ac3_language2 = e.get_ac3_language_code2();
  }
  out->stream_id = e.stream_id;
  out->pid = e.pid;
  out->stream_word = e.info_words[1];
}

// Descriptions of the streams of one kind: with n = 1 the chosen one (else
// the first); otherwise the chosen one at out[0] and stream i at out[i + 1].
// *chosen tells whether the chosen stream was met.
int describe_streams(const std::vector<ESData>& streams, int id, int pid, ClipInfo* out, int n,
                     void (*fill)(const ESData&, ClipInfo*), bool* chosen) {
  *chosen = false;
  if (n == 1) {
    const ESData* pick = &streams[0];
    for (const ESData& e : streams)
      if (e.stream_id == id && e.pid == pid) pick = &e;
    fill(*pick, out);
    *chosen = true;
    return 1;
  }
  int written = 0;
  for (size_t i = 0; i < streams.size() && written < n; ++i) {
    const ESData& e = streams[i];
    if (!*chosen && e.stream_id == id && (pid == 0 || e.pid == pid)) {
      fill(e, &out[0]);
      *chosen = true;
      ++written;
    } else if (int(i) < n - 1) {
      fill(e, &out[i + 1]);
      ++written;
    }
  }
  return written;
}

// Video facts on first use.
void load_video_info(Clip* c) {
  if (c->video_frame_period > 0) return;
  if (c->frame_rate <= 0) {
    ClipInfo v;
    if (clip_get_video_es_info(c, &v, 1)) c->frame_rate = v.frame_rate;
  }
  if (c->frame_rate > 0) c->video_frame_period = 1.0 / c->frame_rate;
}

void load_audio_info(Clip* c) {
  if (c->audio_frame_period < 0.008) clip_set_abs_parameters(c);
}

}  // namespace

double clip_get_video_frame_period(Clip* c) {
  load_video_info(c);
  return c->video_frame_period;
}
double clip_get_video_time_of(Clip* c) { return clip_get_video_frame_period(c) * c->count; }
double clip_get_video_start_time(Clip* c) { return clip_get_video_frame_period(c) * c->start; }
double clip_get_video_transition_time(Clip* c) { return clip_get_video_frame_period(c) * c->transition_length; }
double clip_get_video_time_without_transition(Clip* c) {
  return clip_get_video_frame_period(c) * (c->count - c->transition_length);
}

double clip_get_frame_period(Clip* c) {
  load_audio_info(c);
  return c->audio_frame_period;
}
double clip_get_length_time(Clip* c) {
  if (c->audio_units) return c->count * clip_get_frame_period(c);
  if (c->audio_length <= 0.0001) load_audio_info(c);
  return c->audio_length;
}
double clip_get_time_of(Clip* c) {
  return clip_get_frame_period(c) * (c->audio_units ? c->alternative_start : c->start);
}
double clip_get_transition_time(Clip* c) { return clip_get_frame_period(c) * c->transition_length; }
double clip_get_time_without_transition(Clip* c) {
  return clip_get_frame_period(c) * (c->count - c->transition_length);
}

int clip_set_count(Clip* c, int n) {
  if (c->is_still_image()) {
    if (n >= 1) c->count = n;
    return c->count;
  }
  const int total = c->video_frame_total > 0 ? c->video_frame_total : c->audio_frame_total;
  if (total < 1) {
    c->count = 0;
    return 0;
  }
  if (c->start + n > total) {
    c->start = total - n;
    if (c->start < 0) {
      c->start = 0;
      n = total;
    }
  }
  c->count = n;
  return n;
}

int mpeg_clip_get_video_es_data(MPEG_Clip* c, ESData* out) {
  if (!out) return 0;
  if (Clip::is_mpeg_video_type(c->clip_type)) {
    const std::vector<ESData> es = file_streams(c);
    const ESData* pick = nullptr;
    for (const ESData& e : es)
      if (e.is_video() && (c->video_stream_id == 0 || e.stream_id == c->video_stream_id) &&
          (c->video_pid == 0 || e.pid == c->video_pid)) {
        pick = &e;
        break;
      }
    if (!pick && !es.empty() && es[0].is_video()) pick = &es[0];
    if (!pick) return 0;
    *out = *pick;
    return 1;
  }
  if (c->clip_type < 11 || c->clip_type > 14 || !c->get_file_name()) return 0;
  // Stills and foreign movies: an MPEG sequence header of their size.
  int w = c->width, h = c->height;
  if (c->clip_type <= 12) {
    StillPicture pic;
    if (!load_still_picture(c->get_file_name(), &pic)) return 0;
    w = pic.width, h = pic.height;
  }
  if (w < 1 || h < 1) return 0;
  SeqHdr s;
  s.setup(w, h, c->video_bit_rate, c->frame_rate > 0 ? c->frame_rate : kNtsc, c->mpeg2);
  out->clear();
  out->set_video_header(s);
  out->set_name(c->get_file_name());
  c->mpeg2 = s.mpeg2 ? 1 : 0;
  c->width = w;
  c->height = h;
  c->video_bit_rate = s.get_bit_rate();
  c->frame_rate = s.get_frame_rate();
  c->aspect_ratio_code = s.get_aspect_ratio_information();
  return 1;
}

int mpeg_clip_get_audio_es_data(MPEG_Clip* c, ESData* out) {
  if (!out || !(Clip::is_mpeg_video_type(c->clip_type) || c->audio_stream_count > 0)) return 0;
  if (c->clip_type == 1 || c->clip_type == 9) {
    int err = 1;
    out->open(c->get_file_name(), &err);
    return err ? 0 : 1;
  }
  for (const ESData& e : file_streams(c)) {
    if (!e.is_audio() || e.stream_id != c->audio_stream_id || (c->audio_pid && e.pid != c->audio_pid)) continue;
    *out = e;
    c->audio_layer = e.get_audio_layer();
    c->channels = e.get_channel_count();
    c->audio_bit_rate = e.get_audio_bit_rate();
    c->sample_rate = e.get_audio_sample_rate();
    return 1;
  }
  return 0;
}

int mpeg_clip_get_es_data(const MPEG_Clip* c, ESData* out, int capacity) {
  if (!out || capacity < 1) {
    trace("MPEG_Clip::get_es_data (ERROR): input parameter %s", !out ? "es_data=nil, " : "");
    trace("es_size=%d\n", capacity);
    return 0;
  }
  if (!Clip::is_mpeg_video_type(c->clip_type)) {
    MPEG_Clip copy(*c);
    return mpeg_clip_get_video_es_data(&copy, out);
  }
  const std::vector<ESData> es = file_streams(c);
  if (int(es.size()) > capacity)
    trace("MPEG_Clip::get_es_data (ERROR): es_size (%d) is too small (%d)\n", capacity, int(es.size()));
  const int n = std::min(capacity, int(es.size()));
  for (int i = 0; i < n; ++i) out[i] = es[size_t(i)];
  return n;
}

int clip_get_video_es_info(Clip* c, ClipInfo* out, int n) {
  if (!out || n < 1) {
    trace("Clip::get_video_es_info (ERROR): invalid input (nil/0)\n");
    return 0;
  }
  MPEG_Clip m(*c);
  std::vector<ESData> videos;
  if (Clip::is_mpeg_video_type(c->clip_type)) {
    for (const ESData& e : file_streams(c))
      if (e.is_video() && videos.size() < 8) videos.push_back(e);
  } else {
    ESData e;
    if (mpeg_clip_get_video_es_data(&m, &e)) videos.push_back(e);
  }
  if (videos.empty()) return 0;
  if (c->video_stream_id == 0 && c->is_still_image() && n > 1) c->video_stream_id = videos[0].stream_id;
  bool first = false;
  const int written = describe_streams(videos, c->video_stream_id, c->video_pid, out, n, video_info_of, &first);
  if (!first) {
    trace("Clip::get_video_es_info (): invalid video stream id = 0x%02x (%d)\n", c->video_stream_id,
          c->video_stream_id);
    return written;
  }
  if (n == 1) return 1;
  c->mpeg2 = out[0].mpeg_version == 2;
  c->width = out[0].width;
  c->height = out[0].height;
  c->video_bit_rate = out[0].video_bit_rate;
  c->frame_rate = out[0].frame_rate;
  return written;
}

int clip_get_audio_es_info(Clip* c, ClipInfo* out, int n) {
  if (!out || n < 1) {
    trace("ERROR (Clip::get_audio_es_info): invalid input (nil/0)\n");
    return 0;
  }
  const bool mpeg_with_audio = Clip::is_mpeg_video_type(c->clip_type) && c->audio_stream_count > 0;
  if (!mpeg_with_audio && c->clip_type != 1 && c->clip_type != 9) {
    trace("ERROR (Clip::get_audio_es_info): non-MPEG clip\n");
    return 0;
  }
  std::vector<ESData> audios;
  if (mpeg_with_audio) {
    for (const ESData& e : file_streams(c))
      if (e.is_audio() && audios.size() < 16) audios.push_back(e);
  } else {
    ESData e;
    int err = 1;
    e.open(c->get_file_name(), &err);
    if (!err) audios.push_back(e);
  }
  if (audios.empty()) return 0;
  bool first = false;
  const int written = describe_streams(audios, c->audio_stream_id, c->audio_pid, out, n, audio_info_of, &first);
  if (!written)
    trace("ERROR (Clip::get_audio_es_info): invalid audio stream id = %3d (%2d)\n", c->audio_stream_id,
          c->audio_pid);
  return written;
}

int clip_get_es_info(Clip* c, ClipInfo* out, int n) {
  if (!out || n < 1) {
    trace("Clip::get_es_info (ERROR): input parameter %s", !out ? "es_info=nil, " : "");
    trace("es_size=%d\n", n);
    return 0;
  }
  int written = 0;
  for (const ESData& e : file_streams(c)) {
    if (written >= std::min(n, 24)) break;
    if (e.is_video()) video_info_of(e, &out[written++]);
    else audio_info_of(e, &out[written++]);
  }
  if (written == 0 && (c->clip_type == 1 || c->clip_type == 9)) {
    out[0].init();
    out[0].stream_id = c->audio_stream_id;
    out[0].pid = c->audio_pid;
    out[0].audio_layer = c->audio_layer;
    out[0].audio_bit_rate = c->audio_bit_rate;
    out[0].sample_rate = c->sample_rate;
    out[0].channels = c->channels;
    out[0].ac3_channels = c->ac3_channels;
  }
  return written;
}

void mpeg_clip_video_2_audio(MPEG_Clip* c, int sample_rate, int layer, double frame_rate) {
  if (c->audio_units) return;
  c->audio_units = 1;
  if (frame_rate < 0.1) frame_rate = c->frame_rate >= 0.1 ? c->frame_rate : kNtsc;
  if (c->is_still_image()) {
    c->sample_rate = sample_rate ? sample_rate : 44100;
    c->audio_layer = layer ? layer : 2;
    c->audio_frame_period = (c->audio_layer == 1 ? 384.0 : 1152.0) / c->sample_rate;
    c->frame_rate = frame_rate;
  }
  if (c->clip_type == 1) {
    c->alternative_start = c->start;
    return;
  }
  if (c->frame_rate < 0.1) {
    trace("MPEG_Clip::video_2_audio (ERROR): video frame_rate=0\n");
    c->frame_rate = frame_rate;
  }
  const double d = (layer == 1 ? 384.0 : 1152.0) / (sample_rate > 0 ? sample_rate : 44100);
  const double ratio = (1.0 / d) / frame_rate;
  c->start = int(std::lround(c->start * ratio));
  c->count = std::max(1, int(std::lround(c->count * ratio)));
  c->alternative_start = c->start;
  if (c->transition_id && c->transition_length) {
    c->transition_length = int(std::lround(c->transition_length * ratio));
    mpeg_clip_split_transition(c);
  } else {
    c->transition_id = c->transition_length = 0;
  }
  for (OverlayClip& o : c->overlays) {
    o.position = int(std::lround(o.position * ratio));
    o.length = std::max(1, int(std::lround(o.length * ratio)));
  }
}

MPEG_Clip* mpeg_clip_get_audio_range(MPEG_Clip* list, int sample_rate, int layer, double frame_rate) {
  if (!list) return nullptr;
  if (frame_rate < 0.1) frame_rate = list->frame_rate >= 0.1 ? list->frame_rate : kNtsc;
  MPEG_Clip* copy = clip_copy(list, 0, 0);
  if (!copy) return nullptr;
  if (copy->audio_units) return copy;
  // Transitions become plain cuts: half from each side.
  for (MPEG_Clip* c = copy->next; c; c = c->next) {
    if (!c->transition_length) continue;
    const int half = c->transition_length / 2;
    c->prev->count -= half;
    const int rest = c->transition_length - half;
    c->start += rest;
    c->count -= rest;
    c->transition_id = c->transition_length = 0;
    c->set_transition_full(0);
    c->set_transition_offset(0);
  }
  // Layer 0 is AC-3 output, whose frames hold 1536 samples.
  const double d = (layer == 1 ? 384.0 : layer == 0 ? 1536.0 : 1152.0) / (sample_rate > 0 ? sample_rate : 44100);
  double video_time = 0, audio_time = 0;
  for (MPEG_Clip* c = copy; c; c = c->next) {
    c->audio_units = 1;
    if (c->is_still_image()) {
      c->sample_rate = sample_rate;
      c->audio_layer = layer;
      c->frame_rate = frame_rate;
    }
    double start = c->start, count = c->count;
    if (c->frame_rate > 0 && std::fabs(c->frame_rate - frame_rate) >= 0.0001) {
      start = std::round(start * frame_rate / c->frame_rate);
      count = std::round(count * frame_rate / c->frame_rate);
    }
    const double ratio = 1.0 / (d * frame_rate);
    for (OverlayClip& o : c->overlays) {
      o.position = int(std::lround(o.position * ratio));
      o.length = std::max(1, int(std::lround(o.length * ratio)));
    }
    c->start = int(std::lround(start / frame_rate / d));
    c->alternative_start = c->start;
    // The audio never drifts from the video by a frame or more.
    c->count = std::max(1, int(std::lround((count / frame_rate - (audio_time - video_time)) / d)));
    c->audio_start = audio_time;
    c->video_start = start / frame_rate;
    c->video_output = video_time;
    c->audio_range_length = c->count * d;
    audio_time += c->count * d;
    video_time += count / frame_rate;
    c->audio_frame_period = d;
  }
  if (audio_time < video_time) {
    MPEG_Clip* t = clip_list_tail(copy);
    t->count += 1;
    t->audio_range_length += d;
  }
  return clip_update(copy);
}

namespace {

// The audio streams of a clip's file in list order (the tracks a user picks
// from), at most eight.
std::vector<ESData> audio_tracks(const Clip* c) {
  std::vector<ESData> out;
  for (ESData& e : file_streams(c))
    if (!e.is_video() && e.is_audio() && out.size() < 8) out.push_back(std::move(e));
  return out;
}

int audio_mode(const ESData& e) {
  if (e.ac3) return 4;
  if (e.lpcm) return 5;
  const FrmHdr* h = e.get_audio_header();
  return h ? h->mode : -1;
}

bool same_audio(const ESData& a, const ESData& b) {
  return a.sample_rate == b.sample_rate && a.get_channel_count() == b.get_channel_count() && a.layer == b.layer &&
         a.audio_bit_rate == b.audio_bit_rate && audio_mode(a) == audio_mode(b);
}

}  // namespace

MPEG_Clip* mpeg_clip_select_audio_track(const MPEG_Clip* list, int index) {
  if (!list) {
    trace("ERROR (mpegclip_select_audio_track): in_list=nil\n");
    return nullptr;
  }
  const std::vector<ESData> head = audio_tracks(list);
  if (index < 0 || index >= int(head.size()) || index >= list->audio_stream_count) {
    trace("ERROR (mpegclip_select_audio_track): track %d of %d\n", index, int(head.size()));
    return nullptr;
  }
  const ESData& ref = head[size_t(index)];
  MPEG_Clip *out = nullptr, *tail = nullptr;
  for (const MPEG_Clip* c = list; c; c = c->next) {
    const std::vector<ESData> tracks = c == list ? head : audio_tracks(c);
    if (index >= int(tracks.size()) || !same_audio(tracks[size_t(index)], ref)) {
      trace("ERROR (mpegclip_select_audio_track): clip <%s> has no track %d like the first clip's\n",
            c->get_file_name() ? c->get_file_name() : "", index);
      mpeg_clip_list_free(out);
      return nullptr;
    }
    auto* copy = new MPEG_Clip(*c);
    copy->next = copy->prev = nullptr;
    const ESData& t = tracks[size_t(index)];
    clip_select_audio_stream(copy, t.stream_id, t.pid);
    clip_list_link(&out, &tail, copy);
  }
  return out;
}
