#include "engine/clips/clip_verify.h"
#include "engine/clips/file_info.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "demux/demuxer_cache.h"
#include "demux/goplist.h"
#include "demux/goplist_cache.h"
#include "engine/clips/cliplist_file.h"
#include "formats/avi.h"
#include "formats/jpeg_decoder.h"
#include "formats/qt_decoder.h"
#include "formats/still_loader.h"
#include "foundation/audio_info.h"
#include "foundation/file_stamp.h"
#include "foundation/probe.h"
#include "foundation/seq_header.h"
#include "foundation/trace.h"
#include "foundation/utils.h"

namespace {

StampedCache<Clip>& cache() {
  static StampedCache<Clip> c;
  return c;
}

std::atomic<long> g_verifications{0};

bool is_audio_id(const ESData& e) {
  const int id = e.stream_id;
  if ((id >= 0xC0 && id <= 0xDF) || (id >= 0x80 && id <= 0x87) || (id >= 0xA0 && id <= 0xA7)) return true;
  if (id == 0xBD)
    return e.pid != 0 || (e.ac3 && e.audio_bit_rate < e.sample_rate * std::max(1, e.channels) * 16);
  return false;
}

// Audio stream parameters of one elementary stream.
void take_audio_facts(Clip* c, const ESData& e) {
  c->audio_stream_id = e.stream_id;
  c->audio_pid = e.pid;
  c->audio_layer = e.layer;
  c->sample_rate = e.sample_rate;
  c->channels = e.channels;
  c->audio_bit_rate = e.audio_bit_rate;
  // AC-3: the full channel count, LFE included, as for an AC-3 file.
  c->ac3_channels = e.ac3 ? std::max(e.channels, e.get_ac3_channels()) : 0;
}

void apply_range(Clip* c, int total) {
  if ((c->start || c->count) && c->start + c->count >= total) {
    if (c->start >= total) c->start = 0;
    c->count = total - c->start;
  }
  if (c->count < 1) c->count = total - c->start;
  if (c->start == 0 && c->count == 0) c->count = total;
}

// Audio of an MPEG file with video: the wanted stream, or (when none was
// asked for) the best of the counted ones; never a stream that is no audio.
void choose_audio(Clip* c, DeMuxer* dm) {
  int n = 0;
  ESData* es = dm->get_es_data(&n);
  const ESData* choice = nullptr;
  int counted = 0;
  const int wanted = c->audio_stream_id, wanted_pid = c->audio_pid;
  const ESData* first_counted = nullptr;
  // A transport stream with several programs: without a wanted stream the
  // audio comes from the video's own program.
  int program = -1;
  for (int i = 0; i < n; ++i)
    if (es[i].is_video() && es[i].stream_id == c->video_stream_id && es[i].pid == c->video_pid)
      program = es[i].program_index;
  for (int i = 0; i < n; ++i) {
    const ESData& e = es[i];
    if (e.is_video() || !is_audio_id(e)) continue;
    ++counted;
    if (wanted == 0 && program >= 0 && e.program_index != program) continue;
    if (!first_counted) first_counted = &e;
    const bool match = wanted == 0 || (e.stream_id == 0xBD && wanted_pid ? e.pid == wanted_pid : e.stream_id == wanted);
    if (!choice && match) {
      choice = &e;
      continue;
    }
    if (choice && wanted == 0 && counted >= 2) {
      const bool lower = e.stream_id < choice->stream_id && e.channels >= choice->channels &&
                         e.sample_rate >= choice->sample_rate && e.audio_bit_rate >= choice->audio_bit_rate;
      const bool richer = e.stream_id == choice->stream_id && e.channels > choice->channels &&
                          e.sample_rate >= choice->sample_rate && e.audio_bit_rate >= choice->audio_bit_rate;
      if (lower || richer) choice = &e;
    }
  }
  if (!choice && first_counted) {
    trace("Clip::set_mpeg_parameters (Warning): audio stream 0x%02x not found, 0x%02x taken\n", wanted,
          first_counted->stream_id);
    choice = first_counted;
  }
  c->audio_stream_count = counted;
  if (!choice) return;
  take_audio_facts(c, *choice);
  c->bits_per_sample = 16;
  if (c->audio_stream_count == 0) c->audio_stream_count = 1;
}

// The video facts of the stream a GOP index reads.
void take_video_facts(Clip* c, GOPList* list, int total) {
  const SeqHdr& s = list->get_seqhdr();
  int pid = 0;
  c->video_stream_id = list->get_stream_id(&pid);
  c->video_pid = pid;
  c->vbr = s.is_vbr() ? 1 : 0;
  c->mpeg2 = s.mpeg2 ? 1 : 0;
  c->video_bit_rate = s.get_bit_rate();
  c->frame_rate = list->get_frame_rate();
  c->video_frame_period = c->frame_rate > 0 ? 1.0 / c->frame_rate : 0;
  c->width = s.get_horizontal_size();
  c->height = s.get_vertical_size();
  c->aspect_ratio_code = s.get_aspect_ratio_information();
  c->video_frame_total = total;
  c->first_time_code = list->get_time_code_word();
}

int set_mpeg_parameters(Clip* c) {
  auto list = std::make_unique<GOPList>();
  if (GoplistCache::take_from_cache(list.get(), c->get_file_name(), c->video_stream_id, c->video_pid)) return 0;
  const int total = list->get_total_frames();
  if (total < 1) return 0;
  take_video_facts(c, list.get(), total);
  DeMuxer* dm = list->get_demuxer();
  c->video_stream_count = dm ? std::max(1, dm->get_video_es_count()) : 1;
  apply_range(c, total);
  c->audio_stream_count = 0;
  if (dm) choose_audio(c, dm);
  return 1;
}

void set_still_header(Clip* c, int width, int height) {
  SeqHdr s;
  s.setup(width, height, 0, 0, 0);
  c->video_stream_count = 1;
  c->video_stream_id = c->video_pid = 0;
  if (c->count < 1) {
    c->frame_rate = s.get_frame_rate();
    c->count = get_still_image_frames(c->frame_rate);
    c->start = 0;
  }
  c->mpeg2 = s.mpeg2 ? 1 : 0;
  c->video_bit_rate = s.get_bit_rate();
  c->frame_rate = s.get_frame_rate();
  c->width = width;
  c->height = height;
  c->video_frame_total = 1;
  c->audio_stream_count = c->audio_stream_id = c->audio_pid = 0;
}

int set_jpeg_parameters(Clip* c) {
  if (jpeg_check_file(c->get_file_name()) != 0) return 0;
  StillPicture pic;
  if (load_still_picture(c->get_file_name(), &pic) != 11) return 0;
  set_still_header(c, pic.width, pic.height);
  return 1;
}

int set_image_parameters(Clip* c) {
  StillPicture pic;
  if (load_still_picture(c->get_file_name(), &pic) != 12) return 0;
  set_still_header(c, pic.width, pic.height);
  return 1;
}

int set_qt_parameters(Clip* c) {
  int status = 1;
  QT_Decoder qt(c->get_file_name(), &status, 0);
  if (status != 0 || qt.get_total_samples() < 1) return 0;
  apply_range(c, qt.get_total_samples());
  SeqHdr s;
  s.setup(qt.width, qt.height, 0, 0, 0);
  c->video_stream_count = 1;
  c->video_stream_id = c->video_pid = 0;
  c->mpeg2 = s.mpeg2 ? 1 : 0;
  c->width = qt.width;
  c->height = qt.height;
  c->frame_rate = qt.frame_rate;
  c->video_bit_rate = int(std::min<int64_t>(qt.bit_rate, INT32_MAX));
  c->file_bit_rate = c->video_bit_rate;
  c->video_frame_total = qt.get_total_samples();
  c->audio_stream_count = c->audio_stream_id = c->audio_pid = 0;
  return 1;
}

int set_avi_parameters(Clip* c) {
  int status = 1;
  Avi avi(c->get_file_name(), &status);
  if (status != 0 || avi.video_samples < 1) return 0;
  apply_range(c, avi.video_samples);
  c->video_stream_count = 0;
  c->video_stream_id = 1;
  c->video_pid = 0;
  c->width = avi.get_width();
  c->height = avi.get_height();
  c->frame_rate = avi.get_frame_rate();
  c->video_bit_rate = int(std::min(double(INT32_MAX), double(avi.frame_buffer.size()) * 8 * c->frame_rate));
  SeqHdr s;
  s.setup(c->width, c->height, 0, 0, 0);
  c->mpeg2 = s.mpeg2 ? 1 : 0;
  c->video_frame_total = avi.video_samples;
  // The wave format: tag, channels, rate, bytes a second, block, bits.
  const std::vector<uint8_t>& wf = avi.hdrl.audio_format;
  if (wf.size() >= 16) {
    auto u16 = [&](size_t at) { return int(wf[at] | (wf[at + 1] << 8)); };
    auto u32 = [&](size_t at) { return uint32_t(u16(at)) | (uint32_t(u16(at + 2)) << 16); };
    c->audio_stream_count = 1;
    c->audio_layer = 2;
    c->channels = u16(2);
    c->sample_rate = int(std::min<uint32_t>(u32(4), INT32_MAX));
    c->audio_bit_rate = int(std::min<uint64_t>(uint64_t(u32(8)) * 8, INT32_MAX));
    c->bits_per_sample = u16(14);
    c->ac3_channels = c->channels;
  }
  c->file_bit_rate = c->audio_bit_rate + c->video_bit_rate;
  return 1;
}

// Audio only: 1 for an MPEG audio file, or a multiplex with audio and no video.
int detect_type(Clip* c) {
  int bit_rate = 0;
  const int t = mpegfile_get_stream_type_and_bit_rate(c->get_file_name(), &bit_rate);
  c->file_bit_rate = bit_rate;
  switch (t) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 8: case 9: c->clip_type = t; break;
    default: c->clip_type = 0; return 0;
  }
  if (t == 1) {
    c->audio_stream_count = 1;
    return 1;
  }
  if (t == 9 || t == 2 || t == 3) return 0;
  std::unique_ptr<DeMuxer> dm(demuxer_create(c->get_file_name(), 0));
  if (!dm) return 0;
  return dm->get_video_es_count() == 0 && dm->get_audio_es_count() > 0 ? 1 : 0;
}

}  // namespace

int get_still_image_frames(double frame_rate) {
  // A still plays for the set duration unless its clip says otherwise.
  return int(get_still_image_duration() * (frame_rate > 1 ? frame_rate : 25.0) + 0.5);
}

int clip_verification(Clip* c) {
  const char* name = c->get_file_name();
  // Only plain files: a device or a pipe named in a project would be read
  // for ever.
  struct stat st;
  FILE* f = name && stat(name, &st) == 0 && S_ISREG(st.st_mode) ? std::fopen(name, "r") : nullptr;
  if (!f) {
    trace("Clip::verification (ERROR): <%s> cannot open to read\n", name ? name : "");
    return 0;
  }
  std::fclose(f);
  ++g_verifications;
  c->file_size = double(utils_get_file_size(name));
  if (c->file_size < 32768 && c->clip_type == 0 && check_cliplist_file(name) == 0) {
    trace("Clip::verification (ERROR): initialize it with a project file (%s)\n", name);
    return 0;
  }
  const int audio_only = detect_type(c);
  if (audio_only || c->clip_type == 9) {
    clip_set_abs_parameters(c);
    if (c->audio_frame_total < 1) return 0;
    if (c->count < 1 || c->start + c->count > c->audio_frame_total) {
      apply_range(c, c->audio_frame_total);
    }
    c->video_stream_count = 0;
  } else if (c->clip_type != 0) {
    if (!set_mpeg_parameters(c)) c->clip_type = 0;
  } else if (set_qt_parameters(c)) {
    c->clip_type = 13;
  } else if (set_avi_parameters(c)) {
    c->clip_type = 14;
  } else if (set_jpeg_parameters(c)) {
    c->clip_type = 11;
  } else if (set_image_parameters(c)) {
    c->clip_type = 12;
  }
  if (c->clip_type == 0) {
    trace("Clip::verification (ERROR): <%s> unknown type\n", name);
    return 0;
  }
  if (c->count == 0 || c->start < 0) {
    trace("Clip::verification (ERROR): invalid parameter: start=%d, count=%d\n", c->start, c->count);
    c->clip_type = 0;
    return 0;
  }
  if (c->transition_id == 0 && c->transition_length > 0) {
    trace("Clip::verification (ERROR): uncompatible parameter: effect=0, transitions=%d\n", c->transition_length);
    c->transition_length = 0;
  } else if (c->transition_id != 0 && c->transition_length <= 0) {
    trace("Clip::verification (ERROR): uncompatible parameter: effect=%d, transitions=%d\n", c->transition_id,
          c->transition_length);
    c->transition_id = 0;
  } else if (c->transition_length > c->count) {
    c->transition_length = c->count;
  }
  char full[PATH_MAX];
  if (std::strlen(name) < 2 || name[1] != ':') {
    if (utils_get_full_pathname(name, full, sizeof full)) c->set_file_name(full);
  }
  return 1;
}

void clip_set_abs_parameters(Clip* c) {
  const char* name = c->get_file_name();
  if (name) {
    DAList list;
    if (list.init(name, c->audio_stream_id, c->audio_pid) != 0) {
      if (c->audio_frame_period <= 0) c->audio_frame_period = 1152.0 / 44100;
      return;
    }
    c->audio_frame_period = list.get_frame_period();
    c->audio_length = list.get_length();
    c->audio_frame_total = int(c->audio_length / c->audio_frame_period + 0.5);
    if (c->start >= c->audio_frame_total) {
      trace("Clip::set_abs_parameters (ERROR): uncompatible parameters: start=%d >= %d=count\n", c->start,
            c->audio_frame_total);
      c->start = 0;
    }
    if (c->transition_length > c->audio_frame_total) {
      trace("Clip::set_abs_parameters (ERROR): uncompatible parameters: transitions=%d > %d=count\n",
            c->transition_length, c->audio_frame_total);
      c->transition_length = c->audio_frame_total;
    }
    if (c->sample_rate == 0) {
      AudioInfo info;
      list.get_audio_info(&info);
      c->audio_layer = list.get_layer();
      c->audio_bit_rate = list.get_bit_rate();
      c->sample_rate = list.get_sample_rate();
      // AC-3: the full channel count, LFE included.
      c->ac3_channels = info.full_channels;
      c->channels = info.full_channels ? info.full_channels : list.get_channels();
    }
    if (c->audio_stream_count == 0) c->audio_stream_count = list.get_stream_list(nullptr, nullptr, 32);
    if (c->audio_stream_id == 0) {
      int pid = 0;
      c->audio_stream_id = list.get_stream_id(&pid);
      c->audio_pid = pid;
    }
    return;
  }
  const bool rate_ok = c->sample_rate == 44100 || c->sample_rate == 48000 || c->sample_rate == 32000;
  if (c->audio_layer >= 1 && c->audio_layer <= 3 && rate_ok && (c->channels == 1 || c->channels == 2)) {
    c->audio_frame_period = (c->audio_layer == 1 ? 384.0 : 1152.0) / c->sample_rate;
    return;
  }
  trace("Clip::set_abs_parameters (ERROR): fname=nil\n");
  if (c->audio_frame_period <= 0) c->audio_frame_period = 1152.0 / 44100;
}

std::optional<Clip> clip_ctor(const char* file_name, int start, int count, int audio_stream_id, int clip_type,
                              EngineError* error) {
  if (!file_name) {
    trace("Clip::ctor (ERROR): nil input pointer(s)\n");
    engine_error_set(error, EngineError::bad_input, "no file name");
    return std::nullopt;
  }
  const std::optional<FileStamp> key = FileStamp::of(file_name);
  const bool keyed = key.has_value();
  std::optional<Clip> cached = keyed ? cache().find(*key) : std::nullopt;
  if (cached) {
    const Clip& found = *cached;
    // Facts of the file are shared; the range is this clip's own.
    Clip out = found;
    out.start = start;
    out.count = count;
    if (found.is_still_image()) {
      if (count < 1) out.count = get_still_image_frames(found.frame_rate);
      out.start = 0;
    } else {
      apply_range(&out, found.video_frame_total > 0 ? found.video_frame_total : found.audio_frame_total);
    }
    // Another audio stream is verified on its own.
    if (!audio_stream_id || audio_stream_id == found.audio_stream_id) return out;
  }
  Clip c;
  c.clip_type = clip_type;
  c.start = start;
  c.count = count;
  c.audio_stream_id = audio_stream_id;
  c.set_file_name(keyed ? key->path.c_str() : file_name);
  if (!clip_verification(&c)) {
    engine_error_set(error, EngineError::bad_input,
                     std::string("<") + file_name + "> is not a media file this editor opens");
    return std::nullopt;
  }
  if (keyed && !audio_stream_id) {
    Clip whole = c;
    if (!whole.is_still_image()) {
      whole.start = 0;
      whole.count = whole.video_frame_total > 0 ? whole.video_frame_total : whole.audio_frame_total;
    }
    cache().put(*key, whole);
  }
  return c;
}

int mpeg_clip_verify(MPEG_Clip* c) {
  if (c->edit_position < 0) {
    trace("MPEG_Clip::verify (ERROR): offset=%d <%s>\n", c->edit_position,
          c->get_file_name() ? c->get_file_name() : "");
    c->clip_type = 0;
    return 0;
  }
  c->clip_type = 0;
  if (!clip_verification(c)) return 0;
  return c->clip_type;
}

int clip_cache_count() { return cache().count(); }
long clip_cache_verifications() { return g_verifications.load(); }

int clip_select_video_stream(Clip* c, int stream_id, int pid) {
  if (!Clip::is_mpeg_video_type(c->clip_type) || c->video_stream_count < 2 || !c->get_file_name()) return 0;
  if ((!stream_id && !pid) || (stream_id == c->video_stream_id && pid == c->video_pid)) return 0;
  auto list = std::make_unique<GOPList>();
  if (GoplistCache::take_from_cache(list.get(), c->get_file_name(), stream_id, pid)) return 0;
  const int total = list->get_total_frames();
  int got_pid = 0;
  const int got_id = list->get_stream_id(&got_pid);
  // An index that fell back to another stream is no answer to the request.
  if (total < 1 || (stream_id && got_id != stream_id) || (pid && got_pid != pid)) {
    trace("Clip::select_video_stream (ERROR): no video stream 0x%02x (PID %d) in <%s>\n", stream_id, pid,
          c->get_file_name());
    return 0;
  }
  take_video_facts(c, list.get(), total);
  c->start = 0;
  c->count = total;
  if (c->transition_length > c->count) c->transition_length = c->count;
  return 1;
}

int clip_select_audio_stream(Clip* c, int stream_id, int pid) {
  if (!Clip::is_mpeg_video_type(c->clip_type) || c->audio_stream_count < 2 || !c->get_file_name()) return 0;
  if (!stream_id && !pid) return 0;
  if (pid ? pid == c->audio_pid && (!stream_id || stream_id == c->audio_stream_id) : stream_id == c->audio_stream_id)
    return 0;
  std::unique_ptr<DeMuxer> dm(demuxer_create(c->get_file_name(), 0));
  if (!dm) return 0;
  int n = 0;
  const ESData* es = dm->get_es_data(&n);
  for (int i = 0; i < n; ++i) {
    const ESData& e = es[i];
    if (e.is_video() || !is_audio_id(e)) continue;
    if (pid ? e.pid != pid || (stream_id && e.stream_id != stream_id) : e.stream_id != stream_id) continue;
    take_audio_facts(c, e);
    // The frame facts belonged to the old stream: worked out again on use.
    c->audio_frame_period = 0;
    c->audio_length = 0;
    c->audio_frame_total = 0;
    return 1;
  }
  trace("Clip::select_audio_stream (ERROR): no audio stream 0x%02x (PID %d) in <%s>\n", stream_id, pid,
        c->get_file_name());
  return 0;
}
