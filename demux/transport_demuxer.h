// Demultiplexer of MPEG-2 transport streams (stream type 8): programs from
// the PAT and PMTs (or from a scan of PES stream ids when they are missing),
// the packet walk with resynchronisation, PES headers inside packet
// payloads, GOPs whose bytes are spread over the packets of one PID, audio
// spans of one PID and the job that splits a file into elementary files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "demux/demuxer.h"
#include "foundation/ts_packet.h"
#include "foundation/ts_tables.h"

class DeMuxerTransport;
// Opens name on a temporary demultiplexer and copies its PAT; 0 on success.
int ts_read_pat(const char* name, PAT* out);

class DeMuxerTransport : public DeMuxer {
 public:
  static constexpr int kNoPid = 0xFFFF;

  DeMuxerTransport();
  // Opens name as a transport stream; *error non-zero means the object must
  // be deleted (1: not a transport stream, or no program and no PES found).
  DeMuxerTransport(const char* name, int* error, int bit_rate = 0);
  DeMuxerTransport(const DeMuxerTransport& other);
  // Opens name only as far as a job that walks the packets itself needs:
  // sync phase, programs and streams, without the time-stamp table and the
  // length, which read the whole file. Null when the constructor would fail.
  static std::unique_ptr<DeMuxerTransport> open_streams(const char* name);
  DeMuxerTransport& operator=(const DeMuxerTransport& other);
  ~DeMuxerTransport() override;

  // ---- DeMuxer operations ----
  void goto_offset(FileOffset offset) override;
  int parse_gop(GOP* g, int stream_id, int back_step, int bounded) override;
  int read_gop(GOP* g, int stream_id, int first_picture_only) override;
  // In-place patches of the video's headers (transport_patch.cpp).
  int seqhdr_modifier(int stream_id, int bit_rate) override;
  int vbv_modifier(int stream_id, int vbv_size, int vbv_delay_increment) override;
  // Cuts: whole packets only (transport_trim.cpp).
  using DeMuxer::trim_end;
  int trim_start(BSFile* out, uint8_t* work, int size, FileOffset end) override;
  int copy_bytes(uint8_t* out, int count, FileOffset end) override;
  int trim_end(uint8_t* work, int size, BSFile* out) override;
  // Puts the stored sequence header in front of the first I picture of pid
  // in the packets of buffer: into zeroed payload before it when there is
  // room, else as new packets moved in front (returns their bytes; 0 when
  // they do not fit in capacity).
  int insert_seqhdr(uint8_t* buffer, int bytes, int capacity, int pid);
  int read_abs(ESBuffer* span) override;
  double load_abs(ESBuffer* span, int count, int end_flag) override;
  int get_pmt_pid() override { return pat_.get_pmt_pid(); }
  // Splits the file into the records' output files; the bytes walked, or
  // -1 when an output could not be opened or written.
  double demuxer(int count, ESData* records, JobControl* control, DemuxReport* report = nullptr) override;
  // Stream id of the packet at the read position; 0 at the end of the data
  // and for a packet whose PID is not an ES of the table: get_next_status()
  // tells the two apart. The read position does not move.
  int next_packet() override;
  int skip_packet() override;
  int get_payload_size() override { return pes_payload_length_ > 0 ? pes_payload_length_ : 184; }
  int get_payload(uint8_t* buffer, int count) override;
  int get_curr_pid() override { return packet_.PID; }
  int select_video_es(int stream_id, int pid) override;
  int select_audio_es(int stream_id, int pid) override;
  FileOffset get_curr_offset(FileOffset* out) override;

  // What the last next_packet() met.
  enum class NextStatus { es_packet, foreign_pid, end };
  NextStatus get_next_status() const { return next_status_; }

  // ---- packets ----
  // Decodes the packet at the read position: 0, non-zero at the end of the
  // data or when no packet could be found.
  int read_packet();
  // Moves one packet on.
  void advance_packet();
  // Decodes the PES header that starts in the current packet's payload:
  // 0, 1 no header, 4 not an MPEG-2 PES header.
  int decode_pes_header();
  // Payload of one packet (at least 184 bytes of room); advances a packet.
  int get_one_payload(uint8_t* buffer, int count);
  // The PES starting in the current packet: its stream id and up to size
  // payload bytes; the read position is restored. 0 on failure.
  int get_pes_payload(int* stream_id, uint8_t* buffer, int size);
  // The payload of the PES starting at the current packet, across packets.
  int copy_pes_payload(uint8_t* buffer, int room);

  // ---- programs and streams ----
  int select_program(int index);
  int get_program_count() const { return pat_.program_count; }
  int get_selected_program() const { return selected_program_; }
  const PAT& get_pat() const { return pat_; }
  const TSPMT* get_pmt(int i) const { return i >= 0 && i < int(pmts_.size()) ? &pmts_[size_t(i)] : nullptr; }
  int get_sync_phase() const { return sync_phase_; }
  int get_video_pid() const { return video_pid_; }
  int get_audio_pid() const { return audio_pid_; }
  // First PTS of the PES of one PID seen while its ES was added.
  double get_first_pts_of(int pid) const;
  double get_pes_pts() const { return pes_.pts_flag ? pes_.pts : kNoTime; }

  // ---- time stamps ----
  const std::vector<TimeStampPart>& get_timestamp_table() const { return tstable_; }
  int get_time_stamp_parts(std::vector<TimeStampPart>* parts) const override {
    if (parts) *parts = tstable_;
    return int(tstable_.size());
  }
  void set_timestamp_table(const std::vector<TimeStampPart>& t) { tstable_ = t; }
  // The correction for time stamps read at offset (0 without a table).
  double lookup_offset_table(FileOffset offset) const;

  // Decodes a PES header at p (n bytes held). Exposed for the fuzz target.
  struct PesHeader {
    int start_offset = 0;  // bytes before the start code
    int stream_id = 0;
    int header_length = 0;
    int total_length = 0;  // PES_packet_length + 6; 0 when unbounded
    int payload_length = 0;
    int pts_flag = 0;
    int pts_kind = 0;  // 0 none, 2 PTS, 3 PTS and DTS
    double pts = kNoTime;
    double dts = kNoTime;
  };
  static int parse_pes_header(const uint8_t* p, int n, PesHeader* h);

 private:
  DeMuxerTransport(const char* name, int* error, int bit_rate, bool measure);
  int init_parser();
  int scan_pes_pids(int add);
  int probe_pes_pid(int pid, int add);
  int add_es_data(int pid, int type_code);
  int add_video_es(int pid, int stream_id);
  int add_mpeg_audio_es(int pid, int stream_id, const uint8_t* payload, int length);
  int add_ac3_es(int pid, int stream_id, const uint8_t* payload, int length);
  // Linear PCM: the four-byte header in front of each PES payload (16-bit
  // stereo samples at 48 or 96 kHz); 1 when the stream is taken.
  int add_lpcm_es(int pid, int stream_id, const uint8_t* payload, int length);
  bool is_lpcm_pid(int pid) const;
  void copy_members(const DeMuxerTransport& other);
  bool step_over_bad_packet();
  // The packets of a search window from the read position: the next one
  // decoded, doubling the window once when nothing was found in it.
  struct ScanWindow {
    int packets = 0;
    int k = 0;
    bool doubled = false;
  };
  bool next_in_window(ScanWindow* w, bool found);
  void finish_open();
  // Length, first GOP and last GOP of the selected video.
  void measure_length();
  // Payload of the PES packets of pid from the current position into s,
  // until want bytes are in, one PES delivered bytes (one_pes) or end.
  int collect_pid(int pid, ESBuffer* s, int want, FileOffset end, bool one_pes, FileOffset* first_pes, double* pts);
  bool probe_audio_span(int pid, bool ac3, FrmHdr* mpeg, AC3FrmHdr* a52);
  void sort_es_by_program();
  void select_default_es();
  int pick_mpeg_audio_pid(int pid);
  int set_abs_pid(ESBuffer* span);
  int window_packets() const;
  const uint8_t* packet_bytes() const { return buf_.bytes.get() + buf_.rd; }
  const uint8_t* payload_bytes() const { return packet_bytes() + packet_.payload_start(); }
  int pid_index(int pid) const;
  void note_first_pts(int pid, double pts);
  // The payload of the current packet less its PES header: the bytes in
  // front of the start code and those behind the header (at most two runs).
  struct PayloadPieces {
    const uint8_t* p[2] = {nullptr, nullptr};
    int n[2] = {0, 0};
    int count = 0;
    void add(const uint8_t* b, int len) {
      p[count] = b;
      n[count++] = len;
    }
    int total() const { return n[0] + n[1]; }
  };
  PayloadPieces payload_pieces();
  bool video_pieces(PayloadPieces* pieces);
  int patch_pid_for(int stream_id) const;
  // Calls visit(offset, split, offset2, code) for each sequence header and
  // picture start code of pid in f; visit returns false to stop.
  using HeaderVisit = std::function<bool(FileOffset, int, FileOffset, int)>;
  bool walk_video_headers(BSFile* f, int pid, const HeaderVisit& visit);
  // Copies the pieces into dst; -1 when they do not fit in room.
  static int copy_pieces(const PayloadPieces& pieces, uint8_t* dst, int room);
  bool is_packet_start(FileOffset at);
  int parse_split_pes_header();
  // Back to an offset this object handed out, without rounding.
  void seek_exact(FileOffset at);
  int pick_video_pid(const GOP* g, int stream_id);
  void use_sequence_header_of(int pid);
  void build_timestamp_table();
  int write_silent_frames(const ESData& es, int n, const std::function<void(const uint8_t*, int)>& put);
  // First audio PTS of a PES starting in [from, limit); at: its packet.
  double scan_audio_pts(FileOffset from, FileOffset limit, FileOffset* at);
  // Play time of an audio PES payload, in 90 kHz ticks.
  double audio_ticks_of(int payload_bytes) const;
  double timestamp_table_length() const;
  double scan_pts(int pid, FileOffset from, FileOffset limit, FileOffset* at);
  // A reset found between two probes: where the later part starts (join),
  // its first audio PES, the audio end of the part before and start of the
  // one after, and the same by video frames (none: no video).
  struct ResetFound {
    FileOffset join, reset;
    double end_pts = 0, start_pts = 0;
    double video_end = 0, video_start = 0;
  };
  bool find_reset(FileOffset floor, FileOffset a, double a_pts, FileOffset b, double ticks_per_byte, ResetFound* r);
  void resync();

  bool opening_ = false;  // the length is measured once the streams are known
  int selection_made_ = 0;
  std::vector<int> pids_;  // PID of each ES record (same index)
  TSPacket packet_;
  PesHeader pes_;
  int pes_payload_length_ = 184;
  int header_skip_ = 0;  // PES header bytes still to skip in the next packet of the PID
  int header_skip_pid_ = 0;
  FileOffset pes_packet_;  // packet whose PES header pes_ holds
  int sync_phase_ = 0;
  PAT pat_;
  std::vector<TSPMT> pmts_;
  int selected_program_ = 0;
  int video_pid_ = kNoPid;
  int seq_pid_ = -1;  // the video whose sequence header st_.seq holds
  int audio_pid_ = kNoPid;
  struct RetrySlot {
    int pid = 0;
    FileOffset before;
  };
  std::vector<RetrySlot> retry_;  // AC-3 PIDs not probed again before an offset
  std::vector<TimeStampPart> tstable_;
  FileOffset curr_pes_offset_;
  std::vector<int> rejected_video_;
  struct FirstPts {
    int pid;
    double pts;
  };
  std::vector<FirstPts> first_pts_;
  // Where the GOP after the last parsed one starts: its first packet and the
  // payload bytes of that packet that belonged to the parsed GOP.
  FileOffset next_gop_packet_;
  int next_gop_consumed_ = -1;
  NextStatus next_status_ = NextStatus::end;
};
