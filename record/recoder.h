// Re-encoding support of the save: the picture-type pattern of re-encoded
// runs, the display-order list of a coded GOP and the field-count and flag
// rewrites built on it, the picture-by-picture copy into an output GOP,
// re-encoded single I pictures, the luminance blend of luma copy,
// scene-change statistics and the inverse-telecine window. The Recorder
// calls these; each works on what it is handed, so it can be tested alone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "foundation/gop.h"

class BitWriter;
class DTV;
class Encoder;
class Frame;

// ---- picture types of a re-encoded run -----------------------------------

// Type (1 I, 2 P, 3 B) of frame i of a run of n frames with sub-GOP size m:
// the run ends on a reference picture, its first reference is I, later ones
// P; with m <= 1 the first frame is I and the others P.
int run_picture_type(int i, int n, int m);

// ---- display-order list of a coded GOP -----------------------------------

// One picture of a coded GOP in display order.
struct RefFrameEntry {
  int32_t offset = 0;      // byte offset of the picture start code
  int32_t field = 0;       // fields shown before it (its field count until the list is built)
  int32_t packed = 0x210;  // (fields x 16 + top_field_first) x 16 + repeat_first_field
  int fields() const { return (packed >> 8) & 0xF; }
  int top_field_first() const { return (packed >> 4) & 0xF; }
  int repeat_first_field() const { return packed & 0xF; }
};

// Reads up to `max` pictures of the coded bytes and lists them in display
// order with running field positions; returns the count (0: none).
int build_rf_list(int max, const uint8_t* data, int bytes, int progressive, std::vector<RefFrameEntry>* list);

// Rewrites top_field_first and repeat_first_field of the first picture
// coding extension of the buffer (repeat_first_field also sets
// progressive_frame); 1 when there is no extension or nothing changes, else 0.
int set_picture_coding_ext_flags(uint8_t* data, int bytes, int top_field_first, int repeat_first_field);

// Adds (delta > 0) or removes (delta < 0) |delta| fields of the coded GOP
// in place by toggling repeat_first_field, keeping the field parity of the
// pictures after each change. `all` takes the last candidate picture in
// display order instead of the first. Returns the fields changed (0 for a
// progressive sequence).
int adjust_field_count(uint8_t* data, int bytes, int progressive, int max, int all, int delta);

// ---- the output GOP being built ------------------------------------------

// Bytes of coded pictures without a sequence end code (and the zero bytes
// after it) at their end.
int without_end_code(const uint8_t* data, int bytes);

// Bytes of one output GOP: a header part and the pictures after it.
struct OutputGop {
  std::vector<uint8_t> bytes;
  std::vector<int> pics;  // offsets of the picture start codes
  int fields = 0;         // fields the pictures show
  int position = 0;       // pictures since the output GOP's I picture
  // Output GOPs begun here: the byte offset of their headers and the index
  // of their first picture in `pics`.
  struct Start {
    int byte = 0, pic = 0;
  };
  std::vector<Start> gops;
  void clear() {
    bytes.clear();
    pics.clear();
    gops.clear();
    fields = position = 0;
  }
  void start_gop() { gops.push_back(Start{int(bytes.size()), int(pics.size())}); }
  void append(const uint8_t* data, int n) { bytes.insert(bytes.end(), data, data + n); }
  // Appends coded bytes, noting each picture start in them.
  void append_coded(const uint8_t* data, int n);
};

// Appends `count` pictures of the source GOP from coded index `first`.
// A copy from picture 0, or from the GOP's I picture unless `restart` is
// set, starts a new output GOP (the GOP's headers come along); temporal
// references are renumbered by the pictures' places in the output GOP.
// Returns the fields copied.
int copy_pictures(const GOP& gop, int first, int count, int restart, OutputGop* out);

// Decodes the sequence header at the start of the GOP's data and hands it
// to the encoder as its template; 0 done, 1 when there is none.
int load_seqhdr(const GOP& gop, Encoder* encoder);

// Re-encodes picture `index` (coded order) of the DTV's current GOP as an
// I picture of its own output GOP: references decoded up to it, coded at
// the source picture's mean quantiser (to the source I picture's size with
// `vbr`), headers from the encoder, temporal_reference as given. Returns
// the coded picture's field count (2 when its header cannot be read); a
// count that differs from the source picture's is traced and kept.
int recode_I_frame(DTV* dtv, const GOP& gop, int index, int display_index, int temporal_reference, int vbr,
                   Encoder* encoder, OutputGop* out);

// The largest GOP the restructuring copy writes: 18 above 25 frames per
// second (or unknown), else 15.
int longest_output_gop(double frame_rate);

// Copies the pictures of the DTV's current GOP marked in `keep` (coded
// order) so that no output GOP holds more than `longest` pictures: where
// the next reference picture and the B pictures after it would pass that,
// the reference is re-encoded as the I picture of a new output GOP (its GOP
// time code from `output_frame`, the output frame number of the GOP's
// first display frame). Returns the fields written.
int restructure_copy(DTV* dtv, const GOP& gop, const std::vector<uint8_t>& keep, int longest, int output_frame,
                     int vbr, Encoder* encoder, OutputGop* out);

// ---- luma copy -----------------------------------------------------------

// Weight w(d) of the new sample for a luminance difference d (0..255):
// round(256 d^2 / (d^2 + 3)), 256 from d = 40 on.
int luma_blend_weight(int d);
// new := ((256 - w) x previous + w x new + 128) / 256 over the luminance;
// nothing when the padded sizes differ.
void copy_frame_luma(Frame* new_frame, const Frame* previous);

// The luma-copy state of a clip: active from the clip's start when the
// option is set, blending from its second call on.
struct LumaCopy {
  int active = 0;
  int calls = 0;
  void start(int on) {
    active = on;
    calls = 0;
  }
  void set_reference_frames(Frame* new_frame, const Frame* previous_frame);
};

// ---- scene changes -------------------------------------------------------

struct SceneStats {
  int option = 0;     // 0 off, 1 on, 2 on and queued B pictures examined
  int threshold = 0;  // half the macroblocks of a picture
  int count = 0;
  long long sum = 0;
  void init(int width, int height, int scene_option);
  void reset() {
    count = 0;
    sum = 0;
  }
  // The value is the number of intra macroblocks of a P picture's
  // estimation; 1 when it starts a new scene (the statistics restart).
  int is_scene_change(int value);
};

// ---- inverse telecine ----------------------------------------------------

// Sum of |mean difference| of the 2x2 luminance blocks over the common area.
long long frame_difference(const Frame& a, const Frame& b);

// Five slots for source frames and one for the last frame kept.
class TelecineWindow {
 public:
  TelecineWindow();
  ~TelecineWindow();
  TelecineWindow(const TelecineWindow&) = delete;
  TelecineWindow& operator=(const TelecineWindow&) = delete;
  // Slots of the picture's geometry; false when no memory.
  bool alloc(const Frame& like);
  Frame* slot(int i) { return slots_[size_t(i)].get(); }
  // Moves the one of the first k frames most like the frame before it to
  // slot k - 1 (the frames after it move up) and keeps a copy of the last
  // kept frame (slot k - 2) in slot 5; returns the slot dropped from.
  int drop_repeated_frame(int k);
  int held = 0;

 private:
  std::vector<std::unique_ptr<Frame>> slots_;
};

// Weaves into `out` the frame of the picture's fields that combs least:
// its own two fields, its first field with the second field of `prev`, or
// the first field of `next` with its second field (a telecined picture
// holds fields of two film frames). `out` has the geometry of `cur`.
void field_match(const Frame& cur, const Frame* prev, const Frame* next, Frame* out);

// Film frames of a telecined 30-frame run: every picture field-matched,
// and of every five the one most like the frame before it dropped, so that
// each film frame comes out once.
class InverseTelecine {
 public:
  using Emit = std::function<bool(Frame&)>;
  // Takes the next source picture; emits the film frames it completes.
  bool push(const Frame& picture, const Emit& emit);
  // Emits what is held: of a last window of three or more one is dropped.
  bool finish(const Emit& emit);
  // Film frames of n source pictures: round(n x 4 / 5).
  static int output_frames(int n) { return n / 5 * 4 + n % 5 - (n % 5 >= 3 ? 1 : 0); }

 private:
  bool match_waiting(const Frame* next, const Emit& emit);
  bool emit_window(int k, const Emit& emit);
  TelecineWindow window_;
  std::unique_ptr<Frame> raw_[3];
  int raw_count_ = 0;  // source pictures held: the one waiting for its successor and the one before
  bool ready_ = false;
};
