// Multiplexer family: the base class writes one elementary stream; PSMux
// writes program streams. Outputs go through a large write buffer; a short
// write sets a sticky error that every later call sees.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/bsfile.h"
#include "foundation/es_data.h"
#include "mux/es.h"

class Muxer {
 public:
  // *failed is 0 when the multiplexer is usable.
  Muxer(int type, int n_es, const ESData* es_list, const char* file_name, int* failed, int append = 0);
  virtual ~Muxer();
  Muxer(const Muxer&) = delete;
  Muxer& operator=(const Muxer&) = delete;

  // ---- the operations, in their order ----
  virtual int add_es_data(int stream_id, const uint8_t* data, int length, int sub_id);
  virtual int get_mux_rate();
  virtual int set_mux_rate(int rate);
  virtual double set_syshdr_rate(double rate);
  virtual int set_video_packet_size(int size);
  virtual int set_audio_packet_size(int size);
  virtual int is_svcd() const { return 0; }
  virtual void set_svcd(int) {}
  virtual void set_minimize(int) {}
  int get_vbr() const { return vbr_; }
  int set_vbr(int vbr) {
    const int old = vbr_;
    vbr_ = vbr;
    return old;
  }
  virtual int vbr_mux(int final);
  virtual int vbr_add_es_data(int stream_id, const uint8_t* data, int length, int sub_id) {
    return add_es_data(stream_id, data, length, sub_id);
  }
  virtual int vbr_set_mux_rate(int) { return 0; }
  int get_mux_rate_units() const { return mux_rate_units_; }
  virtual int set_mux_rate_units(int bps);
  // The chapter table of the navigation packs: starts in seconds. 1 when
  // taken, 0 when the output has no navigation packs or refuses the table.
  virtual int nav_entry(const double*, int) { return 0; }
  virtual int pack_state(int* a, int* b) {
    if (a) *a = 0;
    if (b) *b = 0;
    return 0;
  }
  virtual int mux_output(const uint8_t* data, int length);
  virtual int flush() { return 0; }
  virtual int set_transport_stream_id(int) { return 0; }
  virtual int set_program_number(int) { return 0; }
  virtual int set_pmt_pid(int) { return 0; }
  // Offers a source file whose program tables a transport output keeps
  // (numbers, PIDs, descriptors); 0 when taken, 1 when not.
  virtual int set_psi_sections(const char*) { return 1; }
  virtual int list_stream_ids(int*, int*, int) { return 0; }

  // ---- beyond the table ----
  // Shifts the times of the first video stream's pictures stored from now
  // on, and logs the correction when the DTS log is on.
  void add_dts_correction(double ticks);
  // An audio stream that starts `ticks` after the first picture shown; set
  // before its first bytes. 1 when the stream was found.
  int set_start_delay(int stream_id, int sub_id, double ticks);
  // The input of a stream has ended.
  virtual void set_stream_end(int stream_id, int sub_id);
  // Writes what is pending and closes the output; 0 on success, -1 after
  // any write error. Later calls return the same.
  virtual int finish();
  int write_error() const { return write_error_; }
  // The system's error number of the failed write (0 when none is known).
  int write_errno() const { return write_errno_; }
  int failed() const { return failed_; }
  int get_type() const { return type_; }
  int stream_count() const { return static_cast<int>(es_.size()); }
  ES* stream(int i) { return i >= 0 && i < stream_count() ? es_[size_t(i)].get() : nullptr; }
  int64_t bytes_written() const { return written_; }
  int64_t packs_written() const { return packs_; }
  // Overflow and late counts over every stream.
  int total_overflows() const;
  int total_underflows() const;
  // STD buffer counts of the writer's report: every stream's errors
  // (overflows and late units), and the late units alone.
  int count_stdb_errors() const { return total_overflows() + total_underflows(); }
  int count_stdb_underflows() const { return total_underflows(); }
  // Every stream's input has ended.
  void set_end_flags() {
    for (int i = 0; i < stream_count(); ++i) set_stream_end(es_[size_t(i)]->stream_id(), es_[size_t(i)]->sub_id());
  }

 protected:
  // Finds the stream of an id (and sub id when one is given); -1 none.
  int find_stream(int stream_id, int sub_id) const;
  int flush_output();
  // Payload of every video (or every other) stream; the streams changed.
  int set_packet_size(bool video, int size);

  int32_t vbr_ = 0;
  int32_t mux_rate_units_ = 0;
  std::vector<std::unique_ptr<ES>> es_;
  std::vector<uint8_t> fed_;
  int32_t type_ = 0;
  int32_t mux_rate_ = 0;
  double clock_step_ = 0.0;
  double scr_ = 0.0;
  int64_t handed_ = 0;
  int32_t videos_ = 0;
  int32_t failed_ = 1;
  double audio_delay_ = 0.0;
  BSFile out_;
  std::string name_;
  int64_t written_ = 0;
  int64_t packs_ = 0;
  int32_t last_stream_ = -1;
  int32_t write_error_ = 0;
  int write_errno_ = 0;
  int32_t finished_ = 0;
  std::vector<uint8_t> obuf_;
  size_t ohave_ = 0;
};

// Type 1-3 give an elementary output (a lone video becomes type 2 or 3), 4-7
// a program stream; type 8 a transport stream (PMT PID pmt_pid when valid).
// nav_option 1..99 is kept as the navigation VOB id. Null on failure.
Muxer* muxer_create(int type, int n_es, const ESData* es_list, const char* file_name, int pmt_pid, int nav_option);

// Stream ids and PIDs of the Multiplexer tool's outputs. A kind with no free
// slot is refused (0) instead of sharing an id.
class StreamIdTable {
 public:
  struct Entry {
    std::string name;
    int kind = 0;  // 1 video, 2 MPEG audio, 3 AC-3, 4 LPCM
    int stream_id = 0;
    int pid = 0;
  };
  // Returns the entry's index + 1, 0 when refused.
  int add_es(const char* name, int kind);
  int set_es_stream_id(const char* name, int id);
  int set_es_pid(const char* name, int pid);
  int get_es_index(const char* name) const;
  // 1 and the values, 0 when the name is unknown.
  int get_es_id(const char* name, int* stream_id, int* pid) const;
  int size() const { return static_cast<int>(entries_.size()); }
  const Entry& entry(int i) const { return entries_[size_t(i)]; }

 private:
  static int take_slot(std::vector<uint8_t>& slots);
  std::vector<Entry> entries_;
  std::vector<uint8_t> video_ids_ = std::vector<uint8_t>(16), mpa_ids_ = std::vector<uint8_t>(32),
                       ac3_ids_ = std::vector<uint8_t>(8), pcm_ids_ = std::vector<uint8_t>(8),
                       video_pids_ = std::vector<uint8_t>(16), audio_pids_ = std::vector<uint8_t>(32);
};
