// Elementary-stream packetiser: one input stream of a multiplexer. It keeps
// the stream's bytes, cuts them into access units as they arrive (pictures,
// audio frames) with their decoding and presentation times, models the
// decoder's input buffer and hands out packet payloads with their stamps.
//
// Times are 90 kHz ticks. Video: a picture is decoded when the anchor before
// it is shown (B pictures at once), so DTS(anchor) = PTS(previous anchor) and
// DTS(B) = PTS(B); presentation follows display order with each picture's
// real field count (3:2 pulldown included). An anchor's PTS is known once
// the next anchor (or the end of the stream) has been stored.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "foundation/ac3.h"
#include "foundation/audio_header.h"
#include "foundation/es_buffer.h"
#include "foundation/es_data.h"
#include "foundation/seq_header.h"

// Mux types (the stream-type codes of the outputs).
enum MuxType : int32_t {
  MUX_MPEG1_AUDIO_ES = 1,
  MUX_MPEG1_VIDEO_ES = 2,
  MUX_MPEG2_VIDEO_ES = 3,
  MUX_MPEG1_SYSTEM = 4,
  MUX_VCD = 5,
  MUX_MPEG2_PROGRAM = 6,
  MUX_SVCD = 7,
  MUX_TRANSPORT = 8,
};

// Packet time-stamp kinds.
enum TsKind : int32_t { TS_NONE = 0, TS_PTS = 1, TS_PTS_DTS = 2 };

class ES {
 public:
  // Stream kinds 1 (MPEG audio), 2/3 (video), 9 (AC-3), 10 (LPCM); error()
  // tells whether the stream was refused.
  ES(int mux_type, const ESData& data, int payload_size, int preset_flag);
  ~ES();
  ES(const ES&) = delete;
  ES& operator=(const ES&) = delete;

  int error() const { return error_; }
  int set_abs_id(int id);
  // Appends input; the first bytes set the stream up. Returns the bytes
  // stored, 0 when refused (store limit reached, no memory).
  int store_data(const uint8_t* data, int length);
  // No more input: the last access units are closed.
  void set_end();
  int is_end() const { return ended_; }

  // Start of the stream's time line: the first video DTS, or the first
  // audio PTS (ticks).
  void set_start_time(double ticks);
  double get_start_time() const { return start_; }
  // How long after the first picture shown an audio stream starts (ticks):
  // a stream that starts late keeps its delay in its time stamps.
  void set_start_delay(double ticks) { start_delay_ = ticks > 0 ? ticks : 0.0; }
  double start_delay() const { return start_delay_; }
  void set_buffer_size(int bytes);
  int get_buffer_size() const { return buffer_size_; }
  // Buffer bound in units of 1024 bytes (128 for MPEG audio in MPEG-1).
  int get_buffer_bound(int mpeg2) const;

  // ---- what the multiplexer asks before a packet ----
  int64_t held() const { return stored_ - sent_; }
  // Bytes that may go now: up to the first picture whose stamps are not
  // known yet (all at the end).
  int64_t deliverable() const;
  // Buffer room at time t after the removals due by then.
  int64_t room(double t);
  // Removal time of the unit holding the next byte to send (huge when none).
  double deadline() const;
  // Next removal after t that frees bytes (huge when none).
  double next_removal(double t) const;
  // The first unit starting within the next n bytes to send: its offset from
  // the next byte (-1 when none) and its stamps.
  int next_stamp(int64_t n, double* pts, double* dts) const;
  // Offset of the second unit that starts within the next n bytes (-1 none).
  int second_unit_start(int64_t n) const;
  // Bytes from the next byte to the end of the count-th unit that starts at
  // or after it, when those units are complete and stamped; -1 otherwise.
  // At the end of a stream without units: what is held.
  int64_t unit_span(int count) const;
  // The next byte starts a sequence header.
  bool at_sequence_header() const { return !seq_starts_.empty() && seq_starts_.front() == sent_; }
  // A unit that starts within the next bytes to send: its offset from the
  // next byte, its coding type and its presentation time (ticks).
  struct UnitStart {
    int offset;
    int type;
    double pts;
  };
  // The units that start within the next n bytes, in order, up to max.
  int unit_starts(int64_t n, UnitStart* out, int max) const;
  // Offset of the next sequence header after the next byte (-1 none).
  int64_t next_sequence_header(int64_t n) const;
  // Takes n bytes (as they will be sent) into dst; returns the bytes taken.
  int take(uint8_t* dst, int n);
  // One packet payload for a clock (ticks): at most max_payload bytes (0:
  // the payload size) and room, no more than the decoder buffer takes at
  // that clock, ending before the second unit that starts in it. Returns
  // the bytes written; the stamps of the packet are then ts_kind(), pts()
  // and dts(). 0 when the stream cannot deliver now.
  int next_packet(double clock, uint8_t* dst, int room, int max_payload);
  int ts_kind() const { return ts_kind_; }
  double pts() const { return pts_; }
  double dts() const { return dts_; }

  // ---- facts ----
  int kind() const { return kind_; }
  bool is_video() const { return kind_ == ES_KIND_MPEG1_VIDEO || kind_ == ES_KIND_MPEG2_VIDEO; }
  int stream_id() const { return stream_id_; }
  int sub_id() const { return sub_id_; }
  int initialised() const { return init_; }
  int payload_size() const { return payload_size_; }
  void set_payload_size(int n) { payload_size_ = n; }
  int preset_flag() const { return preset_flag_; }
  int reserve() const { return reserve_; }
  int bit_rate() const { return bit_rate_; }
  double frame_rate() const { return pic_rate_; }
  int video_mpeg2() const { return mpeg2_; }
  int constrained() const { return constrained_; }
  const SeqHdr& seqhdr() const { return seq_; }
  int first_vbv_delay() const { return vbv_delay_; }
  int sample_rate() const { return sample_rate_; }
  int channels() const { return channels_; }
  int audio_layer() const { return layer_; }
  double unit_duration() const { return unit_ticks_; }
  int packet_count() const { return packets_; }
  void count_packet() { ++packets_; }
  int64_t bytes_sent() const { return sent_; }
  // The most bytes it held at once.
  int64_t peak_held() const { return peak_held_; }
  int overflows() const { return overflow_; }
  int underflows() const { return late_; }
  int units() const { return units_total_; }
  void set_minimize(int on) { minimize_ = on; }
  void set_limit(int64_t bytes) { limit_ = bytes; }
  double first_pts() const { return first_pts_; }

  // Shifts the times of the pictures stored from now on (ticks).
  void add_time_correction(double ticks) { correction_ += ticks; }
  // Time of the last stored unit (its PTS when known, else its DTS).
  double last_time() const;

  // ---- LPCM set-up (48 kHz only) ----
  int init_pcm(int sample_rate, int channels);
  // The 7-byte sub-stream header of the next packet: n payload bytes that
  // start first_unit bytes into a unit (0: at one).
  void pcm_header(uint8_t out[7], int n, int packet_index) const;
  // Frame header count and first unit pointer of an AC-3 packet.
  void ac3_header(uint8_t out[4], int n) const;

 private:
  struct Unit {
    int64_t start;  // its first byte (picture or frame start code)
    int64_t end;    // one past its last byte; -1 until known
    double dts, pts;
    int fields;
    int type;
    bool resolved;  // pts known
    bool late;      // counted as a buffer underflow
  };

  int init_video(const uint8_t* data, int length);
  void parse(bool at_end);
  int parse_video(const uint8_t* d, int n, int64_t base, bool at_end);
  int parse_audio(const uint8_t* d, int n, int64_t base, bool at_end);
  void add_picture(int64_t boundary, int64_t start, int type, int fields, int structure);
  void add_frame(int64_t start);
  void close_unit(int64_t end);
  void remove_until(double t);

  int32_t kind_ = 0;
  int32_t stream_id_ = 0;
  int32_t sub_id_ = 0;
  int32_t error_ = 0;
  int32_t init_ = 0;
  int32_t ended_ = 0;
  int32_t minimize_ = 0;
  int32_t payload_size_ = 0;
  int32_t preset_flag_ = 0;
  int32_t reserve_ = 0;
  int32_t packets_ = 0;
  int32_t overflow_ = 0;
  int32_t late_ = 0;

  ESBuffer buf_;
  int64_t stored_ = 0;
  int64_t sent_ = 0;
  int64_t limit_ = 0;
  int64_t peak_held_ = 0;
  int32_t buffer_size_ = 0;

  // Parsing: the bytes not yet judged, from work_base_ on.
  std::vector<uint8_t> work_;
  int64_t work_base_ = 0;

  // Units: the front ones may already be removed from the model.
  std::deque<Unit> units_;
  int64_t removed_ = 0;  // bytes removed from the decoder buffer
  int32_t units_total_ = 0;
  std::deque<int64_t> seq_starts_;

  // Time line.
  double start_ = 0.0;
  double start_delay_ = 0.0;
  double first_pts_ = 0.0;
  double unit_ticks_ = 0.0;  // audio frame / video frame period
  double half_ = 0.0;        // half a frame period
  // Video reordering: display cursor in half periods, the anchor waiting for
  // its PTS, the PTS of the last shown anchor.
  int64_t cursor_ = 0;
  int pending_anchor_ = -1;  // index into units_ counted from units_base_
  int64_t units_base_ = 0;   // units popped from the front
  double last_anchor_pts_ = 0.0;
  bool have_anchor_ = false;
  bool field_open_ = false;
  int64_t group_start_ = -1;  // first header after the last picture
  int32_t audio_frames_ = 0;
  double correction_ = 0.0;
  int32_t ts_kind_ = TS_NONE;
  double pts_ = 0.0, dts_ = 0.0;

  // Stream facts.
  SeqHdr seq_;
  int32_t bit_rate_ = 0;
  double pic_rate_ = 29.97002997002997;
  int32_t width_ = 352, height_ = 240;
  int32_t mpeg2_ = 0;
  int32_t progressive_ = 0;
  int32_t constrained_ = 0;
  int32_t vbv_delay_ = -1;
  FrmHdr frm_;
  AC3FrmHdr ac3_;
  int32_t sample_rate_ = 0;
  int32_t channels_ = 0;
  int32_t layer_ = 0;
  int32_t lpcm_frame_ = 0;
  int64_t next_frame_ = 0;  // audio: where the next frame header is due
};

// Payload room of a stream kind under a mux type (LPCM 2013; AC-3 and MPEG
// audio the audio column; video the video column, +10 under the flag);
// *flag gets the row's flag.
int get_es_payload_size(int mux_type, int svcd, int kind, int* flag);
