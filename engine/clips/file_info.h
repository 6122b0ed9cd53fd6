// Stream information of one MPEG file (type, size, length, one record per
// video and per other stream, parameter changes inside the file), built once
// per file version and kept in a process-wide cache; FileInfoFacade is what
// callers hold. Also the small helpers the editor shares around it: the
// non-MPEG movie test, the still-image duration and the records of the GOP
// time-code repair's lists.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/audio_info.h"
#include "foundation/file_offset.h"
#include "foundation/file_stamp.h"
#include "foundation/video_info.h"

class MpegFileInfo {
 public:
  // 0 filled from the file, 1 when it has no demultiplexer or no stream.
  int open(const char* name);
  // The same name (case counts), size and modification time as stored.
  int matches(const char* name) const;

  int32_t stream_type = 0;
  std::string name;
  double file_size = 0.0;
  double length = 0.0;  // seconds
  int32_t bit_rate = 0;
  int32_t pmt_pid = 0;
  int32_t changes = 0;  // first video / first audio stream changing its parameters
  std::vector<VideoInfo> videos;
  std::vector<AudioInfo> audios;  // the selected audio stream first
  int64_t time = 0;               // modification time, ns
};

// One entry per file, built again when the file changes; access is
// serialised so worker threads may use it too.
class MpegFileInfoCache {
 public:
  // A copy of the entry of name (built when none matches); false when the
  // file cannot be described.
  bool find(const char* name, MpegFileInfo* out);
  void cleanup() { entries_.clear(); }
  int count() { return entries_.count(); }
  // Files opened to build entries (a found entry opens none).
  long builds() const { return builds_; }

 private:
  StampedCache<MpegFileInfo> entries_;
  std::atomic<long> builds_{0};
};

class FileInfoFacade {
 public:
  FileInfoFacade();
  // 0 with the file's information held; 1 for no name, a non-MPEG movie
  // file or a file that cannot be described (the held record unchanged).
  int open(const char* name);
  void close();
  const VideoInfo* get_video_infos(int* count) const;
  const AudioInfo* get_audio_infos(int* count) const;
  int get_ts_info() const { return info_ ? info_->pmt_pid : 0; }
  int get_stream_info_total() const { return info_ ? info_->changes : 0; }
  const MpegFileInfo* info() const { return info_.get(); }
  // The process-wide cache (made on first use).
  static MpegFileInfoCache& cache();
  static void destroy_registry();

 private:
  std::unique_ptr<MpegFileInfo> info_;
};

// ".avi", ".mp4", ".mov" or ".wmv" in any case: not for the MPEG layers.
int is_non_mpeg_movie_file(const char* name);

// Seconds a still-image clip lasts (5 at start); values outside
// 0 < s < 86400 are ignored.
void set_still_image_duration(double seconds);
double get_still_image_duration();

// 1 when a and b are more than 2 apart.
int differs_by_more_than_2(int32_t a, int32_t b);

// An audio entry of the GOP time-code repair: where, and two counts.
struct AbsRecord {
  FileOffset position;
  int32_t count = 0;
  int32_t count2 = 0;
};
