// The video of a save: walks the working clip list over each clip's GOP
// index (taken from the process-wide cache the editor built), copies every
// GOP that lies in a kept range byte for byte, fixing temporal references,
// the closed-GOP flag, field counts at joins and the field order on the way,
// and decodes and re-encodes only the frames around each cut: the rest of
// the GOP a range starts in, the leading B pictures of the first copied GOP
// after it (they predict from a picture that is no longer there), and the
// frames of the GOP a range ends in. A clip whose stream cannot be copied
// into the output (another bit rate, picture size, MPEG version or frame
// rate) is re-encoded whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "access/clip.h"
#include "demux/goplist.h"
#include "foundation/engine_error.h"
#include "foundation/gop.h"
#include "foundation/seq_header.h"
#include "record/frame_source.h"
#include "record/recoder.h"
#include "record/record_data.h"
#include "record/recorder_rate.h"

class DTV;
class Encoder;
class Save;

// One piece of a clip's plan in source display frames: a GOP copied from
// its I picture (with or without its leading B pictures) or a run of frames
// re-encoded.
struct ClipPiece {
  bool copy = false;
  int first = 0, last = 0;  // source frames shown by the piece
  int gop_frame = 0;        // copy: the first frame of the GOP
  bool keep_leading = true; // copy: the leading B pictures are copied
  int render_at = -1;       // >= 0: rendered by the frame source, its movie frame of `first`
};

// The pieces of the source frames [start, end] over the GOP index, in
// display order. mode 1 re-encodes everything.
std::vector<ClipPiece> plan_clip_pieces(GOPList* list, int start, int end, int mode);

// The same plan, made as it is taken: one GOP ahead of the copy, so that a
// save reads each GOP of the source once. With a walk GOP the GOPs planned
// are read into it (bytes included): a copy piece's GOP is there when the
// piece is taken, until the next take.
class ClipPlanner {
 public:
  // fields: the output shows every field of the source once (interlaced
  // pulldown material): a GOP that shows one field outside the range at
  // its start or end, with no repeated field there to give up, is
  // re-encoded rather than copied.
  ClipPlanner(GOPList* list, int start, int end, int mode, GOP* walk = nullptr, bool fields = false);
  // The next piece in display order; false when the plan is done.
  bool next(ClipPiece* p);

 private:
  // Plans one more GOP; false when there is none to plan.
  bool step();
  void recode(int a, int b);

  GOPList* list_;
  int start_, end_, mode_;
  bool fields_;
  GOP own_;
  GOP* g_;
  int read_;
  bool started_ = false, done_ = false, prev_copied_ = false;
  FileOffset at_;  // start of the GOP planned last
  int at_frame_ = 0;
  std::vector<ClipPiece> ready_;
  size_t taken_ = 0;
};

// Source frames [first, last] of a clip that the frame source renders.
struct RenderSpan {
  int first = 0, last = 0;
};

// The pieces of the source frames [start, end] with the spans rendered
// (sorted or not, overlapping or not) cut out as pieces of their own;
// movie_start is the movie frame of source frame start.
std::vector<ClipPiece> plan_rendered_pieces(GOPList* list, int start, int end, int mode, int movie_start,
                                            std::vector<RenderSpan> spans);

// The plan of one source GOP: pictures in coded order. skip: pictures shown
// before the wanted range; head/tail: pictures that would need re-encoding
// at the start and end; copy: pictures copied. keep[i] is 1 for the coded
// pictures copied.
struct GopPlan {
  int skip = 0, head = 0, copy = 0, tail = 0;
  int first_bad_frame = -1;  // GOP-relative frame of the first picture that cannot be copied
  int dropped_leading_b = 0;
  std::vector<uint8_t> keep;
};

// Copy-only saves keep the source's GOPs: re-encoded runs are split where
// the source's GOPs end.
std::vector<ClipPiece> split_runs_at_gops(GOPList* list, const std::vector<ClipPiece>& pieces);

// Plans GOP g for the GOP-relative frames [a, b] (inclusive). clip_start:
// a is a clip's first frame (its leading B pictures cannot be copied).
// closed: the GOP header's closed_gop bit. Returns copy + head + tail.
int get_next_gop_info(const LGOP& g, int a, int b, bool clip_start, bool closed, GopPlan* plan);

class Recorder {
 public:
  // The list is copied; null (and *error filled with why) when it cannot
  // be saved. Transitions and overlays need a frame source (kept by the
  // caller).
  static std::unique_ptr<Recorder> create(const MPEG_Clip* clips, const RecordData& data, EngineError* error = nullptr,
                                          FrameSource* frames = nullptr);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Copy-only: output GOPs follow the source's, and the fields of the
  // output stay at exactly twice the kept frames clip by clip (field
  // counts of pulldown pictures are moved where they do not add up).
  void set_copy_only(int on) { copy_only_ = on; }
  // Clips widened to whole GOPs: a GOP that shows a field past the clip's
  // frames is still copied.
  void set_whole_gops(int on) { whole_gops_ = on; }
  int copy_only() const { return copy_only_; }
  // Variable bit rate: sequence headers say 0x3FFFF, re-encoded pictures
  // are coded at the source's mean quantiser (vbv_delay 0xFFFF), and
  // clips of other bit rates are copied. Returns 0.
  int set_vbr_flag();
  bool vbr_flag() const { return vbr_ != 0; }

  // One GOP: fields written (0 at the end or on failure).
  int recode_next_gop(Save* save);
  // Record option: whole GOPs coded again from their own decoded pictures
  // and macroblock decisions (transcode_gop). The save pipeline leaves it
  // off.
  void set_record_option(int on) { record_option_ = on; }
  int record_option() const { return record_option_; }
  // Codes every picture of the source GOP (read with its data) again with
  // its own type, temporal reference, field flags and decisions (at its
  // own quantiser unless the output's rate is lower), each picture straight
  // to the writer (anything held back is written first). The first GOP
  // after a jump is closed. Returns the pictures handled: 0 with the record
  // option off or on failure.
  int transcode_gop(const GOP& gop, Save* save);
  int pictures_transcoded() const;
  // The pending output GOP to the writer.
  int write_gop_output(Save* save, int stream_id);
  // Writes what is still held back (the last GOP); call once at the end.
  int flush(Save* save);

  int get_total_frames() const { return total_frames_; }
  int all_clips_copyable() const { return all_copyable_; }
  bool at_end() const { return at_end_; }
  bool failed() const { return failed_ != 0; }
  const std::string& message() const { return message_; }
  int warnings() const { return warnings_; }
  const SeqHdr& output_seqhdr() const { return out_seq_; }
  const ESData& output_es() const { return out_es_; }
  int total_fields() const { return total_fields_; }
  int gops() const { return gops_; }
  int copied() const { return copied_; }
  const std::vector<SaveJoin>& joins() const { return joins_; }
  int reencoded() const { return reencoded_; }
  int decoded() const;

  // Rewrites of coded bytes, usable on their own.
  // The picture at `at` gets temporal_reference base - 1 (B) or base + k - 1
  // (I or P followed by k B pictures in coded order); 1 when changed.
  static int set_temporal_reference(uint8_t* data, int bytes, int at, int type, int k, int base);
  // Sets or clears closed_gop of the first GOP header; 1 when changed.
  static int set_closed_gop(uint8_t* data, int bytes, int flag);
  // The last picture showing more than 2 fields loses repeat_first_field
  // (add 0), or the last progressive frame showing 2 fields gains it
  // (add 1); 1 when a picture changed.
  static int update_field_count(uint8_t* data, int bytes, int progressive, int add);
  // The aspect code a DVD, SVCD or Video CD output of this header needs (0:
  // keep).
  static int fix_aspect_ratio(const SeqHdr& seq);

 private:
  Recorder(const MPEG_Clip* clips, const RecordData& data, FrameSource* frames);
  struct Pending {
    std::vector<uint8_t> bytes;
    std::vector<int> pics;  // offsets of picture starts; the header part is before pics[0]
    int fields = 0;
    int first_tff = -1;
  };
  int check_clip(const MPEG_Clip* c);
  // The output takes the stream of the reference clip (the first clip when
  // there is none or it does not fit the set-up's video).
  void init_video_params(const RecordData& data);
  // Source frames of the current clip to output frames at the output's
  // frame rate (recorder_rate.cpp).
  RateClock rate_clock() const;
  int source_to_output_frames(int n) const;
  // The next piece of the current clip into the output; false on failure.
  bool copy_piece(Save* save, const ClipPiece& p, bool clip_start);
  // lead: the first picture shows three fields from the one before its
  // frame (the copy before ended a field short of the frame); trail: the
  // last picture shows three fields (the copy after starts a field early).
  bool recode_piece(Save* save, const ClipPiece& p, int lead = 0, int trail = 0);
  // Pulldown source: a copied GOP that starts or ends on the second field
  // of a frame. The run next to it is moved by a field, the field the
  // source repeats taken from the copy or given to the run, so that every
  // field of the source is shown once. `next`: the piece after the run.
  void pulldown_edges(ClipPiece* p, const ClipPiece* next, int* lead, int* trail);
  // The source picture that shows stream field `field`: its first field
  // and field count; false when the index has none.
  bool source_picture_at(int field, int* start, int* fields);
  bool pulldown_edges_apply() const;
  // Restructure mode: a copied GOP longer than a DVD allows is split at a
  // reference picture re-encoded as I (recoder.cpp); false when the piece
  // is to be copied as it is.
  bool restructure_piece(Save* save, const GopPlan& plan, bool clip_start, bool* ok);
  bool push_output(Save* save, std::unique_ptr<Pending> next, bool join);
  bool open_encoder();
  void next_clip();
  bool open_clip();
  // The pieces of the current clip, its transition and overlays rendered:
  // planned whole, or one GOP ahead of the copy when nothing is rendered.
  void plan_current_clip(int mode);
  // True when the clip has a piece left (pieces_[piece_]).
  bool more_pieces();
  int fail(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  bool build_output_gop(const GOP& g, const GopPlan& plan, bool clip_start, Pending* out);
  void fix_parity(Pending* next);
  // recorder_modes.cpp: the output header of a film clip, the output
  // frames of a clip, and the field total of a copy-only clip set right.
  // recorder_transcode.cpp: the decoder, frames, decisions and headers of
  // transcode_gop, made on first use.
  struct ReorderQueue;
  struct ReorderQueueDeleter {
    void operator()(ReorderQueue* q) const;
  };
  bool alloc_reorder_queue(const SeqHdr& seq, int m);
  void free_reorder_queue();
  bool film_source(const SeqHdr& s) const;
  void make_film_output();
  int output_frames_of(const MPEG_Clip* c, size_t index) const;
  void end_clip_fields();
  void start_scene_stats();
  bool scene_change(const Encoder& e);

  MPEG_Clip* list_ = nullptr;
  MPEG_Clip* clip_ = nullptr;
  MPEG_Clip* ref_ = nullptr;  // the clip whose stream the output takes
  int clip_index_ = 0;
  std::unique_ptr<GOPList> gops_list_;
  GOP gop_;
  bool clip_started_ = false;
  bool at_end_ = false;
  int failed_ = 0;
  std::string message_;
  int warnings_ = 0;
  SeqHdr out_seq_;
  ESData out_es_;
  int kind_ = 0;
  int field_order_ = 0;
  int restructure_ = 0;  // no output GOP above 15 pictures (18 above 25 frames per second)
  int total_frames_ = 0;
  int all_copyable_ = 0;
  int output_frame_ = 0;
  int total_fields_ = 0;
  int gops_ = 0, copied_ = 0;
  int parity_tff_ = -1;  // top_field_first of the output's first picture
  int progressive_seq_ = 1;
  std::vector<SaveJoin> joins_;
  // Re-encoding: clip modes (1: the clip is re-encoded whole), the plan of
  // the current clip, frame access of the clip and the encoder.
  std::vector<int> modes_;
  int gop_n_ = 0, gop_m_ = 0;
  int bit_rate_ = 0;  // requested output bit rate (0: the first clip's)  // GOP structure of re-encoded runs (0: the encoder's)
  std::vector<ClipPiece> pieces_;
  size_t piece_ = 0;
  std::unique_ptr<ClipPlanner> planner_;
  bool after_recode_ = false;  // the last piece written was re-encoded
  int copy_end_field_ = -1;    // stream field after the last shown by the copy written last (-1: none)
  int recode_end_field_ = -1;  // the same for the run written last
  std::unique_ptr<DTV> dtv_;
  std::unique_ptr<Encoder> encoder_;
  int decoded_done_ = 0;       // pictures decoded by frame access of earlier clips
  int reencoded_ = 0;
  int since_copy_ = 0;         // pictures re-encoded since the last copied GOP
  bool join_open_ = false;     // the last join still counts re-encoded pictures
  std::unique_ptr<Pending> pending_;
  FrameSource* frames_ = nullptr;  // renders transitions and overlays
  // The buffer of the GOP written last, reused for the next one: GOPs are
  // large, and a fresh allocation per GOP costs page faults.
  std::unique_ptr<Pending> spare_;
  int copy_only_ = 0;
  int whole_gops_ = 0;
  int vbr_ = 0;
  int vbr_quant_set_ = 0;
  int film_ = 0;                // 24-frame output of 30-frame film clips
  std::vector<uint8_t> films_;  // per clip: inverse telecine
  SceneStats scene_;            // option 0 off, 1 and 2 on
  int wanted_fields_ = 0;       // copy-only: 2 x the frames of the clips begun
  int record_option_ = 0;
  RecordEncoder encoder_words_;
  // The save's fixed quantiser for clips re-encoded whole (0: rate control).
  int setup_fixed_mquant() const {
    const int q = encoder_words_.fixed_mquant;
    return q > 0 && q <= 31 ? q : 0;
  }
  std::unique_ptr<ReorderQueue, ReorderQueueDeleter> queue_;
};
