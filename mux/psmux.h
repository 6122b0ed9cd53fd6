// Program-stream multiplexer: MPEG-1 system streams (type 4), Video CD (5),
// MPEG-2 program streams (6) and SVCD (7, an MPEG-2 program stream in
// 2324-byte packs). One packet per pack; every pack has the full pack size.
//
// Scheduling: each pack goes to the stream whose next byte is due first
// (earliest decoding deadline) among those whose decoder buffer has room for
// the packet when the pack starts, so buffers neither overflow nor run dry
// while the rate suffices. When no stream can send, a constant-rate stream
// writes a padding pack (an empty sector on Video CD); a variable-rate or
// size-minimised one moves its clock to the next removal instead.
#pragma once

#include <cstdint>
#include <vector>

#include "mux/muxer.h"
#include "mux/nvpack.h"

#include <memory>

class PSMux : public Muxer {
 public:
  PSMux(int type, int n_es, const ESData* es_list, const char* file_name, int* failed, int nav_option = 0);
  ~PSMux() override;

  int add_es_data(int stream_id, const uint8_t* data, int length, int sub_id) override;
  int get_mux_rate() override;
  int set_mux_rate(int rate) override;
  double set_syshdr_rate(double rate) override;
  int set_video_packet_size(int size) override;
  int set_audio_packet_size(int size) override;
  int is_svcd() const override { return svcd_; }
  void set_svcd(int on) override;
  void set_minimize(int on) override;
  int vbr_mux(int final) override;
  int vbr_set_mux_rate(int frames) override;
  int set_mux_rate_units(int bps) override;
  int pack_state(int* a, int* b) override;
  void set_stream_end(int stream_id, int sub_id) override;
  int finish() override;
  // Chapter starts in seconds for the navigation packs (one at 0 unless
  // set): 1..127 of them, before the first data.
  int nav_entry(const double* starts, int count) override;

  // The mux_rate field written in pack headers (units of 50 bytes/s).
  int mux_rate_field() const { return rate_field_; }
  // The navigation list after finish() (null without navigation).
  const NVPackList* nav_list() const { return nav_.get(); }
  double start_delay() const { return start_delay_; }

 private:
  struct Row {
    int pack, vhdr, ahdr, vpay, apay, size, flag;
  };
  int set_payload_sizes(bool video, int size);
  bool all_ready() const;
  int start();
  int mpeg1_start();
  int vcd_start();
  int mpeg2_start();
  double compute_start_delay() const;
  int mux_step(int final);
  int write_system_header_pack();
  int write_syshdr_pack();
  // One pack of stream i (forced: even beyond its buffer). -1 on a write
  // error, 0 when it had nothing, else the pack bytes.
  int write_pack(int i, bool forced);
  int write_padding_pack();
  int write_end();
  int pack_header(uint8_t* out) const;
  int system_header(uint8_t* out) const;
  int padding_packet(uint8_t* out, int size) const;
  int std_units(const ES& e, int* scale) const;
  void advance(int bytes);
  bool nav_on() const { return nav_ != nullptr; }
  // Packs carry only what the streams need: no padding packs, and several
  // pictures may share a packet.
  bool variable_rate() const { return (vbr_ || minimize_) && !vcd_; }
  int write_nav_pack();
  void nav_note_pack(int i, uint32_t lbn, const ES::UnitStart* starts, int count);
  int nav_finish();

  int32_t ac3_count_ = 0;
  int32_t pcm_count_ = 0;
  int32_t mpa_count_ = 0;
  int32_t svcd_ = 0;
  int32_t vcd_ = 0;
  int32_t minimize_ = 0;
  int32_t csps_ = 1;
  double syshdr_rate_ = 1.0 / 7200;
  int32_t rate_field_ = 0;
  int32_t nav_vob_id_ = 0;
  Row row_{};
  int32_t started_ = 0;
  int32_t header_written_ = 0;
  int32_t syshdr_pending_ = 0;  // waits for the first video packet's pack
  int32_t ended_written_ = 0;
  double start_delay_ = 0.0;
  double step_rate_ = 0.0;  // bytes/s the clock runs at
  std::vector<uint8_t> pack_;
  std::vector<uint8_t> first_packet_;  // per stream: the STD field is still due
  // Navigation: the list, the entry being filled, the reference picture
  // whose last pack is not known yet, the VOBU opened before its GOP.
  std::unique_ptr<NVPackList> nav_;
  std::vector<double> chapters_ = {0.0};
  int nav_ref_open_ = -1;
  bool nav_awaiting_gop_ = false;
  uint32_t nav_last_video_lbn_ = 0;
  double nav_max_pts_ = -1;
};
