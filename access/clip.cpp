#include "access/clip.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/trace.h"
#include "formats/jpeg_decoder.h"
#include "formats/still_loader.h"

namespace {

// A file name that may be absent (null).
void assign_name(std::string& file_name, bool& has_file, const char* name) {
  has_file = name != nullptr;
  if (name) file_name = name;
  else file_name.clear();
}

}  // namespace

// ---- OverlayClip ----

OverlayClip& OverlayClip::operator=(const OverlayClip& other) {
  if (this == &other) return *this;
  kind = other.kind;
  position = other.position;
  length = other.length;
  effect_id = other.effect_id;
  effect_span = other.effect_span;
  effect_offset = other.effect_offset;
  // The source was probed already: copy the name as it stands.
  file_name = other.file_name;
  has_file = other.has_file;
  picture_data = other.picture_data;
  picture_size = other.picture_size;
  return *this;
}

void OverlayClip::clear() { *this = OverlayClip(); }

OverlayClip::OverlayClip(int pos, int len, int effect)
    : position(pos), length(len), effect_id(effect), effect_span(len) {}

std::optional<OverlayClip> OverlayClip::with_image(const char* image_file, int k, int pos, int len, int effect) {
  OverlayClip r(pos, len, effect);
  r.kind = k;
  if (r.set_image_file(image_file)) return std::nullopt;
  return r;
}

int OverlayClip::set_image_file(const char* name) {
  if (kind == 0 && name) {
    StillPicture pic;
    if (load_still_picture(name, &pic) && pic.clip_type == 12) {
      kind = 12;
    } else if (jpeg_check_file(name) == 0) {
      kind = 11;
    } else {
      return 1;
    }
  }
  assign_name(file_name, has_file, name);
  return 0;
}

bool OverlayClip::equals(const OverlayClip& o) const {
  if (kind != o.kind || effect_id != o.effect_id || position != o.position || length != o.length ||
      effect_span != o.effect_span || effect_offset != o.effect_offset)
    return false;
  if (std::fabs(frame_rate - o.frame_rate) > 0.01) return false;
  if (has_file != o.has_file || (has_file && file_name != o.file_name)) return false;
  if ((picture_data == nullptr) != (o.picture_data == nullptr)) return false;
  if (picture_data) {
    if (picture_size != o.picture_size) return false;
    if (std::memcmp(picture_data, o.picture_data, size_t(std::max(0, picture_size))) != 0) return false;
  }
  return true;
}

// ---- ClipInfo ----

void ClipInfo::init() {
  mpeg_version = pid = stream_id = stream_word = width = height = 0;
  chroma = 1;
  video_bit_rate = vbr = aspect_ratio_code = 0;
  frame_rate = 0;
  audio_layer = channels = audio_bit_rate = sample_rate = audio_frame_size = crc = ac3_channels = 0;
  ac3_language = ac3_language2 = -1;
}

int ClipInfo::get_audio_type() const {
  if (audio_layer && stream_id >= 0xC0 && stream_id <= 0xDF) return 1;
  if (audio_layer) return 0;
  if (stream_id >= 0x80 && stream_id <= 0x87) return 9;
  if (stream_id >= 0xA0 && stream_id <= 0xA7) return 10;
  if (stream_id == 0xBD) {
    if (pid != 0) return 9;
    if (ac3_channels >= channels && audio_bit_rate < sample_rate * channels * 16) return 9;
  }
  return 0;
}

bool ClipInfo::operator==(const ClipInfo& o) const {
  return mpeg_version == o.mpeg_version && pid == o.pid && stream_id == o.stream_id &&
         stream_word == o.stream_word && width == o.width && height == o.height && chroma == o.chroma &&
         video_bit_rate == o.video_bit_rate && vbr == o.vbr && aspect_ratio_code == o.aspect_ratio_code &&
         frame_rate == o.frame_rate && audio_layer == o.audio_layer && channels == o.channels &&
         audio_bit_rate == o.audio_bit_rate && sample_rate == o.sample_rate &&
         audio_frame_size == o.audio_frame_size && crc == o.crc && ac3_channels == o.ac3_channels &&
         ac3_language == o.ac3_language && ac3_language2 == o.ac3_language2;
}

// ---- Clip ----

Clip::~Clip() = default;

// Every field, overlays included, copies as it stands.
Clip& Clip::operator=(const Clip& o) = default;

const char* Clip::get_clip_name(int type) {
  static const char* const names[] = {"MPEG-1 Audio Stream",   "MPEG-1 Video Stream",
                                      "MPEG-2 Video Stream",   "MPEG-1 Systems Stream",
                                      "MPEG-1 Video-CD Stream", "MPEG-2 Program Stream",
                                      "MPEG-2 SVCD Stream",    "MPEG-2 Transport Stream",
                                      "AC-3 Audio Stream",     "Linear PCM Stream",
                                      "JPEG Still Image",      "Windows Bitmap Image",
                                      "QuickTime Still JPEG Sequence", "AVI DIB (RGB) Sequence"};
  if (type < 1 || type > 14) {
    trace("Clip::get_clip_name (ERROR): invalid clip type=%d\n", type);
    return "Unknown";
  }
  return names[type - 1];
}

bool Clip::equals(const Clip& o) const {
  if (clip_type != o.clip_type) return false;
  if (has_file != o.has_file || (has_file && file_name != o.file_name)) return false;
  if (std::fabs(file_size - o.file_size) > 0.0001) return false;
  if (start != o.start || count != o.count || transition_id != o.transition_id ||
      transition_length != o.transition_length || transition_value1 != o.transition_value1 ||
      transition_value2 != o.transition_value2)
    return false;
  if (overlays.size() != o.overlays.size()) return false;
  for (size_t i = 0; i < overlays.size(); ++i)
    if (!overlays[i].equals(o.overlays[i])) return false;
  if (video_stream_count == o.video_stream_count && video_stream_count >= 2 &&
      (video_stream_id != o.video_stream_id || video_pid != o.video_pid))
    return false;
  if (audio_stream_count == o.audio_stream_count && audio_stream_count >= 2 &&
      (audio_stream_id != o.audio_stream_id || audio_pid != o.audio_pid))
    return false;
  return true;
}

int Clip::get_audio_type() const {
  ClipInfo info;
  info.audio_layer = audio_layer;
  info.stream_id = audio_stream_id;
  info.pid = audio_pid;
  info.ac3_channels = ac3_channels;
  info.channels = channels;
  info.audio_bit_rate = audio_bit_rate;
  info.sample_rate = sample_rate;
  return info.get_audio_type();
}

void Clip::set_file_name(const char* name) {
  assign_name(file_name, has_file, name);
}

const OverlayClip* Clip::get_field_pair(int* out_count) const {
  if (out_count) *out_count = int(overlays.size());
  return overlays.empty() ? nullptr : overlays.data();
}

int Clip::add_overlay_record(const OverlayClip& r) {
  if (r.position < start || r.position >= start + count || r.length < 1) return 0;
  // Any shared frame refuses, and so does an end that touches an existing
  // start: one that holds another overlay whole is refused too.
  for (const OverlayClip& o : overlays)
    if (r.position < o.position + o.length && r.position + r.length >= o.position) return 0;
  auto at = std::find_if(overlays.begin(), overlays.end(),
                         [&](const OverlayClip& o) { return o.position > r.position; });
  overlays.insert(at, r);
  return 1;
}

int Clip::insert_overlay(int effect_id, int position, int length) {
  return add_overlay_record(OverlayClip(position, length, effect_id));
}

int Clip::remove_overlay_at(int frame) {
  if (frame < 0) {
    overlays.clear();
    return 0;
  }
  int removed = 0;
  for (size_t i = overlays.size(); i-- > 0;) {
    if (overlays[i].covers(frame)) {
      removed += overlays[i].length;
      overlays.erase(overlays.begin() + long(i));
    }
  }
  return removed;
}

void Clip::set_overlays(const OverlayClip* list, int n) {
  overlays.clear();
  for (int i = 0; list && i < n; ++i) overlays.push_back(list[i]);
}

void Clip::clip_overlays() {
  const int first = start, past = start + count;
  for (size_t i = overlays.size(); i-- > 0;) {
    OverlayClip& o = overlays[i];
    o.set_frame_rate(frame_rate);
    if (o.position + o.length <= first || o.position >= past || count < 1) {
      overlays.erase(overlays.begin() + long(i));
      continue;
    }
    if (o.position < first) {
      const int cut = first - o.position;
      o.position = first;
      o.length -= cut;
      o.effect_offset += cut;
    }
    if (o.position + o.length > past) o.length = past - o.position;
  }
}

bool Clip::overlay_reaches_end() const {
  for (const OverlayClip& o : overlays)
    if (o.effect_id == 9 || o.position + o.length >= start + count - 1) return true;
  return false;
}

void Clip::cut_transition() {
  start += transition_length;
  count -= transition_length;
  transition_id = transition_length = transition_value1 = transition_value2 = 0;
}
