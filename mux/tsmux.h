// Transport-stream multiplexer (type 8): one program of one video and up
// to 8 MPEG or AC-3 audio streams in 188-byte packets.
//
// The engine, GopTS, cuts one PES packet per picture and one per one or two
// audio frames (the ES packetiser gives units and stamps) and sends
// transport packets earliest-deadline first among the streams whose decoder
// buffer has room, at a peak rate above the streams' sum. When nothing can
// go it moves its clock to the next buffer removal instead of writing null
// packets, with a PCR-only packet whenever 35 ms would pass without a PCR.
// The audio clocks start at the first displayed picture. PAT and PMT go out
// with every mux call (once per GOP from the drivers), scheduled among the
// streams' deadlines.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "mux/muxer.h"
#include "mux/ts_pes.h"

// PIDs of one output: every value distinct, within 16..8190.
class PidAllocator {
 public:
  // Marks pid used when it is free and in range; 1 on success.
  int claim(int pid);
  // The wanted pid when free, else the next free one from base up; 0 when
  // none is left.
  int take(int wanted, int base);
  bool used(int pid) const { return pid >= 0 && pid < 8192 && used_[size_t(pid)]; }

 private:
  std::vector<uint8_t> used_ = std::vector<uint8_t>(8192);
};

class GopTS {
 public:
  GopTS(Muxer* out, int pmt_pid, int transport_stream_id, int program_number);
  void add_stream(std::unique_ptr<PESStream> s) { streams_.push_back(std::move(s)); }
  int track_count() const { return static_cast<int>(streams_.size()); }
  const PESStream& track(int i) const { return *streams_[size_t(i)]; }
  // Sends what the data held allow; with final, everything. -1 on a write
  // error.
  int run(bool final);
  // A mux call: the program tables go out before its packets.
  void request_tables() {
    if (tables_due_) return;
    tables_due_ = true;
    tables_asked_ = clock_;
  }
  int rate() const { return rate_; }
  int pmt_pid() const { return pmt_pid_; }
  void set_pmt_pid(int pid) { pmt_pid_ = pid; }
  void set_transport_stream_id(int id) { tsid_ = id; }
  void set_program_number(int n) { program_ = n; }
  void set_track_pid(int i, int pid) { streams_[size_t(i)]->set_pid(pid); }
  // Descriptors written beside the own ones: the program's, and per track
  // (in track order); dropped when the table would not fit one packet.
  void set_descriptors(std::vector<uint8_t> program, std::vector<std::vector<uint8_t>> tracks) {
    program_desc_ = std::move(program);
    track_desc_ = std::move(tracks);
  }
  int pat_count() const { return pat_count_; }
  // Packets sent past a full buffer because a deadline had come.

 private:
  bool start();
  void build_psi();
  std::vector<uint8_t> make_pmt(bool with_kept) const;
  int emit_psi();
  int emit_pcr_only();
  // One packet of s at the clock; returns 1 sent, -1 error.
  int emit(PESStream& s, bool pcr);
  int write_packet(int pid, bool unit_start, int* cc, double pcr, const uint8_t* payload, int n, bool has_payload);

  Muxer* out_;
  std::vector<std::unique_ptr<PESStream>> streams_;
  int pmt_pid_, tsid_, program_;
  int rate_ = 0;
  bool started_ = false;
  double clock_ = 0.0, packet_ticks_ = 0.0, last_pcr_ = -1e18;
  // Tables: asked for by a mux call (the first packet of the stream too),
  // sent before any unit whose deadline is later than the ask plus a
  // margin; otherwise at the latest every table_limit.
  bool tables_due_ = true;
  double tables_asked_ = 0.0, last_tables_ = -1e18;
  int64_t packets_since_tables_ = 1;
  int pat_cc_ = 0, pmt_cc_ = 0, pat_count_ = 0;
  int forced_ = 0;
  std::vector<uint8_t> pat_, pmt_;
  std::vector<uint8_t> program_desc_;
  std::vector<std::vector<uint8_t>> track_desc_;
  uint8_t pkt_[188];
};

class TSMux : public Muxer {
 public:
  // PIDs: a stream's ESData pid when valid and free, else the next free
  // from 65 (video) or 66 (audio); the PMT PID 48 unless pmt_pid is valid.
  TSMux(int n_es, const ESData* es_list, const char* file_name, int* failed, int pmt_pid);
  ~TSMux() override;

  int add_es_data(int stream_id, const uint8_t* data, int length, int sub_id) override;
  int get_mux_rate() override;
  int vbr_mux(int final) override;
  void set_stream_end(int stream_id, int sub_id) override;
  int finish() override;
  int set_pmt_pid(int pid) override;
  int set_transport_stream_id(int id) override;
  int set_program_number(int n) override;
  // The first program of a transport-stream source (the one its
  // demultiplexer selects): transport_stream_id, program_number, PMT PID,
  // the PIDs of video and audio streams of the same kinds, and their
  // descriptors. Streams whose PID was asked for keep it. Only before the
  // first packet.
  int set_psi_sections(const char* source) override;
  int list_stream_ids(int* ids, int* pids, int n) override;
  int pmt_pid() const { return engine_ ? engine_->pmt_pid() : pmt_pid_; }
  int stream_type(int i) const {
    return engine_ && i >= 0 && i < engine_->track_count() ? engine_->track(i).stream_type() : 0;
  }

 private:
  int pump(bool final);
  std::unique_ptr<GopTS> engine_;
  int pmt_pid_ = 48;
  int done_ = 0;
  std::vector<uint8_t> asked_pid_;  // per track: its ESData named the PID
};
