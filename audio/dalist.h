// Audio access-unit lists: sequential and timed access to the compressed
// frames of one audio stream (MPEG audio, AC-3 or LPCM) of any file the
// demultiplexers open. Units (one demultiplexed payload each) are found
// lazily while the stream is read; whole frames are handed out of a queue
// fed unit by unit, so a frame split between two packets comes out joined.
// Callers hold a DAList handle; a process-wide cache keeps the facts that
// opening a file measured (start, length, reference header), so a second
// handle on the same unchanged file does not measure again.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/ac3.h"
#include "foundation/audio_header.h"
#include "foundation/audio_info.h"
#include "foundation/es_buffer.h"
#include "foundation/file_offset.h"

class DeMuxer;

// One access unit. Times are 90 kHz ticks relative to the list's start.
struct DA {
  double time = 0.0;    // first frame that begins in the unit
  int32_t bytes = 0;    // payload bytes
  int32_t first_frame = 0;  // bytes at the head still belonging to the previous frame
  FileOffset start, end;    // byte range in the file
};

enum class DAKind { mpeg, ac3, lpcm };

class DAListBase {
 public:
  virtual ~DAListBase();
  DAListBase(const DAListBase&) = delete;
  DAListBase& operator=(const DAListBase&) = delete;

  // 0 on success, 1 on failure (traced).
  int init(const char* file, int stream_id, int pid);
  // A list of the same kind over the same stream, with its own file and
  // read position, taking the measured facts of this one.
  std::unique_ptr<DAListBase> copy() const;
  // Moves to the frame holding t (90 kHz, relative); the time reached.
  double goto_time(double t);
  // The next whole frame into out; its bytes, 0 at the end (or when it
  // does not fit into size).
  int next_frame(uint8_t* out, int size);
  // Frames while a whole frame of the largest size still fits; bytes written.
  int read_frames(uint8_t* out, int size);
  // Back to the first frame; false when the stream has no data.
  bool reset();
  // More than 5 frames with a header other than the reference's.
  bool header_changed() const { return changed_headers_ > 5; }

  DAKind kind() const { return kind_; }
  double curr_time() const { return cur_time_; }          // 90 kHz
  double length() const { return length_; }               // 90 kHz
  double frame_duration() const { return frame_dur_; }    // 90 kHz
  double start_time() const { return start_time_; }       // absolute 90 kHz
  int stream_id() const { return stream_id_; }
  int pid() const { return pid_; }
  const AudioInfo& info() const { return info_; }
  int frame_size() const { return frame_size_; }
  int max_frame_size() const { return max_frame_size_; }
  int samples_per_frame() const { return samples_; }
  const std::string& file_name() const { return name_; }
  int64_t file_time() const { return file_time_; }
  uint64_t file_size() const { return file_size_; }
  const FrmHdr& reference_header() const { return ref_; }
  int stream_list(int* ids, int* pids, int max) const;
  int unit_count() const { return int(units_.size()); }
  const DA& unit(int i) const { return units_[size_t(i)]; }
  // Frames counted at opening (elementary files), else 0.
  int64_t counted_frames() const { return counted_frames_; }

  static std::unique_ptr<DAListBase> make(DAKind kind);
  // Closes the file; the measures stay (cache entries hold no open file).
  void close_file();

 protected:
  explicit DAListBase(DAKind kind);

 private:
  struct Mark {  // a unit's first whole frame in the queue, with its time
    size_t pos;
    double time;
  };
  bool open_demuxer(int stream_id, int pid);
  bool select(int stream_id, int pid);
  bool take_reference();
  void measure_length();
  // Appends the next unit's bytes to the queue; false at the end.
  bool load_next();
  // Loads a unit at a file offset without touching the queue: its span.
  bool probe_at(uint64_t offset, ESBuffer* span);
  bool fill(size_t need);
  void restart_at(const DA& u, bool skip_head);
  // Offset of the next frame start in the queue (avail when none) and
  // the frame's length there (0 when unknown).
  size_t find_frame(size_t* length, bool* more_needed);
  double relative(double t) const;
  size_t avail() const { return q_.size() - qpos_; }

  DAKind kind_;
  std::unique_ptr<DeMuxer> dm_;
  std::string name_;
  int64_t file_time_ = 0;
  uint64_t file_size_ = 0;
  bool elementary_ = false, transport_ = false;
  AudioInfo info_;
  int stream_id_ = 0, pid_ = 0;
  int asked_id_ = 0, asked_pid_ = 0;
  FrmHdr ref_;
  AC3FrmHdr ac3_ref_;
  int frame_size_ = 730, max_frame_size_ = 731, samples_ = 1152;
  double frame_dur_ = 2351.0204081632655;
  double start_time_ = -4294967297.0;
  double length_ = 0.0;
  int64_t counted_frames_ = 0;
  int changed_headers_ = 0;
  int unit_step_ = 8192;  // bytes per unit of an elementary file
  std::vector<DA> units_;  // units met, in file order
  ESBuffer span_;
  uint64_t next_pos_ = 0;
  std::vector<uint8_t> q_;
  size_t qpos_ = 0;
  std::vector<Mark> marks_;
  double cur_time_ = 0.0;
  bool at_end_ = false;
};

class MpegDAList : public DAListBase {
 public:
  MpegDAList() : DAListBase(DAKind::mpeg) {}
};
class Ac3DAList : public DAListBase {
 public:
  Ac3DAList() : DAListBase(DAKind::ac3) {}
};
// Big-endian 16-bit samples of DVD LPCM, handed out little-endian.
class LpcmDAList : public DAListBase {
 public:
  LpcmDAList() : DAListBase(DAKind::lpcm) {}
};

// The handle callers hold: empty, or owning one list. Every accessor of an
// empty handle returns 0.
class DAList {
 public:
  DAList();
  ~DAList();
  DAList(DAList&&) noexcept;
  DAList& operator=(DAList&&) noexcept;
  // Opens at once; *error 1 on failure.
  DAList(const char* file, int stream_id, int pid, int* error);

  // 0 on success, 1 on failure. A PID the file does not have opens the
  // default audio stream.
  int init(const char* file_name, int stream_id, int pid);
  void close();
  bool is_open() const { return list_ != nullptr; }
  // The stream id now selected; the old list stays when the switch fails.
  int set_abs_id(int stream_id, int pid);
  int set_abs_type(int stream_id);

  int next_frame(uint8_t* out, int size);
  int read_frames(uint8_t* out, int size);
  double get_curr_time() const;           // seconds
  double goto_time(double seconds);       // the time reached
  double get_length() const;              // seconds
  double get_frame_period() const;        // seconds
  double get_start_time() const;          // seconds, absolute
  int get_stream_id(int* pid) const;
  int get_stream_list(int* ids, int* pids, int max) const;
  int get_layer() const;
  int get_bit_rate() const;
  int get_channels() const;
  int get_sample_rate() const;
  int get_bits_per_sample() const { return list_ ? 16 : 0; }
  int get_frame_size() const;
  int get_max_frame_size() const;
  int get_samples_per_frame() const;
  // 0 and the record filled; 1 without a list.
  int get_audio_info(AudioInfo* info) const;
  int is_ac3() const { return ac3_; }
  int is_lpcm() const { return lpcm_; }
  bool header_changed() const;
  bool format_match(int sample_rate, int channels, int bit_rate, int layer, int stream_id = 0, int pid = 0) const;
  bool file_match(const char* name, int64_t time, uint64_t size, int stream_id = 0, int pid = 0) const;
  const DAListBase* list() const { return list_.get(); }

 private:
  std::unique_ptr<DAListBase> list_;
  int ac3_ = 0, lpcm_ = 0;
};

// A list of the file's stream through the cache (null on failure).
std::unique_ptr<DAListBase> get_new_dalist(const char* file, int stream_id, int pid);
// True when the file has a non-video stream with that id (0: any) and PID
// (0: any).
bool dalist_find_id_pid_match(const char* file, int stream_id, int pid);

// Process-wide table of measured lists, keyed by file name, modification
// time, size and the stream asked for. Entries hold no open file, and the
// table keeps at most kCapacity of them (least recently used goes first).
class DAListCache {
 public:
  static constexpr int kCapacity = 32;
  static DAListCache& instance();
  // A copy of a matching entry, or a new list measured and entered.
  std::unique_ptr<DAListBase> get(const char* file, int stream_id, int pid);
  int count();
  void clear();

 private:
  struct Entry {
    std::string name;
    int64_t time = 0;
    uint64_t size = 0;
    int id = 0, pid = 0;
    std::shared_ptr<const DAListBase> proto;
    uint64_t used = 0;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
  uint64_t clock_ = 0;
};
