// DeMuxerProgram: the demultiplexer of MPEG-1 system streams, Video CD
// files, MPEG-2 program streams, SVCD and DVD .VOB / .VRO files. It reads
// packets by start codes only (so 2048-byte packs, 2324-byte CD packs and
// raw 2352-byte sectors all read alike), lists the elementary streams of
// the start of the file, reads GOPs and audio spans and splits the file
// into elementary streams. DVD cells and recorder joins whose clocks
// restart are put on one time line through a table of cut-off segments.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "demux/demuxer.h"
#include "foundation/system_header.h"

class BSFile;

// 00 00 01 xx with xx >= 0xBA: bytes before it, *code = 0x100 | xx. Fewer
// than 4 bytes: 0; none found: length - 4 with *code 0xFFF.
int ps_next_start_code(const uint8_t* data, int length, int* code);

// What one decoded DVD navigation pack yields.
class NV_PCK_Parser {
 public:
  NV_PCK_Parser() = default;
  void reset();
  // Decodes the pack in data (at least 2048 bytes); 2048 on success, 0 on
  // failure (the cause goes to the trace).
  int decode(const uint8_t* data, int length, FileOffset offset);

  int vobu_vob_idn = 0;
  uint32_t vobu_ea = 0;
  uint32_t nv_pck_lbn = 0;
  uint32_t forward_jump = 0;  // sectors; 0 when none
  uint32_t next_vobu = 0;
  double vobu_s_ptm = 0.0, vobu_e_ptm = 0.0;
  double vob_v_s_s_ptm = 0.0, vob_v_e_e_ptm = 0.0;
  FileOffset offset;
  int times_read = 0;  // the time fields were read (also by a failed decode)
};

// One stretch of a file on its own clock: PTS inside it + delta lie on the
// file's continuous time line.
struct CutoffSegment {
  FileOffset start;
  double start_time = 0.0;
  double end_time = 0.0;
  double delta = 0.0;
};

// Scans for clock falls with `windows` search windows, then, while a scan
// finds more falls than half its windows, again with twice as many (at
// most `tries` more times, ending at the first that finds no more). The
// table with the most falls is the one kept: a finer scan can miss falls a
// coarser one saw.
std::vector<CutoffSegment> richest_fall_scan(int windows, int tries,
                                             const std::function<std::vector<CutoffSegment>(int)>& scan);

class DeMuxerProgram : public DeMuxer {
 public:
  // Packet-state flags.
  enum : uint32_t {
    kPesFound = 0x01,
    kPackBefore = 0x02,
    kSysHdrBefore = 0x04,
    kHasPts = 0x08,
    kHeaderError = 0x10,
    kTruncated = 0x20,
  };

  DeMuxerProgram();
  DeMuxerProgram(const char* name, int* error, int stream_type, int bit_rate, int skip_segments = 0);
  DeMuxerProgram(const DeMuxerProgram& other);
  DeMuxerProgram& operator=(const DeMuxerProgram&) = delete;
  ~DeMuxerProgram() override;

  // ---- DeMuxer operations ----
  int parse_gop(GOP* g, int stream_id, int back_step, int bounded) override;
  int read_gop(GOP* g, int stream_id, int first_picture_only) override;
  // Both rewrite the headers of video stream stream_id where they lie in
  // the packets' payloads: the bit rate of every sequence header (the
  // headers changed are counted), the VBV size and vbv_delay (the pictures).
  int seqhdr_modifier(int stream_id, int bit_rate) override;
  int read_abs(ESBuffer* span) override;
  double load_abs(ESBuffer* span, int count, int end_flag) override;
  // Writes the streams of the records that carry an output name; the bytes
  // of payload written, or -1.0 when an output cannot be opened, is the
  // input, or cannot take all its bytes (the outputs are then deleted).
  double demuxer(int count, ESData* records, JobControl* control, DemuxReport* report = nullptr) override;
  int next_packet() override;
  int skip_packet() override;
  int get_payload_size() override;
  int get_payload(uint8_t* buffer, int count) override;
  int is_same_audio_stream(const FrmHdr* h) override;
  int select_audio_es(int stream_id, int pid) override;
  // Cutting (program_trim.cpp). Packets keep their sizes throughout.
  int trim_start(BSFile* out, uint8_t* work, int size, FileOffset end) override;
  // The end of a stretch into out (size bytes); -1 when it does not fit.
  using DeMuxer::trim_end;
  int trim_end(uint8_t* out, int size, int) override;
  // Copies up to the end of a stretch, but never a DVD navigation pack that
  // opens the next video unit without a picture of its own behind it.
  int copy_bytes(uint8_t* out, int count, FileOffset end) override;
  // Start of the last navigation pack in [from, end) that no video packet
  // follows before end; end when there is none (or no 2048-byte packs).
  FileOffset stretch_end(FileOffset from, FileOffset end);
  int vbv_modifier(int stream_id, int vbv_size, int vbv_delay_increment) override;
  // One whole pack carrying the system header / the sequence header, its
  // SCR two / one packs before the cut's first pack; 0 when none fits.
  int format_syshdr_packet(uint8_t* buffer, int size);
  int format_seqhdr_packet(uint8_t* buffer, int size);
  // The spacing of the file's packs: 2324 for CD sectors, else 2048.
  int pack_size();
  int get_stream_flag() override { return (pkt_.flags & kPackBefore) ? 1 : 0; }
  double get_stored_time() override { return pkt_.scr; }

  // ---- packet layer ----
  int get_next_ps_packet(int selected_only);
  virtual int next_ps_packet(int selected_only);
  int detect_sub_stream();
  int packet_is_of(int key) const;
  int average_packet_size(int index) const;
  // Fills record from an LPCM sub-stream header at data (the sub-stream id
  // byte); 1 on success, 0 on failure.
  static int get_pcm_es_data(ESData* record, int stream_id, const uint8_t* data, int length);

  // ---- time lines ----
  int seek_next_pts(int key, int* count, double* pts);
  // Start alignment of an audio stream to the video: frames to drop (> 0)
  // or silent frames to add (< 0).
  int get_start_frames(const ESData& r);
  double first_audio_time(int key);
  void reset_pts_continuity();
  void continue_gop_pts(GOP* g, int keep);
  static int count_display_fields(const uint8_t* b, int n, int progressive_sequence);
  const std::vector<CutoffSegment>& get_segments() const { return segments_; }
  double segment_delta(FileOffset at, int which = 1) const;
  FileOffset get_vro_offset() const { return vro_offset_; }
  double get_vro_delta() const { return vro_delta_; }
  int check(FileOffset end);
  // Falls of the system clock between parts samples of the file.
  int check_cutoff(int parts);

  // The packet just read (positions from the read position).
  struct PacketState {
    uint32_t flags = 0;
    int packet_size = 0;
    int unbounded = 0;
    int stream_id = 0;
    int payload_offset = 0;
    int payload_size = 0;
    int start_code_offset = 0;
    int pes_fields_offset = 0;
    int pts_dts_flags = 0;
    double pts = kNoTime, dts = kNoTime, scr = kNoTime;
    FileOffset packet_offset;
    int sub_stream_id = 0;
    int ac3_sub_stream = 0, lpcm_sub_stream = 0, raw_ac3 = 0;
    int size_resync = 0;
    int mpeg2 = 0;  // the PES header had the MPEG-2 layout
  };
  const PacketState& packet() const { return pkt_; }
  int sub_streams_parsed() const { return parse_sub_streams_; }
  // Stream ids the selected-only reading accepts (empty: video and MPEG audio).
  void set_wanted_ids(std::vector<int> ids) { wanted_ = std::move(ids); }

 private:
  // The walk of both modifiers: bit_rate_value (-1: kept) and vbv_code (0:
  // kept) on sequence headers, increment on pictures. The headers changed
  // or, with count_pictures, the pictures seen; -1 on failure.
  int patch_video_headers(const char* who, int stream_id, int bit_rate_value, int vbv_code, int increment,
                          bool count_pictures);
  int open_source();
  int add_es_data(int key, int index);
  int get_video_es_data(ESData* r, int stream_id);
  int get_mpeg_audio_es_data(ESData* r, int stream_id);
  int get_ac3_es_data(ESData* r, int key);
  bool extended_dvd_search(int wanted_total, std::vector<int>* found);
  void find_late_video_start();
  void set_audio_1st_pts();
  void reset_state();
  const ESData* audio_record() const;
  void select_audio_key(int key);
  std::vector<uint8_t> gather_payloads(int key, int max);
  bool find_sequence_header();
  int selected_only() const { return type_mpeg1_ ? 1 : 0; }
  void step_past_header_error(const char* where);
  // Reads packets into g's buffer (the GOP parse proper).
  int parse_gop_packets(GOP* g, int v, int back_step, FileOffset limit);
  void skip_to_video_start();
  int before_video_start();
  void truncate_at_seq_end(GOP* g);
  void blank_seq_end(GOP* g);
  // Navigation packs and segments.
  int build_nav_segments();
  double get_segment_start_pts();
  double adjust_span(ESBuffer* s, double reference);
  void add_segment(FileOffset start, double st, double et, double delta);
  // Recorder joins.
  double scan_packs(FileOffset limit, int first_only, FileOffset* at);
  double search_cutoff(FileOffset* start, FileOffset* end, double* x);
  bool narrow_fall(FileOffset* a, double* scr_a, FileOffset* b, double* scr_b, uint64_t step);
  // *before: the clock of the last pack ahead of the fall.
  double refine_cutoff(FileOffset a, double scr_a, FileOffset b, double scr_b, FileOffset* out, double* before);
  double vro_get_delta(FileOffset from, FileOffset cut, double* x, double fallback);
  int scan_vro_segments(int windows);
  void build_vro_segments();
  double join_delta(FileOffset join);
  bool pts_disagree_with_length();
  // The length from the video time stamps when they run on one time line,
  // else from the bytes per field of GOPs sampled across the file.
  void length_from_pts();
  // Time codes that restart or jump: continued across each break, they
  // number the GOPs and give the length (false: no break placed).
  bool count_across_tc_restarts();

  PacketState pkt_;
  int parse_sub_streams_ = 0;
  int stop_at_limit_ = 0;
  FileOffset stop_offset_;
  int type_mpeg1_ = 0;  // types 4 and 5 read only the streams they know
  std::vector<int> wanted_;
  int packet_count_[2] = {0, 0};
  double packet_bytes_[2] = {0, 0}, payload_bytes_[2] = {0, 0};
  std::vector<int> taken_keys_;  // keys tried by add_es_data in this scan
  std::vector<std::pair<int, int>> failed_keys_;  // key whose filler failed, its packets since
  int ac3_count_ = 0, lpcm_count_ = 0;
  std::vector<CutoffSegment> segments_;
  int nav_segment_count_ = 0;
  int skip_segments_ = 0;
  int late_video_start_ = 0;
  FileOffset video_start_offset_;
  // GOP reading between calls.
  FileOffset skip_offset_;
  int skip_count_ = 0;
  double next_gop_scr_ = kNoTime;
  FileOffset next_gop_offset_;
  int prediction_valid_ = 0;
  double predicted_gop_pts_ = 0.0;
  int first_packet_size_ = 0, first_payload_size_ = 0;
  // Audio spans.
  double span_pack_scr_ = kNoTime;
  int largest_audio_payload_ = 0, largest_audio_packet_ = 0;
  double last_span_pts_ = 0.0;
  FileOffset last_span_end_;
  // Time-base reset of a recorder join.
  FileOffset vro_offset_;
  double vro_delta_ = 0.0;
  int pts_inconsistent_ = 0;
  SysHdr sys_hdr_;
  int decode_system_headers_ = 0;  // while the source set-up scans
  int announced_streams_ = 0, announced_av_ = 0;
  double trim_scr_ = kNoTime;  // SCR of the first pack of a cut
  int pack_size_ = 0;          // measured on first use
  FileOffset copy_end_asked_, copy_end_;  // copy_bytes' end and where it stops
  int pack_mpeg2_ = 1;
  int write_pack_header(uint8_t* b, double scr) const;
};
