// GopFixer: checks that every GOP time code of a video elementary stream, a
// program stream or a transport stream follows from the fields displayed before it, counts GOPs
// that are too long and rewrites the wrong time codes in place or into a
// copy. Scan and fix work in short steps so a job thread can poll between
// calls. Only the time-code bytes ever change: sizes stay, so sectors stay.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/audio_header.h"
#include "foundation/file_offset.h"
#include "foundation/job_control.h"
#include "foundation/timecode.h"
#include "foundation/video_info.h"

class BSFile;
class DeMuxer;
class DeMuxerProgram;

// One GOP header whose time code is wrong. The header may be split by a
// packet boundary: its first 8 - count bytes lie at start, the others at
// offset (offset == start and count 8 when it is whole).
struct GopTimeRecord {
  FileOffset offset;
  int32_t count = 8;
  FileOffset start;
  SMPTE_TimeCode expected;
  SMPTE_TimeCode found;
};

// An audio PES of a program stream whose PTS disagrees with the audio
// frames counted before it: where its PTS field lies and the PTS to write.
struct GopAbsEntry {
  FileOffset offset;
  double pts = 0.0;
};

class GopFixer {
 public:
  GopFixer();
  ~GopFixer();
  GopFixer(const GopFixer&) = delete;
  GopFixer& operator=(const GopFixer&) = delete;

  // 0 ready, 1 unknown stream type or unreadable file. The same unchanged
  // file keeps the state reached.
  int init(const char* name);
  // A copy to write the repaired stream to; null or empty: repair in place.
  void set_out_fname(const char* name);
  // One step over at most 2 new GOP headers: the bytes advanced, 0 once the
  // whole file was scanned, -1 on a read failure.
  int scan();
  // One step over at most 2 records: the records fixed so far, -1 when a
  // file cannot be opened, read or written (the input is then unchanged
  // unless it is repaired in place and the failure came late).
  int fix();
  // Every record fixed and a copy completed.
  bool fix_done() const { return fix_done_; }
  // The scan and the fix as jobs of a window's thread: the steps above in a
  // loop, the control polled between steps (progress: the scan by the
  // position, the fix by the records). Both end the control: done, stopped
  // or failed with why. A stopped scan keeps its progress and goes on from
  // where it stopped on the next call (reset the control first). A stopped
  // fix ends at 100 like a finished one: a copy is deleted or, for stop and
  // keep, completed with the rest of the input unchanged; a fix in place
  // keeps the records already rewritten. Return 0 done, 1 stopped, -1
  // failed.
  int scan_job(JobControl* control);
  int fix_job(JobControl* control);
  // While a job runs on another thread its window reads the control only;
  // the counters below belong to the job's thread until it has ended.
  // Finishes a copy; -1 when it could not be completed.
  int close();
  void cleanup();

  int get_error_count() const { return int(errors_.size()); }
  int get_error_fix_count() const { return fixed_; }
  int get_long_gop_count() const { return long_gops_; }
  int get_gop_count() const { return gops_; }
  const std::vector<GopTimeRecord>& errors() const { return errors_; }
  // Program streams: the audio entries found and those rewritten.
  int get_abs_error_count() const { return int(abs_.size()); }
  int get_abs_fix_count() const { return abs_fixed_; }
  const std::vector<GopAbsEntry>& abs_errors() const { return abs_; }
  // Whether the video's first sequence header meets the DVD rules (0 before
  // one was read).
  int get_video_format() const { return have_seq_ && video_.is_dvd() ? 1 : 0; }
  uint64_t get_file_size() const { return size_; }
  uint64_t get_position() const { return position_; }
  bool at_end() const { return at_end_; }
  // 1 unless the file can be opened for writing.
  int is_read_only();
  // Tests the input again (its mode may have changed since init).
  int recheck_read_only() {
    read_only_ = -1;
    return is_read_only();
  }

 private:
  struct Piece {
    int64_t at;  // video offset of the chunk's first byte
    uint64_t file;
  };
  // Appends the next chunk of video bytes; false at the end or on failure.
  bool read_chunk();
  // The same over the video PID's packets of a transport stream.
  bool read_ts_chunk();
  // Parses the held bytes; returns GOP headers checked.
  int parse(int max_gops);
  void check_gop(const uint8_t* h, int n, int64_t at);
  // File offset of video offset a; false when it lies before the pieces.
  bool file_of(int64_t a, uint64_t* file) const;
  bool copy_to(uint64_t target);
  // The audio check of a program stream: set up from the first audio
  // stream's header, then fed every packet of that stream.
  void init_audio();
  bool is_checked_audio() const;
  void check_audio();
  // Writes 5 bytes at a file offset, copying the input up to there first.
  bool write_at(uint64_t at, const uint8_t* bytes, int n);

  std::string name_, out_name_;
  int type_ = 0;
  int64_t mtime_ = 0;
  uint64_t size_ = 0;
  std::unique_ptr<DeMuxer> dmx_;
  DeMuxerProgram* ps_ = nullptr;
  std::unique_ptr<BSFile> in_;  // elementary and transport streams: read directly
  // Transport streams: the video PID, the packets' phase in the file, the
  // packets read and not yet walked, and a PES header being skipped.
  int ts_pid_ = -1;
  uint64_t ts_phase_ = 0;
  std::vector<uint8_t> ts_block_;
  int pes_skip_ = 0;
  int video_id_ = 0xE0;
  // Video bytes read and not yet parsed: [held_begin_, held_end_) of held_.
  // Parsing moves the start on; the rest moves down only when a read needs
  // the room, so a step costs no copy of what it leaves.
  std::unique_ptr<uint8_t[]> held_;
  size_t held_cap_ = 0, held_begin_ = 0, held_end_ = 0;
  uint8_t* held_room(size_t n);
  std::vector<Piece> pieces_;
  int64_t base_ = 0, total_ = 0;
  uint64_t position_ = 0;
  bool at_end_ = false, failed_ = false;
  // Time-code state.
  int fields_ = 0;
  int64_t field_position_ = 0;
  int first_frame_ = -1;
  int gops_ = 0, long_gops_ = 0, gop_limit_ = 15;
  double rate_ = 25.0;
  int progressive_ = 1;
  int mpeg2_ = 1;
  int drop_ = 0;
  bool have_seq_ = false;
  VideoInfo video_;
  std::vector<GopTimeRecord> errors_;
  // Audio check (program streams).
  struct AudioCheck {
    int id = 0;  // 0: no check
    bool ac3 = false;
    double frame_ticks = 0.0, tolerance = 1.0, base = -1.0;
    // Bytes that held no frame of the stream still took their time to
    // play: damaged frames must not push every later stamp to an error.
    double ticks_per_byte = 0.0, skipped_ticks = 0.0;
    int frame_size = 0;
    int64_t frames = 0, ac3_bytes = 0;
    std::vector<uint8_t> held;
    std::vector<uint8_t> payload;
    FrmHdr reference;
  } audio_;
  std::vector<GopAbsEntry> abs_;
  int abs_fixed_ = 0;
  // Fixing.
  int fixed_ = 0;
  bool fixing_ = false, fix_done_ = false;
  std::unique_ptr<BSFile> upd_, out_, src_;
  uint64_t copied_ = 0;
  int read_only_ = -1;
};
