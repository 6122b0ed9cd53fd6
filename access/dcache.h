// Frame cache: one GOP of a clip with its decoded reference pictures. Every
// I and P picture, decoded in coded order, stays in the pool while the GOP
// is loaded, so B pictures can be decoded from their two references at any
// time and stepping backward never decodes a reference twice. Pool frames
// are made when a reference is first decoded into them, at the size of the
// sequence header in force for the loaded GOP.
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

  // 0 success, 1 when the header's picture size is refused (nothing is
  // allocated for it then).
  int setup(const SeqHdr* seq);
  // Prepares a newly loaded GOP: a sequence header at its start with another
  // picture geometry sets the cache up again. 1 (GOP unusable) when that
  // header is refused or the pool may not hold the GOP's references, since a
  // reference written over another would be shown and re-encoded wrongly.
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
  // Whether a frame has the geometry of this cache's pictures (only such a
  // frame may be decoded into or predicted from).
  bool fits(const Frame* f) const;
  // Picture bytes held by the pool (retired frames included).
  size_t pool_bytes() const;
  // Frees the frames a change of picture geometry took out of the pool; the
  // owner calls it once none of them is shown any more.
  void drop_retired() { retired_.clear(); }
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
  // Pool frame k, made when first needed; null when it cannot be.
  Frame* grow_to(int k);
  bool round32() const;
  void stamp(int i, Frame* f);
  bool loaded_ = false;
  int decode_count_ = 0;
  std::vector<std::unique_ptr<Frame>> retired_;
};
