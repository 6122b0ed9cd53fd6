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
#include "foundation/job_control.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/video_info.h"
#include "demux/trim_scan.h"

// What a demultiplexing job tells its caller beside its JobControl
// outcome: PES starts stepped over because their header could not be read,
// and the output that could not be opened or written (empty: none).
struct DemuxReport {
  int32_t skipped_pes = 0;
  std::string failed_output;
};

// Every end of a demultiplexing job reports 100 and the outcome (a window
// waits for both), naming the output that failed. Returns result.
double demux_job_end(JobControl& control, const DemuxReport& report, JobOutcome outcome, double result);

// One part of a file whose time stamps start again (recordings joined one
// after another): from `offset` on, `correction` is added to every time
// stamp read, so that the part follows on from the ones before it.
struct TimeStampPart {
  FileOffset offset;
  double start_pts = 0.0;
  double end_pts = 0.0;
  double correction = 0.0;
};

class DeMuxer {
 public:
  static constexpr int kReadBufferSize = 0x12000;
  // A file read front to back (a save, a scan) gets this larger buffer:
  // fewer, larger reads.
  static constexpr int kLargeReadBufferSize = 0x100000;

  DeMuxer();
  // Opens name as an elementary stream of the given type (0: probe);
  // *error non-zero means the object must be deleted.
  DeMuxer(const char* name, int* error, int stream_type, int bit_rate);
  // A copy opens the file again and keeps every measurement of the source;
  // a source without a file is refused (the target stays as it was).
  DeMuxer(const DeMuxer& other);
  DeMuxer& operator=(const DeMuxer& other);
  virtual ~DeMuxer();

  // ---- operations the stream classes override ----
  virtual void goto_offset(FileOffset offset);
  virtual int parse_gop(GOP* g, int stream_id, int back_step, int bounded);
  virtual int read_gop(GOP* g, int stream_id, int first_picture_only);
  // In-place patches of the file: sequence headers rewritten / pictures
  // visited, 0 when there was nothing to do, -1 when the file cannot be
  // opened for update or a patch write fails.
  virtual int seqhdr_modifier(int stream_id, int bit_rate);
  virtual int vbv_modifier(int stream_id, int vbv_size, int vbv_delay_increment);
  virtual int read_abs(ESBuffer* span);
  virtual double load_abs(ESBuffer* span, int count, int end_flag);
  virtual int get_pmt_pid() { return 0; }
  // Writes the records' streams to their files as one job: the control is
  // polled between packets (-1 stops and deletes the outputs, other stops
  // keep them) and always ends with progress 100 and the outcome.
  virtual double demuxer(int count, ESData* records, JobControl* control, DemuxReport* report = nullptr);
  virtual int next_packet();
  virtual int skip_packet() { return 0; }
  virtual int get_payload_size();
  virtual int get_payload(uint8_t* buffer, int count);
  virtual int get_curr_pid() { return 0; }
  virtual void ignore_bytes(uint8_t*, int) {}
  virtual int select_video_es(int stream_id, int pid);
  virtual int select_audio_es(int stream_id, int pid);
  virtual int trim_end(uint8_t* out, int, int);
  // The end of a cut written to out: bytes written, -1 when a write fell short.
  virtual int trim_end(uint8_t* work, int size, BSFile* out);
  virtual int copy_bytes(uint8_t* out, int count, FileOffset end);
  // What copy_bytes of an elementary stream gives, up to count bytes before
  // end, written to out straight from the source file (see
  // BSFile::copy_from). Bytes written; -1 when fewer than the source holds
  // reached out.
  int64_t copy_bytes_to(BSFile* out, int64_t count, FileOffset end);
  virtual int trim_start(BSFile* out, uint8_t* work, int size, FileOffset end);
  virtual int is_same_audio_stream(const FrmHdr*) { return 0; }
  virtual FileOffset get_curr_offset(FileOffset* out);
  virtual int get_stream_flag() { return 0; }
  virtual double get_stored_time() { return 0.0; }
  // The parts of a file whose time stamps start again (none: 0).
  virtual int get_time_stamp_parts(std::vector<TimeStampPart>* parts) const {
    if (parts) parts->clear();
    return 0;
  }

  // ---- life ----
  int open_file();
  void close_file();
  // Follows a file that grows while it is open (a recording): takes its new
  // size as file size and end of data. True when the size changed.
  bool update_file_size();
  bool is_open() const { return src_.file != nullptr; }

  // ---- queries ----
  FileOffset get_file_size() const { return src_.size; }
  double get_file_size_double() const { return src_.size.to_double(); }
  FileOffset get_end_of_data() const { return src_.end_data; }
  // Where the last seek outside the read buffer went.
  FileOffset get_last_seek() const { return src_.last_seek; }
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
  int get_stream_type() const { return st_.type; }
  double get_video_start_pts(int id = 0, int pid = 0);
  double get_audio_start_pts(int id = 0, int pid = 0);
  int offset_to_field(FileOffset offset);
  int needs_time_fix();
  const char* get_file_name() const { return src_.name.c_str(); }
  int64_t get_file_time() const { return src_.time; }
  int is_elementary() const { return st_.elementary; }
  int get_pts_timing() const { return m_.pts_timing; }
  int get_timecode_flag() const { return m_.timecode_flag; }
  int timecodes_inconsistent() const { return m_.tc_inconsistent; }
  // Field number of the first GOP as its time code gives it (-1: none read).
  int get_first_field() const { return m_.first_field; }
  const GOP* get_last_gop_record() const { return m_.last_gop.pic_count > 0 ? &m_.last_gop : nullptr; }
  const VideoInfo& get_video_info() const { return st_.video_info; }
  const AudioInfo& get_audio_info() const { return st_.audio_info; }
  void set_audio_start_flag(int on) { audio_.start_flag = on; }
  int get_audio_start_flag() const { return audio_.start_flag; }
  int get_load_abs_count() const { return audio_.load_count; }
  double get_audio_frame_ticks() const { return audio_.frame_ticks; }
  // Offset of the current position (buffer end minus unread bytes).
  FileOffset current_offset() const { return FileOffset::from_u64(buf_.end.value() - uint64_t(buf_.unread)); }

  // GOPs parsed by every demultiplexer of the process (cache tests).
  static long parse_gop_count() { return parse_gop_calls_.load(); }

  // ---- GOP parsing shared by all classes ----
  int parse_header(const uint8_t* b, int n, int* flags, int* header_length);
  int parse_gop_pictures(GOP* g, const uint8_t* b, int n, int* consumed);
  // Whether the last picture of the GOP's first `have` bytes is whole.
  bool last_picture_complete(const GOP* g, int have) const;
  double update_picture_pts(GOP* g, double t, int near_end);
  int resize_gop_data_buffer(GOP* g, int added);
  void dump_gop_pts(GOP* g);
  // Moves the time code of a GOP behind a time-code restart on by the
  // frames of the parts before it (see check_timecode).
  void continue_time_code(GOP* g);
  // Takes every picture of the bytes into one GOP (GOP::load_data).
  void set_collect_all(int on) { st_.collect_all = on; }

  // ---- cutting and in-place patching (trim_*.cpp) ----
  // trim_start of elementary streams: writes the start of a segment that
  // begins at the current position (a GOP) to out, blanking leading B
  // pictures of an open GOP; bytes written, -1 when a write falls short.
  int trim_parse(BSFile* out, uint8_t* work, int size, FileOffset end);
  // Feeds length bytes (fed: bytes fed so far, these included) to the scan;
  // returns the bytes consumed. minimum: trim_min_picture_bytes.
  static int trim_scan(const uint8_t* bytes, int length, int64_t fed, int minimum, TrimScan* scan);
  // Header patch helpers on a file opened for update. A header may be split:
  // split bytes at at, the rest at at2 (0 < split < its size). Each restores
  // the file position. Reads and writes: 1 done, 0 short. The setters: 1
  // changed, 0 nothing to change, -1 a read or write fell short.
  static int read_seqhdr(BSFile* f, uint8_t* b, FileOffset at, int split = 0, FileOffset at2 = FileOffset());
  static int write_seqhdr(BSFile* f, const uint8_t* b, FileOffset at, int split = 0, FileOffset at2 = FileOffset());
  static int read_vbv_delay(BSFile* f, uint8_t* b, FileOffset at, int split = 0, FileOffset at2 = FileOffset());
  static int write_vbv_delay(BSFile* f, const uint8_t* b, FileOffset at, int split = 0, FileOffset at2 = FileOffset());
  static int set_vbv_buffer_size(BSFile* f, int code, FileOffset at, int split = 0, FileOffset at2 = FileOffset());
  static int add_vbv_delay(BSFile* f, int increment, FileOffset at, int split = 0, FileOffset at2 = FileOffset());
  static int set_seqhdr_bit_rate(BSFile* f, int value, FileOffset at, int split = 0, FileOffset at2 = FileOffset());
  // vbv_buffer_size code of a size in bits: ceil(bits / 16384), at most 1023.
  static int to_vbv_size_code(int64_t bits);
  // bit_rate_value of bit/s: ceil(bits / 400), at most 0x3FFFE (0x3FFFF
  // means variable bit rate).
  static int to_bit_rate_value(int64_t bits);

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
  // The last GOP's first field made to agree with the total length.
  void fit_last_gop_field();
  void estimate_length_from_es();
  int check_timecode();

  // ---- read buffer ----
  void init_bs_buffer(int size);
  void fill_bs_buffer();
  // Copies up to n bytes from the read position on, refilling as it goes;
  // the bytes copied.
  int copy_from_buffer(uint8_t* out, int n) { return take_bytes(out, n, false); }
  void empty_bs_buffer() {
    buf_.unread = 0;
    buf_.rd = 0;
  }

 protected:
  // A demultiplexer over no file, of the given stream type: only its
  // picture parser is used.
  explicit DeMuxer(int stream_type);

 private:
  // The transport class walks the read buffer and the stream table itself.
  friend class DeMuxerTransport;

  int init(const char* name, int stream_type, int bit_rate);
  void assign(const DeMuxer& other);
  void set_video_info(int id, int pid);
  void set_audio_info(int id, int pid);
  void select_default_es() {
    set_video_info(0, 0);
    set_audio_info(0, 0);
  }
  bool mpeg1_picture_complete(const uint8_t* pic, int n) const;
  // Up to n bytes from the current position; direct: a buffer-sized or
  // larger rest is read from the file straight into out.
  int take_bytes(uint8_t* out, int n, bool direct);
  bool is_es_video() const { return st_.type == 2 || st_.type == 3; }
  // Length helpers.
  int sample_bit_rate(double bytes, double fields);
  bool find_audio_frame(FileOffset from, int max_bytes, FileOffset* found, int* frame_size);
  FileOffset find_last_audio_frame(FileOffset from);
  bool is_bit_rate_too_high();
  int read_at(FileOffset at, uint8_t* dst, int n);
  bool parse_gop_with_tc(FileOffset from, GOP* g);
  bool sampled_tc_goes_back(const LGOP& first, const LGOP& last, std::vector<LGOP>* samples);
  bool sampled_tc_run_on(const LGOP& first, const LGOP& last);
  int peek_gop_time_code(FileOffset from, uint64_t budget, std::vector<uint8_t>* piece, FileOffset* start,
                         uint32_t* time_code);
  GOP& tc_scratch();
  int tc_correction_at(FileOffset at) const;

  // A time-code break: from `at` on, the codes need `frames` more to count
  // on from the parts before it.
  struct TcBreak {
    FileOffset at;
    int frames;
  };
  void find_tc_breaks(const LGOP& a, const LGOP& b, double fr, double bytes_per_frame, std::vector<TcBreak>* breaks,
                      int* budget);

  // An owning pointer whose copy is empty: what it owns (an open file) is
  // the copy's to make anew.
  template <class T>
  struct Unshared : std::unique_ptr<T> {
    Unshared() = default;
    Unshared(const Unshared&) noexcept : std::unique_ptr<T>() {}
    Unshared(Unshared&&) noexcept = default;
    Unshared& operator=(const Unshared&) noexcept {
      this->reset();
      return *this;
    }
    Unshared& operator=(Unshared&&) noexcept = default;
    Unshared& operator=(std::unique_ptr<T>&& p) noexcept {
      std::unique_ptr<T>::operator=(std::move(p));
      return *this;
    }
  };

  // The file and what opening it found.
  struct Source {
    Unshared<BSFile> file;
    std::string name;
    int64_t time = 0;  // modification time in ns
    FileOffset size;
    FileOffset end_data;
    FileOffset data_start;
    FileOffset last_seek;
  };

  // The read buffer over the file. A copy starts empty: its bytes belong to
  // another file handle. The buffer itself is allocated when first filled.
  struct ReadBuffer {
    std::unique_ptr<uint8_t[]> bytes;
    int size = kReadBufferSize;
    int rd = 0;      // read position in bytes
    int unread = 0;  // bytes from rd
    int streak = 0;  // fills since the last seek
    FileOffset end;  // file offset just behind the last byte held
    ReadBuffer() = default;
    ReadBuffer(const ReadBuffer& o) : size(o.size) {}
    ReadBuffer& operator=(const ReadBuffer&) {
      rd = unread = 0;
      end.zero();
      return *this;
    }
  };

  // The elementary streams, the selection and their headers.
  struct Streams {
    std::vector<ESData> es_data;
    int type = 0;  // stream type of the probe
    int elementary = 0;
    int vbr = 0;
    int bit_rate = 0;
    int ac3 = 0;
    SeqHdr seq;
    FrmHdr frm_hdr;
    AC3FrmHdr ac3_hdr;
    VideoInfo video_info;
    AudioInfo audio_info;
    int video_selected = 0;
    int video_id = 0, video_pid = 0;
    int audio_id = 0, audio_pid = 0;
    double frame_rate = 30000.0 / 1001.0;
    int video_version = 0;  // 2 MPEG-1, 3 MPEG-2
    int progressive_sequence = 1;
    int collect_all = 0;  // every picture of the bytes into one GOP
  };

  // What the length scan measured: reading them again is a copy's saving.
  struct Measured {
    double total_length = 0.0;
    double bit_rate_length = 0.0;
    int timecode_flag = 0;
    int pts_timing = 0;
    int tc_present = 0;
    int tc_inconsistent = 0;
    double first_gop_tc = 0.0;
    std::vector<TcBreak> tc_breaks;  // in file order
    GOP last_gop;
    int first_field = -1;
    FileOffset first_gop_offset;
    double video_start_pts = kNoTime;
    int i_without_gop = 0;
  };

  // Timing of the audio spans of audio files.
  struct AudioSpans {
    int start_flag = 0;
    double start_pts = kNoTime;
    double frame_ticks = 2351.0204081632655;
    double sec_per_byte = 8.0 / 224000.0;
    int load_count = 0;
  };

  // The picture parser between two calls. A copy starts afresh.
  struct PictureParser {
    GopHdr gop_hdr;
    PicHdr pic;
    int field_toggle = 0;
    int prev_field_structure = 0;  // structure of an unpaired field picture just met
    int prev_field_tr = -1;
    double picture_pts = kNoTime;
    double last_pic_pts = kNoTime;
    std::unique_ptr<GOP> tc_gop;  // GOP buffer of the restart search
    PictureParser() = default;
    PictureParser(const PictureParser&) : PictureParser() {}
    PictureParser(PictureParser&&) = default;
    PictureParser& operator=(const PictureParser&) { return *this = PictureParser(); }
    PictureParser& operator=(PictureParser&&) = default;
  };

  Source src_;
  ReadBuffer buf_;
  Streams st_;
  Measured m_;
  AudioSpans audio_;
  PictureParser pp_;

 private:
  static std::atomic<long> parse_gop_calls_;
  friend class DeMuxerProgram;  // reads packets through the same buffer
};
