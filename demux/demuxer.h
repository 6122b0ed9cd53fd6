// Demultiplexer family. DeMuxer is the base class and, by itself, the reader
// of elementary streams (MPEG audio, MPEG-1/2 video, AC-3): one object per
// file, with a read buffer over it, its table of elementary streams, the
// selected video and audio stream and cached facts (length, rates, first
// time stamps). Program and transport streams derive from it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/ac3.h"
#include "foundation/audio_header.h"
#include "foundation/audio_info.h"
#include "foundation/bsfile.h"
#include "foundation/es_buffer.h"
#include "foundation/es_data.h"
#include "foundation/file_offset.h"
#include "foundation/gop.h"
#include "foundation/gop_header.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/video_info.h"

// Status record of a long job: command word written by the window (0 run,
// -4 pause, other values stop) and the progress with an optional callback.
struct DemuxJobStatus {
  volatile int command = 0;
  double progress = 0.0;
  void (*progress_callback)(double percent, void* user) = nullptr;
  void* user = nullptr;
};

class DeMuxer {
 public:
  static constexpr int kReadBufferSize = 0x12000;

  DeMuxer();
  // Opens name as an elementary stream of the given type (0: probe);
  // *error non-zero means the object must be deleted.
  DeMuxer(const char* name, int* error, int stream_type, int bit_rate);
  DeMuxer(const DeMuxer& other);
  DeMuxer& operator=(const DeMuxer& other);
  virtual ~DeMuxer();

  // ---- virtual operations, in slot order ----
  virtual void goto_offset(FileOffset offset);
  virtual int parse_gop(GOP* g, int stream_id, int back_step, int bounded);
  virtual int read_gop(GOP* g, int stream_id, int first_picture_only);
  virtual int seqhdr_modifier(int stream_id, int bit_rate);
  virtual int vbv_modifier(int stream_id, int vbv_size, int vbv_delay_increment);
  virtual int read_abs(ESBuffer* span);
  virtual double load_abs(ESBuffer* span, int count, int end_flag);
  virtual int get_pmt_pid() { return 0; }
  virtual double demuxer(int count, ESData* records, DemuxJobStatus* status);
  virtual int next_packet();
  virtual int skip_packet() { return 0; }
  virtual int get_payload_size();
  virtual int get_payload(uint8_t* buffer, int count);
  virtual int get_curr_pid() { return 0; }
  virtual void ignore_bytes(uint8_t*, int) {}
  virtual int select_video_es(int stream_id, int pid);
  virtual int select_audio_es(int stream_id, int pid);
  virtual int trim_end(uint8_t* out, int, int);
  virtual int copy_bytes(uint8_t* out, int count, FileOffset end);
  virtual int trim_start(BSFile* out, uint8_t* work, int size, FileOffset end);
  virtual int is_same_audio_stream(const FrmHdr*) { return 0; }
  virtual FileOffset get_curr_offset(FileOffset* out);
  virtual int get_stream_flag() { return 0; }
  virtual double get_stored_time() { return 0.0; }

  // ---- life ----
  int open_file();
  void close_file();
  // Follows a file that grows while it is open (a recording): takes its new
  // size as file size and end of data. True when the size changed.
  bool update_file_size();
  bool is_open() const { return file_ != nullptr; }

  // ---- queries ----
  FileOffset get_file_size() const { return file_size_; }
  double get_file_size_double() const { return file_size_.to_double(); }
  FileOffset get_end_of_data() const { return end_data_; }
  ESData* get_es_data(int* count);
  int get_video_es_list(int* ids, int max, int* pids = nullptr);
  int get_audio_es_list(int* ids, int max, int* pids = nullptr);
  int get_video_es_count() { return get_video_es_list(nullptr, 0); }
  int get_audio_es_count() { return get_audio_es_list(nullptr, 0); }
  int get_es_list(int* ids, int* pids, int max);
  // PIDs of the non-video streams of a transport stream; 0 for other files.
  int get_ts_audio_pids(int* pids, int max);
  void mark_video_vbr();
  int get_video_selection(int* pid) const;
  int get_audio_selection(int* pid) const;
  int has_stream_id(int id) const;
  FrmHdr* get_audio_header(int id, int pid);
  AC3FrmHdr* get_ac3_header(int id, int pid);
  SeqHdr* find_video_header(int id, int pid);
  double get_frame_rate();
  double get_total_length();
  int get_bit_rate();
  int get_gop_bytes_estimate();
  int get_stream_type() const { return stream_type_; }
  double get_video_start_pts(int id = 0, int pid = 0);
  double get_audio_start_pts(int id = 0, int pid = 0);
  int offset_to_field(FileOffset offset);
  int needs_time_fix();
  const char* get_file_name() const { return fname_.c_str(); }
  int64_t get_file_time() const { return file_time_; }
  int is_elementary() const { return elementary_; }
  int get_pts_timing() const { return pts_timing_; }
  int get_timecode_flag() const { return timecode_flag_; }
  int timecodes_inconsistent() const { return tc_inconsistent_; }
  const GOP* get_last_gop_record() const { return last_gop_.pic_count > 0 ? &last_gop_ : nullptr; }
  const VideoInfo& get_video_info() const { return video_info_; }
  const AudioInfo& get_audio_info() const { return audio_info_; }
  void set_audio_start_flag(int on) { audio_start_flag_ = on; }
  int get_audio_start_flag() const { return audio_start_flag_; }
  int get_load_abs_count() const { return load_abs_count_; }
  // Offset of the current position (buffer end minus unread bytes).
  FileOffset current_offset() const { return FileOffset::from_u64(buf_end_.value() - uint64_t(unread_)); }

  // GOPs parsed by every demultiplexer of the process (cache tests).
  static long parse_gop_count() { return parse_gop_calls_.load(); }

  // ---- GOP parsing shared by all classes ----
  int parse_header(const uint8_t* b, int n, int* flags, int* header_length);
  int parse_gop_pictures(GOP* g, const uint8_t* b, int n, int* consumed);
  double update_picture_pts(GOP* g, double t, int near_end);
  int resize_gop_data_buffer(GOP* g, int added);
  void dump_gop_pts(GOP* g);
  // Takes every picture of the bytes into one GOP (GOP::load_data).
  void set_collect_all(int on) { i_no_end_ = on; }
  void set_video_version(int v) { video_version_ = v; }

  // ---- audio spans ----
  void calc_abs_pts(ESBuffer* span);
  void calc_ac3_pts(ESBuffer* span);
  int init_abs_scr_per_byte(int id, int pid);
  int get_av_start_frames(ESData* records, int count, int* out);
  int skip_audio_frames(const uint8_t* b, int n, ESData* record, int* frames);

  // ---- length ----
  void find_bs_length();
  void find_es_abs_length();
  void find_vbs_length();
  void estimate_length_from_es();
  int check_timecode();

  // ---- read buffer ----
  void init_bs_buffer(int size);
  void fill_bs_buffer();
  void empty_bs_buffer() {
    unread_ = 0;
    rd_ = 0;
  }

 protected:
  void reset();
  int init(const char* name, int stream_type, int bit_rate);
  void copy_from(const DeMuxer& other);
  void set_video_info(int id, int pid);
  void set_audio_info(int id, int pid);
  void select_default_es() {
    set_video_info(0, 0);
    set_audio_info(0, 0);
  }
  int add_stream_id(int id, int force);
  bool last_picture_complete(const GOP* g, int have) const;
  bool is_es_video() const { return stream_type_ == 2 || stream_type_ == 3; }
  // Length helpers.
  bool find_last_gop(FileOffset lower, FileOffset upper, GOP* g);
  int sample_bit_rate(double bytes, double fields);
  bool find_audio_frame(FileOffset from, int max_bytes, FileOffset* found, int* frame_size);
  FileOffset find_last_audio_frame(FileOffset from, int frame_size);
  int check_range_bit_rate(const ESData& r);
  bool is_bit_rate_too_high();
  int read_at(FileOffset at, uint8_t* dst, int n);
  bool parse_gop_with_tc(FileOffset from, GOP* g);
  bool sampled_tc_goes_back(const LGOP& first, const LGOP& last, std::vector<LGOP>* samples);
  GOP& tc_scratch();
  int tc_correction_at(FileOffset at) const;

 public:
  // ---- state (see the class comment) ----
  int64_t file_time_ = 0;
  int timecode_flag_ = 0;
  int pts_timing_ = 0;
  int first_field_ = -1;
  FileOffset first_gop_offset_;
  FileOffset last_seek_;
  int seek_skip_ = 0;

  std::unique_ptr<uint8_t[]> buf_;
  int rd_ = 0;      // read position in buf_
  int buf_size_ = kReadBufferSize;
  int unread_ = 0;  // bytes from rd_
  FileOffset buf_end_;  // file offset just behind the last byte in the buffer

  double scr_per_byte_ = 1.0;
  double bytes_per_scr_ = 1.0;

  std::vector<int> stream_ids_;
  std::vector<ESData> es_data_;

  int video_pes_id_ = 0xE0;
  int audio_pes_id_ = 0xC0;
  double scr_per_audio_byte_ = 1.0;

  std::unique_ptr<BSFile> file_;
  std::string fname_;
  FileOffset data_start_;
  int vbr_ = 0;
  int progressive_sequence_ = 1;
  double total_length_ = 0.0;

  int audio_start_flag_ = 0;
  double audio_start_pts_ = kNoTime;
  double video_start_pts_ = kNoTime;
  double first_gop_tc_ = 0.0;

  FrmHdr frm_hdr_;
  AC3FrmHdr ac3_hdr_;

  double audio_frame_ticks_ = 2351.0204081632655;
  double sec_per_byte_ = 8.0 / 224000.0;
  int load_abs_count_ = 0;

  FileOffset end_data_;
  FileOffset file_size_;

  int bit_rate_ = 0;
  int field_toggle_ = 0;
  int prev_field_structure_ = 0;  // structure of an unpaired field picture just met
  int prev_field_tr_ = -1;
  int elementary_ = 0;
  int stream_type_ = 0;
  int video_version_ = 0;

  FileOffset packet_offset_;
  double picture_pts_ = kNoTime;
  double second_time_ = kNoTime;

  SeqHdr seq_;
  GopHdr gop_hdr_;
  PicHdr pic_;

  int i_without_gop_ = 0;
  double last_pic_pts_ = kNoTime;
  double frame_rate_ = 30000.0 / 1001.0;

  VideoInfo video_info_;
  AudioInfo audio_info_;
  int video_selected_ = 0;  // a video stream is selected
  int video_sel_id_ = 0, video_sel_pid_ = 0;
  int audio_sel_id_ = 0, audio_sel_pid_ = 0;

  int ac3_ = 0;
  int tc_present_ = 0, tc_inconsistent_ = 0, ts_present_ = 0, ts_inconsistent_ = 0;
  double bit_rate_length_ = 0.0;

  GOP last_gop_;
  int avg_gop_length_ = 0;
  uint32_t last_tc_seen_ = 0;
  double expected_end_pts_ = kNoTime;
  // Time-code breaks in file order: the frames to add from each on.
  struct TcBreak {
    FileOffset at;
    int frames;
  };
  std::vector<TcBreak> tc_breaks_;
  std::unique_ptr<GOP> tc_scratch_;  // GOP buffer of the restart search
  void find_tc_breaks(const LGOP& a, const LGOP& b, double fr, double bytes_per_frame, std::vector<TcBreak>* breaks,
                      int* budget);
  int count_word_ = 0;
  int both_inconsistent_ = 0;

  int default_one_ = 1;
  int i_no_end_ = 0;

 private:
  static std::atomic<long> parse_gop_calls_;
};
