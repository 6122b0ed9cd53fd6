// The writer of one saved movie: owns the output's multiplexer, takes the
// video one chunk (headers, then one picture) at a time and the audio in
// frames, and rewrites the video on its way so that copied pieces from
// several sources form one stream: aspect ratio and vbv_buffer_size of every
// sequence header, GOP time codes counted from the start of the output, and
// each picture's vbv_delay from the buffer model.
//
// The output is written to NAME.partial beside the target and renamed over
// the target only by a successful close, so that a failed or stopped save
// never destroys what the target held (an input included).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "demux/demuxer.h"
#include "foundation/engine_error.h"
#include "foundation/es_data.h"
#include "foundation/gop_header.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/timecode.h"
#include "foundation/vbv.h"
#include "mux/muxer.h"

class Save {
 public:
  // Flags of update().
  enum : int { kGopRewritten = 1, kSeqHandled = 2, kVbrPicture = 4 };

  Save() = default;
  // A writer ready for its streams; null (and *error filled) when the
  // output cannot be made. nav_option 1..99 writes a DVD program stream
  // (kind 6) with navigation packs; svcd switches a kind 6 output to SVCD.
  static std::unique_ptr<Save> create(const char* name, int kind, const ESData* es, int n_es,
                                      EngineError* error = nullptr, int nav_option = 0);
  ~Save();
  Save(const Save&) = delete;
  Save& operator=(const Save&) = delete;

  // pmt_pid: the program map PID of a transport output (0: the default).
  int init(const char* name, int kind, int n_es, const ESData* es, int nav_option = 0, int pmt_pid = 0);

  // A chunk is header_bytes of headers followed by picture_bytes of one
  // picture; rewritten in place. Returns the bytes the multiplexer took (0
  // after any write error).
  int save_vbs(uint8_t* data, int picture_bytes, int header_bytes, int stream_id);
  // Returns the bytes of the block consumed: a stream's bytes before its
  // first frame start are dropped (and counted).
  int save_abs(const uint8_t* data, int bytes, int stream_id, int pid);
  // Rewrites one chunk; returns the kGopRewritten / kSeqHandled / kVbrPicture
  // flags.
  int update(uint8_t* data, int picture_bytes, int header_bytes);
  int vbr_flush(int final);

  int set_aspect_ratio(int code);
  int set_drop_frame_flag(int flag);
  void set_vbv_buffer_size(const SeqHdr& seq);
  void set_vbr();
  void set_svcd();
  int set_abort(int flag) {
    const int old = aborted_;
    aborted_ = flag;
    return old;
  }
  int set_transport_stream_id(int id);
  int set_program_number(int n);
  int set_pmt_pid(int pid);
  // A transport output keeps the program tables of the source file (0), or
  // its own (1, logged) when they cannot be taken.
  int set_psi_sections(const char* source_file_name);
  int get_audio_ids(int* ids, int* pids, int max) const;
  // Buffer status of the multiplexer into *status: the overflow
  // count when it is larger than the underflow count, else minus the
  // underflow count. Returns their sum.
  int report_stdb_error_status(int32_t* status);

  // Finishes the output. keep 0 deletes it (a stop that keeps nothing); an
  // aborted save is closed without the closing end code. 0 when the target
  // now holds the output (or, with keep 0, when nothing was left), 1 when
  // writing, finishing or renaming failed (nothing is left then).
  int close(int keep = 1);

  // A write to the output fell short (sticky).
  bool failed() const { return muxer_ && muxer_->write_error(); }
  // What a failed save tells the user: "the output could not be written"
  // and, when known, the system's cause (disk full, file too large...).
  std::string write_failure() const;
  Muxer* muxer() { return muxer_.get(); }
  double bytes_written() const { return bytes_written_; }
  int get_fields() const { return fields_; }
  int get_aspect_ratio() const { return aspect_ratio_; }
  const std::string& partial_name() const { return partial_; }
  // Kinds whose pictures need a DVD, SVCD or Video CD aspect code.
  bool aspect_required() const { return nav_option_ > 0 || kind_ == MUX_VCD || kind_ == MUX_SVCD || svcd_; }

 private:
  int alloc_headers(const char* name);
  int init_muxer(int kind, int n_es, const ESData* es, int pmt_pid);
  void update_seqhdr(uint8_t* data, int bytes);
  void update_gop(uint8_t* data, int bytes);
  int patch_aspect_ratio(uint8_t* data, int bytes, int code);
  int patch_vbv_buffer_size(uint8_t* data, int bytes);
  int add_video(uint8_t* data, int bytes, int stream_id);
  int derived_aspect(const SeqHdr& s) const;
  void read_transport_ids();

  int32_t vbr_wanted_ = 0;
  int32_t vbr_active_ = 0;
  int32_t vbr_flags_ = 0;
  int64_t vbr_bytes_ = 0;
  int32_t vbr_fields_ = 0;
  int32_t aborted_ = 0;
  std::unique_ptr<Muxer> muxer_;
  double bytes_written_ = 0;
  int32_t video_id_ = 0xE0;
  int32_t audio_kind_[8] = {}, audio_id_[8] = {}, audio_pid_[8] = {};
  int32_t n_audio_ = 0;
  std::string name_, partial_;
  std::unique_ptr<VBV> vbv_;
  SeqHdr seq_;
  GopHdr gop_;
  PicHdr pic_;
  int32_t fields_ = 0;
  int32_t header_bytes_ = 0;
  int32_t prev_picture_bytes_ = 0;
  int32_t drop_frame_ = 0;
  int32_t height_ = 0;
  int32_t aspect_ratio_ = 0;
  int32_t vbv_buffer_size_ = 0;
  int32_t end_code_seen_ = 0;
  int32_t audio_started_[8] = {};
  int32_t progressive_ = 1;
  int32_t kind_ = 0;
  int32_t nav_option_ = 0;
  int32_t svcd_ = 0;
  int32_t closed_ = 0;
  SMPTE_TimeCode timecode_;
};
