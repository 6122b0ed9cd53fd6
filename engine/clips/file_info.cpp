#include "engine/clips/file_info.h"

#include <atomic>
#include <cstdlib>

#include "demux/demuxer_cache.h"
#include "demux/goplist.h"
#include "audio/dalist.h"
#include "foundation/gop.h"
#include "foundation/seq_header.h"
#include "foundation/trace.h"
#include "foundation/utils.h"
#include "foundation/video_finders.h"

namespace {

std::atomic<double> g_still_seconds{5.0};

// 1 when the sequence header in front of the last GOP of the stream
// describes another picture format than the stream's first one.
int last_gop_changes(GOPList* list, const VideoInfo& first) {
  GOP g;
  if (list->get_last_gop(&g, 1) <= 0 || !g.data) return 0;
  const int n = g.valid_bytes();
  for (int pos = 0; pos + 4 <= n;) {
    int code = 0;
    const int at = pos + find_next_header_start(g.data + pos, n - pos, &code);
    if (code == 0xFFF || at >= n) break;
    if (code == 0x1B3) {
      SeqHdr s;
      VideoInfo v;
      if (s.decode(g.data + at, n - at) > 0 && !s.invalid && s.get_video_info(&v) == 0)
        return utils_same_video_info(v, first) ? 1 : 0;
      break;
    }
    if (code == 0x100) break;  // pictures begin: no header in front
    pos = at + 4;
  }
  return 0;
}

}  // namespace

int MpegFileInfo::open(const char* file_name) {
  *this = MpegFileInfo();
  if (!file_name || !*file_name) return 1;
  int64_t stamp = 0;
  FileOffset size;
  if (!demux_file_stamp(file_name, &stamp, &size)) return 1;
  std::unique_ptr<DeMuxer> dm(demuxer_create(file_name, 0));
  if (!dm) return 1;
  int count = 0;
  const ESData* es = dm->get_es_data(&count);
  if (!es || count <= 0) return 1;
  name = file_name;
  stream_type = dm->get_stream_type();
  file_size = dm->get_file_size_double();
  length = dm->get_total_length();
  bit_rate = dm->get_bit_rate();
  int selected_pid = 0;
  const int selected_id = dm->get_audio_selection(&selected_pid);
  size_t selected = 0;
  bool have_selected = false;
  for (int i = 0; i < count; ++i) {
    const ESData& r = es[i];
    if (r.is_video()) {
      VideoInfo v;
      if (const SeqHdr* s = r.get_video_header()) s->get_video_info(&v);
      v.vbr = r.is_vbr();
      v.drop_frame = r.get_drop_frame_flag();
      v.stream_id = r.stream_id;
      v.pid = r.pid;
      v.length = length;
      GOPList list(file_name, r.stream_id, r.pid);
      if (list.is_open() && list.build_index() == 0) {
        v.length = list.get_duration();
        v.extra_fields = list.get_extra_fields();
        if (videos.empty()) {
          length = v.length;
          changes += last_gop_changes(&list, v);
        }
      }
      videos.push_back(v);
      continue;
    }
    AudioInfo a;
    a.stream_id = r.stream_id;
    a.pid = r.pid;
    DAList l;
    if (l.init(file_name, r.stream_id, r.pid) == 0) {
      l.get_audio_info(&a);
      a.length = l.get_length();
      if (r.lpcm) {
        // PCM: the rate follows from its samples.
        a.set_audio_type(AUDIO_TYPE_LPCM);
        a.stream_id = r.stream_id;
        a.layer = 0;
        a.bits_per_sample = 16;
        a.bit_rate = a.sample_rate * a.channels * 16;
      }
      // The demultiplexer names AC-3 by private stream 1; its records by
      // their sub-stream.
      const bool is_selected = (selected_id == r.stream_id || (selected_id == 0xBD && r.ac3 && !have_selected)) &&
                               (selected_pid == 0 || selected_pid == r.pid);
      if (is_selected && !have_selected) {
        selected = audios.size();
        have_selected = true;
      }
    }
    audios.push_back(a);
  }
  if (videos.empty() && audios.empty()) {
    *this = MpegFileInfo();
    return 1;
  }
  if (have_selected && selected != 0) std::swap(audios[0], audios[selected]);
  if (stream_type == 8) pmt_pid = dm->get_pmt_pid();
  time = stamp;
  return 0;
}

int MpegFileInfo::matches(const char* file_name) const {
  if (!file_name || !*file_name || name.empty() || name != file_name) return 0;
  int64_t t = 0;
  FileOffset size;
  if (!demux_file_stamp(file_name, &t, &size)) return 0;
  return size.to_double() == file_size && t == time ? 1 : 0;
}

bool MpegFileInfoCache::find(const char* file_name, MpegFileInfo* out) {
  if (!file_name || !out) return false;
  const std::optional<FileStamp> stamp = FileStamp::of(file_name);
  if (!stamp) return false;
  if (std::optional<MpegFileInfo> e = entries_.find(*stamp)) {
    *out = std::move(*e);
  } else {
    // Built with no lock held: a large file takes a while.
    MpegFileInfo built;
    if (built.open(file_name)) return false;
    ++builds_;
    *out = built;
    entries_.put(*stamp, std::move(built));
  }
  // One entry serves every spelling of the file's name.
  out->name = file_name;
  return true;
}

FileInfoFacade::FileInfoFacade() : info_(std::make_unique<MpegFileInfo>()) {}

MpegFileInfoCache& FileInfoFacade::cache() {
  static MpegFileInfoCache c;
  return c;
}

void FileInfoFacade::destroy_registry() { cache().cleanup(); }

int FileInfoFacade::open(const char* file_name) {
  if (!file_name || !*file_name || is_non_mpeg_movie_file(file_name)) return 1;
  MpegFileInfo found;
  if (!cache().find(file_name, &found)) return 1;
  // A facade emptied by close holds a new record.
  if (!info_) info_ = std::make_unique<MpegFileInfo>();
  *info_ = std::move(found);
  return 0;
}

void FileInfoFacade::close() { info_.reset(); }

const VideoInfo* FileInfoFacade::get_video_infos(int* count) const {
  const int n = info_ ? int(info_->videos.size()) : 0;
  if (count) *count = n;
  return n ? info_->videos.data() : nullptr;
}

const AudioInfo* FileInfoFacade::get_audio_infos(int* count) const {
  const int n = info_ ? int(info_->audios.size()) : 0;
  if (count) *count = n;
  return n ? info_->audios.data() : nullptr;
}

int is_non_mpeg_movie_file(const char* name) {
  if (!name) return 0;
  for (const char* e : {".avi", ".mp4", ".mov", ".wmv"})
    if (utils_has_extension(name, e)) return 1;
  return 0;
}

void set_still_image_duration(double seconds) {
  if (seconds > 0.0 && seconds < 86400.0) g_still_seconds.store(seconds);
}

double get_still_image_duration() { return g_still_seconds.load(); }

int differs_by_more_than_2(int32_t a, int32_t b) { return std::llabs(int64_t(a) - int64_t(b)) > 2 ? 1 : 0; }
