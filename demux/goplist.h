// GOP index of one video stream of one file: a sparse, ordered, doubly
// linked list of LGOP records that starts with the first and the last GOP
// and grows as searches and steps read more of the file.
#pragma once

#include <memory>
#include <string>

#include "demux/demuxer.h"
#include "foundation/gop.h"
#include "foundation/gop_header.h"
#include "foundation/seq_header.h"
#include "foundation/video_info.h"

class GOPList {
 public:
  // An empty list, to be filled by copy_list or the cache.
  GOPList();
  // Opens and checks the file; is_open() tells whether that worked.
  explicit GOPList(const char* file_name, int stream_id = 0, int pid = 0);
  ~GOPList();
  GOPList(const GOPList&) = delete;
  GOPList& operator=(const GOPList&) = delete;

  bool is_open() const { return demuxer_ != nullptr; }
  // First and last records; 0 success, 1 when the first GOP has no pictures.
  int build_index();
  // Makes this list a copy of other (own demultiplexer, all records).
  int copy_list(const GOPList& other);
  // The two steps of copy_list: the records and settings of other, without
  // touching a file; then a demultiplexer of its own for the file.
  int copy_records(const GOPList& other);
  int open_demuxer(const char* file_name);
  // Merges the records of other that this list lacks; returns how many.
  int update_list(const GOPList& other);

  int get_gop(int frame, GOP* g, int read, int mode);
  int goto_gop(int frame, GOP* g, int read, int mode);
  int get_first_gop(GOP* g, int read);
  int get_last_gop(GOP* g, int read);
  int next_gop(GOP* g, int read);
  int prev_gop(GOP* g, int read);
  int copy_gop(GOP* g, int read);
  int get_total_frames();
  double get_duration() { return get_total_frames() * s_.frame_period; }
  int get_next_gop_frame_offset();
  int get_prev_gop_frame_offset();
  bool is_start_gop(const GOP* g);
  bool is_end_gop(const GOP* g);
  bool is_curr_gop(const GOP* g);
  bool check_file_size();
  int append_new_gops();
  int init(GOP* g);
  int check_time_code_gaps();
  // DVD recordings whose field numbers jump: renumbered once at build time.
  void fix_vob_field_numbers();
  // The GOP's field number is more than one field away from its PTS's.
  bool vob_field_mismatch(const LGOP* g) const;
  int get_vob_mismatches() const { return s_.vob_mismatches; }
  // Whether the stream's last sequence header describes the same video as
  // its first (1), else 0; -1 before a system stream's index is built.
  void check_last_seqhdr();
  int last_seqhdr_agrees() const { return s_.last_seqhdr_agrees; }

  int get_stream_id(int* pid) const {
    if (pid) *pid = s_.pid;
    return s_.stream_id;
  }
  double get_frame_rate() const;
  int get_drop_frame_flag() const { return s_.gop_hdr.get_drop_frame_flag(); }
  uint32_t get_time_code_word() const { return s_.gop_hdr.time_code; }
  int get_gop_size();
  int get_sub_gop_size();
  ESData* get_es_data();
  int get_stream_type() const { return s_.stream_type; }
  DeMuxer* get_demuxer() { return demuxer_.get(); }
  const SeqHdr& get_seqhdr() const { return s_.seqhdr; }
  const LGOP* first() const { return first_; }
  const LGOP* last() const { return last_; }
  const LGOP* current() const { return curr_; }
  int get_extra_fields() const { return s_.extra_fields; }
  int get_records_added() const { return s_.records_added; }
  // GOPs parsed from the file so far (a measure of search cost).
  int get_parse_count() const { return parse_count_; }
  // GOPs read from the file for a caller (a measure of copy cost).
  int get_reread_count() const { return rereads_; }
  void update_video_info();
  const VideoInfo& get_video_info() const { return s_.video_info; }

  // Adds a parsed GOP at its place; 1 when a record was inserted.
  int add_gop(GOP* g);

 private:
  int open(const char* file_name, int stream_id, int pid);
  int parse_next_gop(GOP* g, int search);
  void insert_gop(const LGOP* g);
  void measure_sub_gop(const GOP* g);
  void add_extra_fields(const GOP* g) { s_.extra_fields += g->total_fields - 2 * g->pic_count; }
  int scan_linear(int frame, GOP* g, int read, bool forward);
  void fix_contiguous_fields(const LGOP* prev, LGOP* rec);
  void clear_records();
  bool parse_at(FileOffset at, GOP* g, int search);
  // Field jump (> 30) between contiguous records; the later record, or nil.
  LGOP* find_field_jump() const;

  // What the list knows of its stream and the GOPs read so far; a copy of
  // the list takes it whole.
  struct Stream {
    int stream_id = 0;
    int pid = 0;
    SeqHdr seqhdr;
    GopHdr gop_hdr;
    int stream_type = 0;
    double frame_period = 1.0 / 29.97;
    double field_period = 90000.0 / (2 * 29.97);
    FileOffset recorded_size;
    int base_field = -1;
    double base_pts = -1.0;
    int last_gop_frames = 0;
    int records_added = 0;
    int gop_size = 0;
    int sub_gop_size = 0;
    int extra_fields = 0;
    int tc_gap = 0;
    int pts_gops = 0;
    bool vob = false;
    int vob_mismatches = 0;
    int last_seqhdr_agrees = -1;
    VideoInfo video_info;
  };

  Stream s_;
  std::unique_ptr<DeMuxer> demuxer_;
  std::unique_ptr<GOP> scratch_;
  LGOP* first_ = nullptr;
  LGOP* last_ = nullptr;
  LGOP* curr_ = nullptr;
  int parse_count_ = 0;
  // The GOP parsed last and its span: its bytes are in memory already, so
  // reading it for the caller needs no second pass over the file.
  const GOP* parsed_ = nullptr;
  FileOffset parsed_start_;
  int parsed_length_ = 0;
  int rereads_ = 0;
};
