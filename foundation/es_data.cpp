#include "foundation/es_data.h"

#include <algorithm>
#include <new>

#include "foundation/audio_info.h"
#include "foundation/bsfile.h"
#include "foundation/gop_header.h"
#include "foundation/mpeg_fields.h"
#include "foundation/probe.h"
#include "foundation/trace.h"
#include "foundation/utils.h"
#include "foundation/video_info.h"

namespace {
// Stand-ins for an MPEG audio header that did not parse: 224 kbit/s at
// 44.1 kHz, whose frames are 731 bytes.
constexpr int kFallbackBitRate = 224000;
constexpr int kFallbackSampleRate = 44100;
constexpr int kFallbackChannels = 2;
constexpr int kFallbackLayer = 2;
constexpr int kFallbackFrameSize = 731;

// An audio value: the stored one, else the AC-3 header's, else the MPEG
// audio header's (the stand-in when it did not parse); none for LPCM.
int audio_value(const ESData& es, int stored, int32_t AC3FrmHdr::*ac3_field, int32_t FrmHdr::*mpeg_field,
                int fallback) {
  if (stored) return stored;
  if (es.ac3) {
    const AC3FrmHdr* a = es.get_ac3_header();
    return a ? a->*ac3_field : 0;
  }
  if (es.lpcm) return 0;
  if (const FrmHdr* h = es.get_audio_header()) return h->valid ? h->*mpeg_field : fallback;
  return 0;
}
}  // namespace

// ---- record

ESData& ESData::operator=(const ESData& o) {
  if (this == &o) return *this;
  name = o.name;
  kind = o.kind;
  stream_id = o.stream_id;
  pid = o.pid;
  program_index = o.program_index;
  max_packet_size = o.max_packet_size;
  max_payload_size = o.max_payload_size;
  bit_rate = o.bit_rate;
  vbr = o.vbr;
  drop_frame = o.drop_frame;
  average_gop_length = o.average_gop_length;
  file_size = o.file_size;
  info_words[0] = o.info_words[0];
  info_words[1] = o.info_words[1];
  audio_offset = o.audio_offset;
  audio_bit_rate = o.audio_bit_rate;
  sample_rate = o.sample_rate;
  channels = o.channels;
  layer = o.layer;
  duration = o.duration;
  header_offset = o.header_offset;
  ac3 = o.ac3;
  lpcm = o.lpcm;
  lpcm_channels = o.lpcm_channels;
  lpcm_bytes_per_frame = o.lpcm_bytes_per_frame;
  seq_.reset(o.seq_ ? new SeqHdr(*o.seq_) : nullptr);
  frm_.reset(o.frm_ ? new FrmHdr(*o.frm_) : nullptr);
  ac3_.reset(o.ac3_ ? new AC3FrmHdr(*o.ac3_) : nullptr);
  return *this;
}

void ESData::clear() { *this = ESData(); }

void ESData::open(const char* file_name, int* error) {
  clear();
  set_name(file_name);
  const int ok = mpeg_get_es_data(this);
  if (error) *error = ok ? 0 : 1;
}

void ESData::free_header() {
  seq_.reset();
  frm_.reset();
  ac3_.reset();
}

void ESData::set_name(const char* file_name) {
  if (file_name)
    name = file_name;
  else
    name.clear();
}

void ESData::set_video_header(const SeqHdr& header) {
  free_header();
  seq_ = std::make_unique<SeqHdr>(header);
  ac3 = lpcm = 0;
  // The mpeg2 flag, not the extension object: the MPEG-1 defaults keep one
  // for their progressive and chroma values.
  kind = header.mpeg2 ? ES_KIND_MPEG2_VIDEO : ES_KIND_MPEG1_VIDEO;
}

void ESData::set_audio_header(const FrmHdr& header) {
  free_header();
  frm_ = std::make_unique<FrmHdr>(header);
  if (header.valid) {
    sample_rate = header.sample_rate;
    channels = header.channels;
    audio_bit_rate = header.bit_rate;
    layer = header.layer;
  } else {
    sample_rate = kFallbackSampleRate;
    channels = kFallbackChannels;
    audio_bit_rate = kFallbackBitRate;
    layer = kFallbackLayer;
  }
  kind = ES_KIND_MPEG_AUDIO;
  ac3 = lpcm = 0;
}

void ESData::set_ac3_header(const AC3FrmHdr& header) {
  free_header();
  ac3_ = std::make_unique<AC3FrmHdr>(header);
  audio_bit_rate = header.bit_rate;
  sample_rate = header.sample_rate;
  channels = header.channels;
  layer = 0;
  ac3 = 1;
  lpcm = 0;
  kind = ES_KIND_AC3;
}

void ESData::set_lpcm_header(int id, int rate, int ch) {
  free_header();
  kind = ES_KIND_LPCM;
  stream_id = id;
  layer = 0;
  sample_rate = rate;
  channels = std::min(ch, 2);
  bit_rate = audio_bit_rate = rate * ch * 16;
  ac3 = 0;
  lpcm = 1;
  lpcm_channels = ch;
  lpcm_bytes_per_frame = (rate / 60) * ch * 2;
}

// ---- video queries

namespace {
const SeqHdr* video_header_or_trace(const ESData& es, const char* query) {
  const SeqHdr* h = es.get_video_header();
  if (!h) trace("ESData::%s (ERROR): no video header\n", query);
  return h;
}
}  // namespace

int ESData::is_video_mpeg2() const {
  const SeqHdr* h = video_header_or_trace(*this, "is_video_mpeg2");
  return h ? h->mpeg2 : 0;
}

int ESData::get_video_width() const {
  const SeqHdr* h = video_header_or_trace(*this, "get_video_width");
  return h ? h->get_horizontal_size() : 0;
}

int ESData::get_video_height() const {
  const SeqHdr* h = video_header_or_trace(*this, "get_video_height");
  return h ? h->get_vertical_size() : 0;
}

int ESData::get_video_bit_rate() const {
  const SeqHdr* h = video_header_or_trace(*this, "get_video_bit_rate");
  return h ? h->get_bit_rate() : bit_rate;
}

int ESData::get_video_chroma_format() const {
  const SeqHdr* h = video_header_or_trace(*this, "get_video_chroma_format");
  return h ? h->get_chroma_format() : 1;
}

int ESData::get_video_pel_aspect_ratio() const {
  const SeqHdr* h = video_header_or_trace(*this, "get_video_pel_aspect_ratio");
  return h ? h->get_aspect_ratio_information() : 2;
}

int ESData::get_video_progressive_sequence() const {
  const SeqHdr* h = video_header_or_trace(*this, "get_video_progressive_sequence");
  return h ? h->get_progressive_sequence() : 0;
}

double ESData::get_video_frame_rate() const {
  const SeqHdr* h = video_header_or_trace(*this, "get_video_frame_rate");
  return h ? h->get_frame_rate() : 0.0;
}

int ESData::get_profile_level() const {
  const SeqHdr* h = video_header_or_trace(*this, "get_profile_level");
  return h ? h->get_profile_level() : 0;
}

int ESData::is_vbr() const {
  if (is_video() && bit_rate == 0 && !name.empty()) return mpegfile_is_vbr(name.c_str());
  return vbr;
}

int ESData::get_video_info(VideoInfo* info) const {
  if (!info) return 1;
  *info = VideoInfo();
  if (const SeqHdr* h = get_video_header()) h->get_video_info(info);
  info->video_type = kind;
  info->mpeg2 = is_video_mpeg2();
  info->vbr = is_vbr();
  info->bit_rate = get_video_bit_rate();
  info->frame_rate = get_video_frame_rate();
  info->drop_frame = drop_frame;
  info->width = get_video_width();
  info->height = get_video_height();
  info->chroma_format = get_video_chroma_format();
  info->aspect_ratio_information = get_video_pel_aspect_ratio();
  info->progressive_sequence = get_video_progressive_sequence();
  info->stream_id = stream_id;
  info->pid = pid;
  info->stream_word = info_words[0];
  info->average_gop_length = average_gop_length;
  if (info->width <= 0 || info->height <= 0 || info->frame_rate <= 0.0 || info->bit_rate <= 0) return 1;
  return 0;
}

// ---- audio queries

int ESData::get_audio_layer() const {
  if (layer || ac3 || lpcm) return layer;
  if (const FrmHdr* h = get_audio_header()) return h->valid ? h->layer : kFallbackLayer;
  return 0;
}

int ESData::get_audio_bit_rate() const {
  return audio_value(*this, audio_bit_rate, &AC3FrmHdr::bit_rate, &FrmHdr::bit_rate, kFallbackBitRate);
}

int ESData::get_audio_sample_rate() const {
  return audio_value(*this, sample_rate, &AC3FrmHdr::sample_rate, &FrmHdr::sample_rate, kFallbackSampleRate);
}

int ESData::get_audio_channels() const {
  return audio_value(*this, channels, &AC3FrmHdr::channels, &FrmHdr::channels, kFallbackChannels);
}

int ESData::get_audio_crc_flag() const {
  const FrmHdr* h = get_audio_header();
  return h ? h->error_protection : 0;
}

int ESData::get_ac3_channels() const {
  const AC3FrmHdr* h = get_ac3_header();
  return h ? h->bsi.get_channels() : 0;
}

int ESData::get_ac3_language_code() const {
  const AC3FrmHdr* h = get_ac3_header();
  return h ? h->bsi.langcod : 0;
}

int ESData::get_ac3_language_code2() const {
  const AC3FrmHdr* h = get_ac3_header();
  return h ? h->bsi.langcod2 : 0;
}

double ESData::get_audio_frame_duration() const {
  int rate = get_audio_sample_rate();
  if (rate <= 0) rate = 48000;
  if (ac3) return 1536.0 / rate;
  if (lpcm) {
    double samples = 80.0;
    if (lpcm_bytes_per_frame > 0 && get_channel_count() > 0)
      samples = static_cast<double>(lpcm_bytes_per_frame) / (2.0 * get_channel_count());
    return samples / rate;
  }
  const int l = get_audio_layer();
  if (l == 1) return 384.0 / rate;
  // Layer III at the lower sampling frequencies has 576 samples a frame.
  const FrmHdr* h = get_audio_header();
  const bool lsf = h && h->valid ? h->lsf != 0 : rate < 32000;
  if (l == 3 && lsf) return 576.0 / rate;
  return 1152.0 / rate;
}

int ESData::get_audio_frame_size() const {
  if (ac3) return ac3_ ? ac3_->frame_size : 0;
  if (lpcm) return lpcm_bytes_per_frame;
  const FrmHdr* h = get_audio_header();
  if (!h) return 0;
  if (!h->valid) return kFallbackFrameSize;
  return h->frame_size - (h->padding ? h->padding_slot() : 0);
}

int ESData::get_audio_info(AudioInfo* info) const {
  if (!info) return 1;
  *info = AudioInfo();
  info->layer = get_audio_layer();
  info->channels = get_audio_channels();
  info->sample_rate = get_audio_sample_rate();
  info->bit_rate = get_audio_bit_rate();
  info->bits_per_sample = 16;
  info->frame_size = get_audio_frame_size();
  info->stream_id = stream_id;
  info->pid = pid;
  info->stream_word = info_words[0];
  info->extra_word = info_words[1];
  info->full_channels = ac3 ? get_ac3_channels() : lpcm ? lpcm_channels : channels;
  if (ac3 || lpcm || kind == ES_KIND_MPEG_AUDIO)
    info->set_audio_type(ac3 ? AUDIO_TYPE_AC3 : lpcm ? AUDIO_TYPE_LPCM : AUDIO_TYPE_MPEG);
  if (info->sample_rate <= 0 || info->channels <= 0 || info->bit_rate <= 0) return 1;
  return 0;
}

double ESData::get_duration() {
  if (duration <= 0.0) {
    if (file_size.value() == 0) mpeg_get_es_data(this);
    if (bit_rate > 0) duration = file_size.to_double() * 8.0 / bit_rate;
  }
  return duration;
}

// ---- reading the start of a file

std::unique_ptr<uint8_t[]> mpeg_load_data(const char* name, int* size) {
  if (!name || !*name || !size) return nullptr;
  if (*size < 1) *size = 0x80000;
  std::unique_ptr<uint8_t[]> buf;
  for (;;) {
    buf.reset(new (std::nothrow) uint8_t[static_cast<size_t>(*size) + 8]);
    if (buf) break;
    *size /= 2;
    if (*size <= 16384) return nullptr;
  }
  int err = 0;
  BSFile f(name, 1, &err);
  if (err || !f.is_open()) return nullptr;
  const size_t got = f.read(buf.get(), static_cast<size_t>(*size));
  if (!got) return nullptr;
  *size = static_cast<int>(got);
  return buf;
}

int mpeg_get_es_data(ESData* es) {
  if (!es || es->name.empty()) {
    trace("ERROR (mpeg_get_es_data): %s\n", es ? "no file name" : "es_data=nil");
    return 0;
  }
  const char* name = es->name.c_str();
  const int type = mpegfile_get_stream_type(name);
  if (type != STREAM_TYPE_MPEG1_AUDIO && type != STREAM_TYPE_MPEG1_VIDEO && type != STREAM_TYPE_MPEG2_VIDEO &&
      type != STREAM_TYPE_AC3_AUDIO) {
    trace("ERROR (mpeg_get_es_data): <%s> is not an elementary stream (type %d)\n", name, type);
    return 0;
  }
  int size = 0;
  std::unique_ptr<uint8_t[]> data = mpeg_load_data(name, &size);
  if (!data) {
    trace("ERROR (mpeg_get_es_data): cannot read <%s>\n", name);
    return 0;
  }
  {
    int err = 0;
    BSFile f(name, 1, &err);
    es->file_size = f.is_open() ? f.size() : FileOffset();
  }
  const double total = es->file_size.to_double();
  int ok = 0;
  int id = 0;

  if (type == STREAM_TYPE_AC3_AUDIO) {
    AC3FrmHdr h;
    if (ac3_check_frames(&h, data.get(), size, 3, 0) && h.valid) {
      es->set_ac3_header(h);
      es->header_offset = h.first_offset;
      es->sample_rate = h.sample_rate;
      es->channels = h.channels;
      es->bit_rate = es->audio_bit_rate = h.bit_rate;
      if (h.bit_rate > 0) es->duration = (total - h.first_offset) / (h.bit_rate / 8.0);
      id = 128;
      ok = 1;
    }
  } else if (type == STREAM_TYPE_MPEG1_VIDEO || type == STREAM_TYPE_MPEG2_VIDEO) {
    uint32_t code = 0;
    int64_t at = utils_next_usr_start_code(0x000001B3, data.get(), size, &code);
    if (!code && type == STREAM_TYPE_MPEG2_VIDEO) {
      size = 0x200000;
      data = mpeg_load_data(name, &size);
      if (data) at = utils_next_usr_start_code(0x000001B3, data.get(), size, &code);
    }
    SeqHdr seq;
    const int used = code ? seq.decode(data.get() + at, static_cast<int>(size - at)) : 0;
    if (used > 0) {
      es->set_video_header(seq);
      es->bit_rate = seq.get_bit_rate();
      es->vbr = mpegfile_is_vbr(name);
      es->header_offset = at;
      if (!es->vbr && es->bit_rate > 0) es->duration = (total - static_cast<double>(at)) / (es->bit_rate / 8.0);
      const int64_t after = at + used;
      int next = 0;
      const int64_t gop_at = utils_next_start_code(data.get() + after, size - after, &next);
      if (next == 0x1B8) {
        GopHdr gop;
        if (gop.decode(data.get() + after + gop_at, static_cast<int>(size - after - gop_at)) > 0)
          es->drop_frame = gop.get_drop_frame_flag();
      }
      id = 224;
      ok = 1;
    }
  } else {
    FrmHdr h;
    if (h.check_frames(data.get(), size, 3, 0)) {
      es->set_audio_header(h);
      es->bit_rate = es->audio_bit_rate;
      es->header_offset = h.first_offset;
      if (es->bit_rate > 0) es->duration = (total - h.first_offset) / (es->bit_rate / 8.0);
      id = 192;
      ok = 1;
    }
  }
  if (!ok) {
    trace("ERROR (mpeg_get_es_data): no stream header found in <%s>\n", name);
    return 0;
  }
  if (es->stream_id == 0) es->stream_id = id;
  return 1;
}
