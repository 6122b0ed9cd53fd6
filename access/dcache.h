// Frame cache: one GOP of a clip with its decoded reference pictures. Every
// I and P picture, decoded in coded order, stays in the pool while the GOP
// is loaded, so B pictures can be decoded from their two references at any
// time and stepping backward never decodes a reference twice.
#pragma once

#include <memory>
#include <vector>

#include "picture/frame.h"
#include "decode/picdec.h"
#include "foundation/gop.h"
#include "foundation/seq_header.h"

class DCache {
 public:
  DCache(const SeqHdr* seq, int* error, int size_mode);
  ~DCache();
  DCache(const DCache&) = delete;
  DCache& operator=(const DCache&) = delete;

  // 0 success, 1 when a pool frame could not be made.
  int setup(const SeqHdr* seq);
  // Prepares a newly loaded GOP. Grows the pool to the GOP's reference
  // count; 1 (GOP unusable) when it cannot grow, since a reference written
  // over another would be shown and re-encoded wrongly.
  int reset(Frame* forward);
  // Forgets the loaded GOP (the next load always resets).
  void invalidate();

  int decoder_all_ip_frames(int up_to);
  void decode_one_frame(Frame* f, Frame* r1, Frame* r2, int reuse);
  int count_frames(int end_pic);
  int get_next_pic_field_offset();
  int get_next_pic_frame_offset() { return (get_next_pic_field_offset() + 1) / 2; }
  int get_displayed_field_count(int after_next);
  double get_mean_quant();

  // Frame of the reference with this number (0-based in coded order).
  Frame* pool_frame(int k) const { return k >= 0 && k < int(pool.size()) ? pool[size_t(k)].get() : nullptr; }
  // Makes a frame of the pool's size and chroma format (the caller owns it).
  Frame* make_frame() const;
  // Whether the cache holds a loaded GOP with pictures.
  bool loaded() const { return loaded_ && gop && gop->pic_count > 0; }
  // Coded picture that displays a stream field; -1 when outside the GOP.
  int pic_of_field(int stream_field) const;
  // Pictures decoded by this cache since it was made (tests).
  int get_decode_count() const { return decode_count_; }

  std::unique_ptr<GOP> gop;
  int pic_index = 0;
  int start_pic = 0;
  int end_pic = 0;
  int all_decoded = 0;
  int decoded = 0;
  int references = 0;
  std::vector<std::unique_ptr<Frame>> pool;
  Frame* forward_ref = nullptr;
  std::unique_ptr<PicDecoder> decoder;
  SeqHdr seqhdr;
  int pool_width = 0, pool_height = 0, pool_chroma = 1;
  int display_width = 0, display_height = 0;
  int size_mode = 0;
  int coef_limit = 64;
  int frame_flag = 0;
  // Most pool frames this cache may hold (0: no cap); a pool that cannot
  // grow behaves like one whose frames cannot be allocated.
  int max_pool = 0;

 private:
  void decode_into(int i, Frame* f, Frame* r1, Frame* r2);
  void stamp(int i, Frame* f);
  bool loaded_ = false;
  int decode_count_ = 0;
};
