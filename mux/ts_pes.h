// The PES packets of one stream of a transport stream, handed out in
// 184-byte (176 with a PCR) pieces: VideoPES cuts one PES per picture with
// PTS and DTS, AudioPES one per one or two audio frames under the audio
// decoder buffer model (AudioTSTD).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/ac3.h"
#include "mux/audio_tstd.h"
#include "mux/es.h"

class PESStream {
 public:
  PESStream(ES* es, int pid, int stream_type, int pes_id) : es_(es), pid_(pid), type_(stream_type), pes_id_(pes_id) {}
  virtual ~PESStream() = default;
  PESStream(const PESStream&) = delete;
  PESStream& operator=(const PESStream&) = delete;

  virtual bool is_video() const = 0;
  ES* es() const { return es_; }
  int pid() const { return pid_; }
  void set_pid(int pid) { pid_ = pid; }
  int stream_type() const { return type_; }
  int pes_id() const { return pes_id_; }
  int* cc() { return &cc_; }
  int64_t packets() const { return packets_; }

  // Nothing of the current PES is left to send.
  bool idle() const { return pes_left_ == 0 && header_at_ >= header_.size(); }
  // Starts the next PES when its units are complete; false when none is.
  bool open();
  // The current PES has not sent its first packet yet.
  bool at_start() const { return !started_; }
  // Bytes the next packet carries (with a PCR: 8 fewer at most).
  int next_payload_bytes(bool pcr) const;
  // Decoder buffer room at clock t.
  virtual int64_t room(double t) { return es_->room(t); }
  double deadline() const { return es_->deadline(); }
  // Fills the next packet's payload (up to 176 or 184 bytes); returns its
  // length, -1 when the stream gave fewer bytes than it held. *first tells
  // whether it starts the PES.
  int fill(uint8_t* buf, bool pcr, bool* first);

 protected:
  // Bytes of the next PES: one picture, or one or two audio frames.
  virtual int64_t next_span() const = 0;
  virtual bool both_stamps(double pts, double dts) const = 0;
  virtual bool bounded_length() const = 0;
  // Bytes a stream's own framing puts between the PES header and its
  // elementary bytes (span: the elementary bytes of the PES).
  virtual void append_prefix(std::vector<uint8_t>*, int64_t /*span*/) const {}
  // The packet's bytes are on their way to the decoder.
  virtual void sent(const uint8_t*, int, int, bool) {}
  double pes_pts_ = -1;

 private:
  ES* es_;
  int pid_, type_, pes_id_;
  int cc_ = 0;
  std::vector<uint8_t> header_;  // PES header bytes not yet sent
  size_t header_at_ = 0;
  int64_t pes_left_ = 0;  // elementary bytes of the current PES not yet sent
  bool started_ = false;
  int64_t packets_ = 0;
};

class VideoPES : public PESStream {
 public:
  using PESStream::PESStream;
  bool is_video() const override { return true; }

 protected:
  int64_t next_span() const override { return es()->unit_span(1); }
  bool both_stamps(double pts, double dts) const override;
  // A picture may pass 65535 bytes: the length stays 0 (unbounded).
  bool bounded_length() const override { return false; }
};

class AudioPES : public PESStream {
 public:
  using PESStream::PESStream;
  // Sets the buffer model up from the stream's facts, once its first frame
  // is known.
  void prepare();
  bool is_video() const override { return false; }
  // The lesser of the packetiser's buffer and the transport model's room.
  int64_t room(double t) override;
  AC3FrmHdr ac3{};  // the first frame's header, for the program map

 protected:
  int64_t next_span() const override;
  bool both_stamps(double, double) const override { return false; }
  bool bounded_length() const override { return true; }
  void append_prefix(std::vector<uint8_t>* header, int64_t span) const override;
  void sent(const uint8_t* payload, int header_bytes, int payload_bytes, bool first) override;

 private:
  std::unique_ptr<AudioTSTD> tstd_;
};
