// Video elementary-stream filter: passes coded video through in whole
// syntactic units, keeps GOP time codes continuous (joined streams restart
// theirs), and in insertion mode puts a sequence header and a GOP header in
// front of every I picture that lacks them.
//
// Headers are judged only once their whole group (header, extensions, user
// data) is in the buffer, so the output does not depend on how the input is
// cut into calls.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/gop_header.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"

class VideoESFilter {
 public:
  VideoESFilter();
  ~VideoESFilter();
  VideoESFilter(const VideoESFilter&) = delete;
  VideoESFilter& operator=(const VideoESFilter&) = delete;

  // A decoded sequence header: sets the time-code rate and is the header
  // inserted before an I picture when the stream has given none yet.
  void set_seqhdr(const SeqHdr& header);

  // Appends data and returns the bytes ready for output (out_length of
  // them); the rest waits for more data or take_output. insert switches
  // header insertion on for this call. The pointer stays valid until the
  // next call. Null with out_length 0 when the buffer cannot grow.
  const uint8_t* filter_data(const uint8_t* data, int length, int* out_length, int insert = 0);
  // Ends the stream: processes what is still held and returns it.
  const uint8_t* take_output(int* out_length);

  int get_insert() const { return insert_; }
  int sequence_headers() const { return seq_count_; }
  int gop_headers() const { return gop_count_; }
  int pictures() const { return pic_count_; }
  int rewritten() const { return rewrite_count_; }
  // Sequence and GOP headers put into the stream.
  int inserted() const { return insert_count_; }
  int failed_sequence_headers() const { return seq_failed_; }
  int failed_gop_headers() const { return gop_failed_; }
  int failed_pictures() const { return pic_failed_; }
  // Bytes held back for the next call.
  int pending() const { return held_ - out_; }

 private:
  // Grows the buffer to hold size bytes; false when that fails.
  bool resize_data(int64_t size);
  // Walks the start codes from scan_; at_end treats the end of the bytes as
  // the end of the last header group. Returns the offset up to which the
  // bytes are final.
  int scan(bool at_end);
  // Each handles the header group [p, p + span); they may insert bytes at or
  // before p and return the shift they caused.
  void on_sequence(int p, int span);
  void on_gop(int p, int span);
  int on_picture(int p, int span);
  // Drops the bytes handed out by the last call.
  void compact();
  // Opens a gap of n bytes at pos and copies src into it.
  bool insert_bytes(int pos, const uint8_t* src, int n);
  uint32_t gop_word_for_fields() const;

  int32_t insert_ = 0;
  std::vector<uint8_t> buf_;
  int held_ = 0;   // valid bytes in buf_
  int out_ = 0;    // bytes handed out by the last call (still at the start)
  int scan_ = 0;   // where the next start-code search begins
  int gop_at_ = -1;  // a GOP header waiting for its picture (insertion mode)

  SMPTE_TimeCode time_;
  SeqHdr seq_;
  std::vector<uint8_t> seq_bytes_;  // the last sequence header group as coded
  GopHdr gop_;
  PicHdr pic_;
  double rate_ = 0.0;
  int have_seq_ = 0;
  int seq_since_pic_ = 0;
  int gop_since_pic_ = 0;
  int have_first_gop_ = 0;
  int first_field_open_ = 0;  // the last picture was a first field

  int32_t seq_count_ = 0;
  int32_t gop_count_ = 0;
  int32_t pic_count_ = 0;
  int32_t gop_pictures_ = 0;
  int32_t gop_fields_ = 0;
  int64_t fields_total_ = 0;  // fields since the first GOP header
  int64_t coded_halves_ = 0;
  int32_t count_pictures_ = 0;
  double tc_rate_ = 0.0;  // the rate those time codes count at
  uint32_t first_word_ = 0;  // the stream's time codes count pictures, not fields  // coded frames since then, in halves (a field picture is one)
  int32_t first_frame_ = 0;
  int32_t drop_ = 0;
  int32_t seq_failed_ = 0;
  int32_t gop_failed_ = 0;
  int32_t pic_failed_ = 0;
  int32_t rewrite_count_ = 0;
  int32_t insert_count_ = 0;
};
