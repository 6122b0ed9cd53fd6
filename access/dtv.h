// Frame access of one clip: opens the clip's file, keeps the clip's frame
// range inside the stream, decodes the frame to show and steps or seeks
// forward and backward, laying the clip's overlays over the output.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "access/clip.h"
#include "access/dcache.h"
#include "picture/frame.h"
#include "formats/avi.h"
#include "formats/qt_decoder.h"
#include "demux/goplist.h"
#include "foundation/seq_header.h"

// Set by the application from its settings: 1 makes DTV::scan_goplist
// return the clip's frame count without scanning unless forced.
extern std::atomic<int32_t> skip_full_scan;

// Play-mode bits.
enum : int {
  kPlayExact = 1,
  kPlayIP = 2,
  kPlayGOP = 4,
  kPlayDefault = 8,
  kPlayForward = 16,
  kPlayBackward = 32,
};

class DTV {
 public:
  DTV(const MPEG_Clip* clip, int* error, int size_mode);
  ~DTV();
  DTV(const DTV&) = delete;
  DTV& operator=(const DTV&) = delete;

  int init(const MPEG_Clip* clip);
  void close();
  void reset();

  int forward(int n);
  int backward(int n);
  int search(int frame, int exact);
  int next_frame(int mode, int silent);
  int prev_frame(int mode);
  int load_gop(int id, int frame, int exact);
  int set_play_mode(int word);
  int set_forward_mode();
  int set_backward_mode();

  bool is_at_clip_start();
  bool is_at_clip_end();
  bool is_end_of_gop();
  int get_first_gop_frame();
  int get_last_gop_frame();
  int get_current_pic() const { return cur_ ? cur_->pic_index : 0; }
  double get_mean_quant() const { return cur_ ? cur_->get_mean_quant() : 3.0; }
  double get_frame_rate() const;
  const SeqHdr* get_seqhdr() const { return &seqhdr_; }
  GOPList* get_goplist() const { return index_.get(); }
  DCache* get_current_gop() const { return cur_; }
  DCache* get_previous_gop() const { return prev_; }
  int get_aspect_ratio_code() const { return seqhdr_.aspect_ratio_information; }
  int scan_goplist(int force);
  // The cache holding the GOP of a clip-relative frame (loaded when needed).
  DCache* get_gop_of_frame(int frame, int no_walk);
  int load_next_gop() { return load_gop(1, 0, 1); }
  // References of the current GOP before a coded picture; the last of them.
  Frame* decode_ip_frames(int pic);
  void rewind_gop();
  int count_non_b_pictures(DCache* cache);
  void clear_extra_step() { reload_pending_ = 0; }
  // One backward step with field-exact output (the same as prev_frame).
  int fetch_backward_frame() { return prev_frame(play_mode_); }

  void set_effect_list(const Clip* clip);
  int find_effect_in_range(int* out_start, int* out_end);
  // The screen with the overlays that cover it laid over it.
  Frame* create_screen();

  // The frame shown now (without overlays), its clip-relative position.
  Frame* get_screen() const { return screen_; }
  int get_position() const;
  int get_clip_frames() const { return clip_frames_; }
  int get_clip_start() const { return clip_start_; }
  int get_stream_frames() const { return stream_frames_; }
  int get_play_mode() const { return play_mode_; }
  int get_clip_type() const { return clip_type_; }
  bool is_pulldown() const { return pulldown_ != 0; }
  // Pictures decoded through both caches since open (tests).
  int get_decode_count() const;
  // Picture bytes held by the caches' pools and the output frames.
  size_t get_frame_bytes() const;
  // Coding type of the picture that displays a clip-relative frame
  // (1 I, 2 P, 3 B; 0 outside the clip). Reads GOPs, decodes nothing.
  int get_frame_type(int frame);

 private:
  int open_mpeg(const MPEG_Clip* clip);
  int open_still(const MPEG_Clip* clip);
  void compute_clip_range();
  // Shows an absolute stream frame; false when it cannot be produced.
  bool show(int frame);
  DCache* locate(int stream_field, int* pic);
  bool load_into(DCache* c, int frame);
  // The picture's frame: a pool frame for I and P, the slot's frame
  // (made when needed) for B.
  Frame* produce(DCache* c, int pic, std::unique_ptr<Frame>& slot);
  // The output frame in slot, (re)made to fit the cache's pictures; null
  // when no memory.
  Frame* output_frame(std::unique_ptr<Frame>& slot, const DCache* c);
  Frame* leading_forward(DCache* c);
  void weave(const Frame* a, const Frame* b, bool a_is_top, Frame* out);
  void prefetch_backward();
  int step_target(int from, int dir);
  int still_step(int d, bool backward);
  // Forward/backward for stills and picture sequences: one step in GOP or
  // I/P mode becomes a half second or three pictures.
  int non_mpeg_step(int n, bool backward);
  void apply_overlays(int frame, Frame* out);

  // Sizes and counts.
  int gop_size_ = 0, sub_gop_size_ = 3;
  int smallest_gop_ = 0, largest_gop_ = 0;
  int last_output_frame_ = -1;
  int coef_limit_ = 64;
  int size_mode_ = 0;
  MPEG_Clip clip_;
  int direction_changed_ = 0;
  int reload_pending_ = 0;
  SeqHdr seqhdr_;
  // Overlays.
  std::vector<OverlayClip> overlays_;
  std::unique_ptr<Frame> overlay_picture_;
  int overlay_picture_for_ = -1;
  std::unique_ptr<Frame> overlay_out_;
  int clip_type_ = 0;
  int current_frame_ = 0;
  int play_mode_ = 25;
  std::unique_ptr<GOPList> index_;
  int clip_start_ = 0;
  int clip_frames_ = 0;
  int stream_frames_ = 0;
  std::unique_ptr<DCache> cache_a_, cache_b_;
  DCache* cur_ = nullptr;
  DCache* prev_ = nullptr;
  Frame* screen_ = nullptr;
  std::unique_ptr<Frame> b_frame_a_, pending_, b_frame_b_;
  // Output frames replaced after a change of picture geometry, kept while
  // one of them may be the frame shown.
  std::vector<std::unique_ptr<Frame>> retired_;
  std::unique_ptr<Frame> still_;
  std::unique_ptr<QT_Decoder> qt_;
  std::unique_ptr<Avi> avi_;
  int open_sequence(const MPEG_Clip* clip);
  int sequence_step(int n, bool backward);
  int reader_position() const;
  int extra_fields_ = 0;
  int tc_gap_ = 0;
  int pulldown_ = 0;
  int screen_frame_ = -1;  // absolute stream frame shown now
};
