#include "engine/clips/settings.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "demux/demuxer_cache.h"
#include "engine/clips/clip_streams.h"
#include "engine/clips/cliplist_file.h"
#include "engine/clips/text_fields.h"
#include "foundation/audio_header.h"
#include "foundation/mpeg_fields.h"
#include "foundation/trace.h"

namespace {

constexpr double kNtsc = 30000.0 / 1001.0;

bool near_rate(double a, double b) { return std::fabs(a - b) < 0.0001; }

// The integers of the next non-comment line; false when there is none.
bool next_ints(FILE* f, std::vector<double>* out) {
  std::string line;
  if (!rec_next_line(f, &line)) return false;
  std::istringstream in(line);
  out->clear();
  std::string w;
  while (in >> w) {
    char* end = nullptr;
    const double v = std::strtod(w.c_str(), &end);
    if (!end || *end || !std::isfinite(v) || std::fabs(v) > 2147483647.0) return false;
    out->push_back(v);
  }
  return true;
}

bool need(FILE* f, size_t n, std::vector<double>* v) { return next_ints(f, v) && v->size() >= n; }

// Frame rates of ".rec" files, including those written with two decimals:
// the MPEG rate within 0.006, else the value as it stands.
double rec_frame_rate(double r) {
  for (int code = 1; code <= 8; ++code)
    if (std::fabs(mpeg_get_frame_rate(code) - r) < 0.006) return mpeg_get_frame_rate(code);
  return r;
}

double fix_rate_vcd(double r) {
  if (near_rate(r, 25.0) || near_rate(r, kNtsc)) return r;
  return r > 26 ? kNtsc : 25.0;
}

int longest_video_clip(const EClip& p) {
  int best = -1, frames = 0;
  for (size_t i = 0; i < p.clips.size(); ++i) {
    const Clip& c = p.clips[i];
    if (Clip::is_mpeg_video_type(c.clip_type) && c.count > frames) {
      best = int(i);
      frames = c.count;
    }
  }
  return best;
}

}  // namespace

// ---- VideoEncoderData --------------------------------------------------------

bool VideoEncoderData::operator==(const VideoEncoderData& o) const {
  return clip_select == o.clip_select && mpeg2_format == o.mpeg2_format && width == o.width &&
         height == o.height && bit_rate == o.bit_rate && std::fabs(frame_rate - o.frame_rate) < 0.01 &&
         std::equal(filter, filter + 4, o.filter) && gop_size == o.gop_size && sub_gop_size == o.sub_gop_size &&
         gop_option == o.gop_option && fixed_mquant == o.fixed_mquant &&
         fixed_mq_max_bit_rate == o.fixed_mq_max_bit_rate && reserved == o.reserved &&
         std::equal(me, me + 3, o.me) && chroma_format == o.chroma_format && index_option == o.index_option;
}

void VideoEncoderData::set_size(int w, int h) {
  width = w;
  height = h;
  me[0] = std::clamp((w / 160) * 4 - 1, 7, 15);
  me[1] = std::clamp((h / 120) * 4 - 1, 7, 15);
}

void VideoEncoderData::set_default_values(int mpeg2) {
  mpeg2_format = mpeg2 ? 1 : 0;
  bit_rate = mpeg2 ? 4000000 : 1120000;
  frame_rate = kNtsc;
  set_size(mpeg2 ? 720 : 352, mpeg2 ? 480 : 240);
}

int VideoEncoderData::get_selected_clip_type() const {
  return clip_select >= 0 && clip_select < int(clips.size()) ? clips[size_t(clip_select)].clip_type : 0;
}

void VideoEncoderData::select_default_clip() {
  if (clip_select >= 0 && clip_select < int(clips.size())) return;
  for (size_t i = 0; i < clips.size(); ++i)
    if (!clips[i].is_still_image()) {
      clip_select = int(i);
      return;
    }
}

int VideoEncoderData::set_chroma_format(int v) {
  if ((v != 1 && v != 2) || !mpeg2_format) return 0;
  if (clip_select >= 0 && clip_select < int(clips.size())) {
    MPEG_Clip c(clips[size_t(clip_select)]);
    ESData es;
    if (!mpeg_clip_get_video_es_data(&c, &es) || es.get_video_chroma_format() != v) return 0;
  }
  chroma_format = v;
  return 1;
}

int VideoEncoderData::get_transport_pids(int* program_pid, int* video_pid, int* audio_pid) const {
  if (get_selected_clip_type() != 8) return 0;
  const Clip& c = clips[size_t(clip_select)];
  std::unique_ptr<DeMuxer> demux(c.get_file_name() ? demuxer_create(c.get_file_name(), 0) : nullptr);
  if (program_pid) *program_pid = demux ? demux->get_pmt_pid() : 0;
  if (video_pid) *video_pid = c.video_stream_count > 0 ? c.video_pid : 0;
  if (audio_pid) *audio_pid = c.audio_stream_count > 0 ? c.audio_pid : 0;
  return 1;
}

void VideoEncoderData::init_data(const EClip& p, int index) {
  if (index >= 0 && index < int(p.clips.size()) && width && height && bit_rate && frame_rate > 0) return;
  static_cast<EClip&>(*this) = p;
  if (index < 0 || index >= int(p.clips.size())) index = longest_video_clip(p);
  if (index < 0) {
    trace("VideoEncoderData::init_data (ERROR): no MPEG clip found\n");
    trace("   select the 1st clip\n");
    index = 0;
  }
  clip_select = index;
  const Clip* c = index < int(p.clips.size()) ? &p.clips[size_t(index)] : nullptr;
  if (!c || c->width < 1 || c->height < 1 || !(c->frame_rate > 0)) {
    trace("VideoEncoderData::init_data (ERROR): no video info found\n");
    set_default_values(0);
    return;
  }
  mpeg2_format = c->mpeg2 ? 1 : 0;
  bit_rate = c->video_bit_rate > 0 ? c->video_bit_rate : (mpeg2_format ? 4000000 : 1120000);
  frame_rate = c->frame_rate;
  gop_size = int((frame_rate + 0.1) * 0.5);
  sub_gop_size = 3;
  gop_option = 0;
  set_size(c->width, c->height);
}

void VideoEncoderData::recompute_clip_select() {
  if (clip_select < 0) return;
  clip_select = -1;
  for (size_t i = 0; i < clips.size(); ++i) {
    const Clip& c = clips[i];
    if (Clip::is_mpeg_video_type(c.clip_type) && c.mpeg2 == mpeg2_format && near_rate(c.frame_rate, frame_rate) &&
        c.width == width && c.height == height && c.video_bit_rate == bit_rate) {
      clip_select = int(i);
      return;
    }
  }
}

bool VideoEncoderData::is_vcd() const {
  if (mpeg2_format || fixed_mquant || bit_rate > 1152000 || width != 352) return false;
  return (height == 288 && near_rate(frame_rate, 25.0)) || (height == 240 && near_rate(frame_rate, kNtsc));
}

void VideoEncoderData::fix_vcd() {
  if (!is_vcd()) {
    mpeg2_format = 0;
    frame_rate = fix_rate_vcd(frame_rate);
    bit_rate = 1150000;
    set_size(352, near_rate(frame_rate, 25.0) ? 288 : 240);
  }
  fixed_mquant = fixed_mq_max_bit_rate = 0;
  recompute_clip_select();
}

bool VideoEncoderData::is_svcd() const {
  if (!mpeg2_format || (width != 480 && width != 352)) return false;
  return (height == 480 && near_rate(frame_rate, kNtsc)) || (height == 576 && near_rate(frame_rate, 25.0));
}

void VideoEncoderData::fix_svcd() {
  mpeg2_format = 1;
  fixed_mquant = fixed_mq_max_bit_rate = 0;
  frame_rate = fix_rate_vcd(frame_rate);
  set_size(480, near_rate(frame_rate, 25.0) ? 576 : 480);
  if (clip_select < 0) {
    fixed_mquant = 2;
    fixed_mq_max_bit_rate = 2600000;
    bit_rate = 2600000;
  }
  recompute_clip_select();
}

bool VideoEncoderData::is_dvd() const {
  const bool pal = mpeg_get_frame_rate_code(frame_rate) == 3;
  const bool ntsc = mpeg_get_frame_rate_code(frame_rate) == 4;
  if (!mpeg2_format) return width == 352 && ((height == 240 && ntsc) || (height == 288 && pal));
  if (bit_rate > 9800000 || (width != 720 && width != 704 && width != 352)) return false;
  if (ntsc) return height == 480 || (height == 240 && width == 352);
  if (pal) return height == 576 || (height == 288 && width == 352);
  return false;
}

void VideoEncoderData::fix_dvd() {
  if (!is_dvd()) {
    frame_rate = frame_rate > 26 ? kNtsc : 25.0;
    const bool pal = frame_rate < 26;
    if (mpeg2_format) {
      bit_rate = std::clamp(bit_rate, 1150000, 9800000);
      const int w = (width == 720 || width == 704 || width == 352) ? width : (width < 353 ? 352 : 720);
      set_size(w, pal ? 576 : 480);
    } else {
      set_size(352, pal ? 288 : 240);
      bit_rate = std::max(bit_rate, 1150000);
    }
  }
  fixed_mquant = fixed_mq_max_bit_rate = 0;
  recompute_clip_select();
}

int VideoEncoderData::write(FILE* f) const {
  std::fprintf(f, "//\n// video encoder parameters\n//\n[VideoEncoderData]\n");
  std::fprintf(f, "  %d\n  %d\n  %d %d\n  %d\n", clip_select, mpeg2_format, width, height, bit_rate);
  // Six decimals: 23.976 must not come back as another rate.
  std::fprintf(f, "  %.6f\n", frame_rate);
  std::fprintf(f, "  %d %d %d\n  %d %d\n", gop_size, sub_gop_size, gop_option, fixed_mquant,
               fixed_mquant ? fixed_mq_max_bit_rate : 0);
  std::fprintf(f, "  %d %d %d\n  %d %d %d %d\n  %d %d\n\n", me[0], me[1], me[2], filter[0], filter[1], filter[2],
               filter[3], index_option, chroma_format);
  return std::ferror(f) ? 1 : 0;
}

int VideoEncoderData::load(FILE* f) {
  std::rewind(f);
  if (!rec_find_section(f, "[VideoEncoderData]")) {
    trace("VideoEncoderData::load (ERROR): no video encoder data file-id found\n");
    return 2;
  }
  auto short_data = [] {
    trace("VideoEncoderData::load (ERROR): not enough data\n");
    return 2;
  };
  std::vector<double> v;
  if (!need(f, 1, &v)) return short_data();
  clip_select = int(v[0]);
  if (clip_select < -1) {
    trace("VideoEncoderData::load (ERROR): invalid clip_select (%d)\n", clip_select);
    clip_select = -1;
    return 2;
  }
  if (!need(f, 1, &v)) return short_data();
  mpeg2_format = int(v[0]);
  if (mpeg2_format != 0 && mpeg2_format != 1) {
    trace("VideoEncoderData::load (ERROR): invalid mpeg2_format (%d)\n", mpeg2_format);
    mpeg2_format = 0;
    return 2;
  }
  if (!need(f, 2, &v)) return short_data();
  // Any size the encoder takes, high definition included.
  if (v[0] < 16 || v[0] > 1920 || v[1] < 16 || v[1] > 1152) {
    trace("VideoEncoderData::load (ERROR): invalid width (%d) or height (%d)\n", int(v[0]), int(v[1]));
    set_size(mpeg2_format ? 720 : 352, mpeg2_format ? 480 : 240);
  } else {
    set_size(int(v[0]), int(v[1]));
  }
  if (!need(f, 1, &v)) return short_data();
  bit_rate = int(v[0]);
  if (bit_rate < 1 || bit_rate > 20000000) {
    trace("VideoEncoderData::load (ERROR): invalid bit_rate (%d)\n", bit_rate);
    bit_rate = mpeg2_format ? 4000000 : 1120000;
  }
  if (!need(f, 1, &v)) return short_data();
  frame_rate = v[0];
  if (!(frame_rate > 0 && frame_rate < 60)) {
    trace("VideoEncoderData::load (ERROR): invalid frame_rate (%.2f)\n", frame_rate);
    frame_rate = 30.0;
  } else {
    frame_rate = rec_frame_rate(frame_rate);
  }
  if (!need(f, 3, &v)) return short_data();
  gop_size = int(v[0]), sub_gop_size = int(v[1]), gop_option = int(v[2]);
  if (gop_size < 0 || gop_size > 30 || sub_gop_size < 0 || sub_gop_size > 3) {
    trace("VideoEncoderData::load (ERROR): invalid gop_size (%d) or sub_gop_size (%d)\n", gop_size, sub_gop_size);
    gop_size = int((frame_rate + 0.1) * 0.5);
    sub_gop_size = 3;
    gop_option = 0;
  }
  if (!need(f, 2, &v)) return short_data();
  fixed_mquant = int(v[0]), fixed_mq_max_bit_rate = int(v[1]);
  if (fixed_mquant < 0 || fixed_mquant > 31 || fixed_mq_max_bit_rate < 0 || fixed_mq_max_bit_rate > 20000000) {
    trace("VideoEncoderData::load (ERROR): invalid fixed_mquant (%d) or fixed_mq_max_bit_rate (%d)\n",
          fixed_mquant, fixed_mq_max_bit_rate);
    fixed_mquant = fixed_mq_max_bit_rate = 0;
  }
  if (!fixed_mquant) fixed_mq_max_bit_rate = 0;
  if (!need(f, 3, &v)) return short_data();
  if (v[0] < 1 || v[0] > 128 || v[1] < 1 || v[1] > 128 || v[2] < 0 || v[2] > 3) {
    trace("VideoEncoderData::load (ERROR): invalid ME parameters (%d,%d: %d)\n", int(v[0]), int(v[1]), int(v[2]));
    me[0] = me[1] = mpeg2_format ? 7 : 15;
    me[2] = 0;
  } else {
    me[0] = int(v[0]), me[1] = int(v[1]), me[2] = int(v[2]);
  }
  if (!need(f, 4, &v)) return short_data();
  bool ok = true;
  for (int i = 0; i < 4; ++i) ok = ok && (v[size_t(i)] == 0 || v[size_t(i)] == 1);
  if (!ok) {
    trace("VideoEncoderData::load (ERROR): invalid filter parameters (%d,%d,%d,%d)\n", int(v[0]), int(v[1]),
          int(v[2]), int(v[3]));
    std::fill(filter, filter + 4, 0);
  } else {
    for (int i = 0; i < 4; ++i) filter[i] = int(v[size_t(i)]);
  }
  // Optional last line: exactly two integers.
  const long at = std::ftell(f);
  if (next_ints(f, &v) && v.size() == 2) {
    index_option = int(v[0]);
    chroma_format = int(v[1]);
  } else {
    std::fseek(f, at, SEEK_SET);
  }
  return 0;
}

// ---- AudioEncoderData --------------------------------------------------------

bool AudioEncoderData::equals(const AudioEncoderData& o) const {
  return clip_select == o.clip_select && has_audio == o.has_audio && layer == o.layer &&
         sample_rate == o.sample_rate && channels == o.channels && bit_rate == o.bit_rate &&
         copy_flag == o.copy_flag;
}

void AudioEncoderData::init_data(const EClip& p, int index) {
  if (index < 0 && copy_flag == 0 && has_audio && layer && bit_rate && channels && sample_rate) return;
  static_cast<EClip&>(*this) = p;
  clip_select = -1;
  const Clip* c = nullptr;
  if (index >= 0 && index < int(p.clips.size())) c = &p.clips[size_t(index)];
  if (!c)
    for (const Clip& k : p.clips)
      if (k.audio_stream_count > 0 && k.sample_rate > 0) {
        c = &k;
        break;
      }
  if (!c || c->sample_rate <= 0) return;
  sample_rate = c->sample_rate;
  channels = c->channels;
  has_audio = 1;
  layer = 2;
  if (index >= 0 && index < int(p.clips.size())) {
    if (c->get_audio_type() == 10) {
      copy_flag = 0;
      layer = 2;
      bit_rate = sample_rate == 48000 ? 384000 : 224000;
    } else {
      clip_select = index;
      layer = c->audio_layer;
      bit_rate = c->audio_bit_rate;
    }
  } else {
    bit_rate = mpeg_audio_nearest_bit_rate(c->audio_bit_rate, 2);
  }
  if (third_flag) clip_select = -1;
}

void AudioEncoderData::recompute_clip_select() {
  if (clip_select < 0) return;
  clip_select = -1;
  for (size_t i = 0; i < clips.size(); ++i) {
    const Clip& c = clips[i];
    if (c.audio_layer == layer && c.sample_rate == sample_rate && c.channels == channels &&
        c.audio_bit_rate == bit_rate) {
      if (c.ac3_channels == 0) clip_select = int(i);
      return;
    }
  }
}

bool AudioEncoderData::is_vcd() const {
  return has_audio && layer == 2 && sample_rate == 44100 && channels == 2 && bit_rate == 224000;
}

void AudioEncoderData::fix_vcd() {
  if (!has_audio) return;
  layer = 2, sample_rate = 44100, channels = 2, bit_rate = 224000;
  recompute_clip_select();
}

bool AudioEncoderData::is_svcd() const {
  if (!has_audio || layer != 2 || sample_rate != 44100) return false;
  return channels == 1 ? bit_rate >= 32000 && bit_rate <= 192000 : bit_rate >= 64000 && bit_rate <= 384000;
}

void AudioEncoderData::fix_svcd() {
  if (!has_audio) return;
  layer = 2, sample_rate = 44100;
  if (channels == 1) {
    if (bit_rate < 32000 || bit_rate > 192000) bit_rate = 128000;
  } else if (bit_rate < 64000 || bit_rate > 384000) {
    bit_rate = 224000;
  }
  recompute_clip_select();
}

void AudioEncoderData::fix_dvd() {
  if (!has_audio) return;
  const bool ok = layer == 2 && sample_rate == 48000 &&
                  (channels == 1 ? bit_rate >= 64000 && bit_rate <= 192000 : bit_rate >= 64000 && bit_rate <= 384000);
  if (!ok) {
    layer = 2, sample_rate = 48000;
    if (channels == 1) {
      bit_rate = std::clamp(bit_rate, 128000, 192000);
    } else {
      channels = 2;
      bit_rate = std::clamp(bit_rate, 224000, 384000);
    }
  }
  recompute_clip_select();
}

int AudioEncoderData::write(FILE* f) const {
  std::fprintf(f, "//\n// audio encoder parameters\n//\n[AudioEncoderData]\n");
  std::fprintf(f, "  %d\n  %d\n  %d %d %d %d\n  %d\n  %d\n\n", clip_select, has_audio, layer, sample_rate, channels,
               bit_rate, copy_flag, second_flag);
  return std::ferror(f) ? 1 : 0;
}

int AudioEncoderData::load(FILE* f) {
  std::rewind(f);
  if (!rec_find_section(f, "[AudioEncoderData]")) {
    trace("AudioEncoderData::load (ERROR): no audio encoder data file-id found\n");
    return 2;
  }
  auto short_data = [] {
    trace("AudioEncoderData::load (ERROR): not enough data\n");
    return 2;
  };
  std::vector<double> v;
  if (!need(f, 1, &v)) return short_data();
  clip_select = int(v[0]);
  if (clip_select < -1) {
    trace("AudioEncoderData::load (ERROR): invalid clip_select (%d)\n", clip_select);
    clip_select = -1;
    return 2;
  }
  if (!need(f, 1, &v)) return short_data();
  has_audio = int(v[0]);
  if (has_audio != 0 && has_audio != 1) {
    trace("AudioEncoderData::load (ERROR): invalid has_audio\n");
    has_audio = 0;
    return 2;
  }
  if (!need(f, 4, &v)) return short_data();
  layer = int(v[0]), sample_rate = int(v[1]), channels = int(v[2]), bit_rate = int(v[3]);
  if (!need(f, 1, &v)) return short_data();
  copy_flag = int(v[0]);
  const long at = std::ftell(f);
  if (next_ints(f, &v) && v.size() == 1 && (v[0] == 0 || v[0] == 1)) second_flag = int(v[0]);
  else std::fseek(f, at, SEEK_SET);
  if (has_audio) {
    const bool rate_ok = sample_rate == 44100 || sample_rate == 48000 || sample_rate == 32000;
    if (layer >= 1 && layer <= 3) {
      if (!rate_ok || (channels != 1 && channels != 2) || mpeg_audio_nearest_bit_rate(bit_rate, layer) == 0) {
        trace("AudioEncoderData::load (ERROR): invalid coding parameters\n");
        trace("(l=%d, s=%d, c=%d, b=%d)\n", layer, sample_rate, channels, bit_rate);
        return 2;
      }
    } else if (layer == 0) {
      if (!rate_ok || (channels != 1 && channels != 2)) {
        trace("ERROR (AudioEncoderData::load): AC-3, invalid coding parameters\n");
        trace("    (s=%d, c=%d, b=%d)\n", sample_rate, channels, bit_rate);
        return 2;
      }
    } else {
      trace("AudioEncoderData::load (ERROR): invalid coding parameters\n");
      return 2;
    }
  }
  if (copy_flag != 0 && copy_flag != 1) {
    trace("AudioEncoderData::load (ERROR): invalid copy_flag = %d\n", copy_flag);
    copy_flag = 0;
    return 2;
  }
  return 0;
}

// ---- EditorRecordData --------------------------------------------------------

bool EditorRecordData::operator!=(const EditorRecordData& o) const {
  return output_type != o.output_type || start != o.start || count != o.count || total != o.total ||
         progress != o.progress || svcd != o.svcd || dvd != o.dvd || video != o.video || !audio.equals(o.audio) ||
         program_pid != o.program_pid || video_pid != o.video_pid || audio_pid != o.audio_pid ||
         file_name != o.file_name || second_file_name != o.second_file_name;
}

void EditorRecordData::update_range() {
  EClip copy = project;
  total = copy.get_total_frames();
  if (start >= total) start = 0;
  if (count == 0 || count > total) count = total - start;
}

int EditorRecordData::get_source_type() {
  video.select_default_clip();
  const int type = video.get_selected_clip_type();
  if (type == 8) {
    int program = 0, v = 0, a = 0;
    video.get_transport_pids(&program, &v, &a);
    // A PID the file does not give keeps the record's.
    if (program > 0) program_pid = program;
    if (v > 0) video_pid = v;
    if (a > 0) audio_pid = a;
  }
  return type;
}

void EditorRecordData::fix_vcd() {
  video.fix_vcd();
  if (audio.has_audio) audio.fix_vcd();
}

void EditorRecordData::fix_svcd() {
  video.fix_svcd();
  if (audio.has_audio) audio.fix_svcd();
}

double EditorRecordData::estimate_output_size() {
  if (count == 0) update_range();
  int rate = 0;
  if (output_type == 2 || output_type == 3) rate = rates.video_es;
  else if (output_type == 4) rate = rates.mpeg1_system;
  else if (output_type == 5) rate = rates.vcd;
  else if (output_type == 6) rate = rates.program;
  else if (output_type == 8) rate = rates.transport;
  return double(rate) * count;
}

void EditorRecordData::set_project(const EClip& p) {
  project = p;
  video.init_data(p, -1);
  if (video.clip_select >= 0) output_type = video.get_selected_clip_type();
  bool has_audio = false;
  for (const Clip& c : p.clips) has_audio = has_audio || c.audio_stream_count > 0;
  if (has_audio) audio.init_data(p, audio.clip_select);
  update_range();
}

int EditorRecordData::write(FILE* f, const char* title) const {
  if (!f) f = stdout;
  std::fprintf(f, "//\n// editor recorder parameters: %s\n//\n[RecordData]\n", title ? title : "");
  std::fprintf(f, "%s\n", second_file_name.c_str());
  std::fprintf(f, "%s\n", file_name.size() > 1 ? file_name.c_str() : second_file_name.c_str());
  std::fprintf(f, " %d %d %d %d\n", output_type, start, count, total);
  // The program PID and the DVD flag follow the values older readers
  // take from these lines: they read past them.
  if (output_type == 8) std::fprintf(f, " %d %d %d\n", video_pid, audio_pid, program_pid);
  if (output_type == 6) std::fprintf(f, " %d %d\n", svcd, dvd);
  std::fprintf(f, "\n");
  const int a = audio.write(f), v = video.write(f);
  int r = a || v ? 1 : 0;
  if (!r) r = project.file_save(f) ? 1 : 0;
  std::fflush(f);
  return r || std::ferror(f) ? 1 : 0;
}

int EditorRecordData::save(const char* name, const char* title) const {
  FILE* f = name ? std::fopen(name, "w") : nullptr;
  if (!f) {
    trace("EditorRecordData::save (ERROR): cannot open file to write (%s)\n", name ? name : "");
    return 1;
  }
  const int r = write(f, title);
  return std::fclose(f) != 0 || r ? 1 : 0;
}

int EditorRecordData::load(const char* name) {
  FILE* f = name ? std::fopen(name, "r") : nullptr;
  if (!f) {
    trace("EditorRecordData::load (ERROR): cannot open file\n");
    return 1;
  }
  struct Closer {
    FILE* f;
    ~Closer() { std::fclose(f); }
  } closer{f};
  if (!rec_find_section(f, "[RecordData]")) {
    trace("EditorRecordData::load (ERROR): no record data file-id found\n");
    return 2;
  }
  std::string a, b;
  if (!rec_next_line(f, &a) || !rec_next_line(f, &b)) {
    trace("EditorRecordData::load (ERROR): not enough data\n");
    return 2;
  }
  second_file_name = utils_strip_spaces(a);
  file_name = utils_strip_spaces(b);
  if (file_name == second_file_name) file_name.clear();
  std::vector<double> v;
  if (!need(f, 4, &v)) {
    trace("EditorRecordData::load (ERROR): not enough data\n");
    return 2;
  }
  output_type = int(v[0]), start = int(v[1]), count = int(v[2]), total = int(v[3]);
  if (output_type < 0 || start < 0 || count < 0 || total < 0) {
    trace("EditorRecordData::load (ERROR): invalid parameter(s) found (%d,%d,%d,%d)\n", output_type, start, count,
          total);
    return 2;
  }
  if (output_type == 8) {
    if (!need(f, 2, &v)) {
      trace("EditorRecordData::load (ERROR): not enough data\n");
      return 2;
    }
    video_pid = int(v[0]), audio_pid = int(v[1]);
    if (video_pid != 0 && (video_pid < 16 || video_pid > 8190)) {
      trace("EditorRecordData::load (ERROR): invalid video PID found (0x%08x)\n", video_pid);
      video_pid = 0;
    }
    if (audio_pid != 0 && (audio_pid < 16 || audio_pid > 8190)) {
      trace("EditorRecordData::load (ERROR): invalid audio PID found (0x%08x)\n", audio_pid);
      audio_pid = 0;
    }
    // Older files end the line here: the record keeps its program PID.
    if (v.size() >= 3) {
      const int program = int(v[2]);
      if (program >= 16 && program <= 8190) program_pid = program;
      else trace("EditorRecordData::load (ERROR): invalid program PID found (0x%08x)\n", program);
    }
  } else if (output_type == 6) {
    if (!need(f, 1, &v)) {
      trace("EditorRecordData::load (ERROR): not enough data\n");
      return 2;
    }
    svcd = int(v[0]);
    if (svcd != 0 && svcd != 1) {
      trace("EditorRecordData::load (ERROR): invalid svcd flag found (%d)\n", svcd);
      return 2;
    }
    // Older files have no DVD flag: no navigation packs.
    dvd = v.size() >= 2 ? int(v[1]) : 0;
    if (dvd != 0 && dvd != 1) {
      trace("EditorRecordData::load (ERROR): invalid dvd flag found (%d)\n", dvd);
      dvd = 0;
      return 2;
    }
    if (svcd) dvd = 0;
  }
  if (const int r = video.load(f)) return r;
  audio.load(f);
  std::rewind(f);
  EClip p;
  // A file whose clips cannot be read is no save job to run.
  if (p.file_load(f) != 0) return 2;
  project = p;
  video.clips = p.clips;
  audio.clips = p.clips;
  return 0;
}
