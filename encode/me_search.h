// Motion-estimation context: the strategy word, per-macroblock candidates,
// the search strategies and the per-picture macroblock decisions.
//
// Positions in MECandidate are absolute in the reference picture, in
// half-pel units (twice the pixel column or line of the block's top-left
// corner); field positions count field lines.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "encode/me_kernels.h"
#include "picture/frame.h"
#include "picture/mbinfo.h"

// Strategy word bits.
enum MEModeBits : unsigned {
  kMEFull = 0x01,          // full search
  kMELayers = 0x02,        // build the reduced layers first
  kMESparse = 0x04,        // ring steps grow with the distance
  kMESubsample = 0x08,     // checkerboard SAD at full resolution
  kMERing = 0x10,          // hierarchical search with a final ring search
  kMEInterlaced = 0x20,    // field candidates and field decisions
  kMEParityOnly = 0x40,    // full search with line-parity sums only
  kMERefine = 0x80,        // our refinement: neighbour starts, full-pel steps
};
// Words of the encoder: progressive and interlaced.
constexpr unsigned kMEDefaultProgressive = 0x86;
constexpr unsigned kMEDefaultInterlaced = 0xA6;

// Macroblock types and motion types the decisions write.
enum MBTypeBits : int { kMBIntra = 1, kMBBackward = 4, kMBForward = 8, kMBInterpolated = 12 };
enum MotionType : int { kMotionField = 1, kMotionFrame = 2 };

// The MBInfo words the decisions fill: vector [r][s][t] (first/second,
// forward/backward, horizontal/vertical), field select [r][s], variance.
inline int& mbi_mv(MBInfo& m, int r, int s, int t) { return m.mv[r * 4 + s * 2 + t]; }
inline int& mbi_field_sel(MBInfo& m, int r, int s) { return m.mv[8 + r * 2 + s]; }
inline int& mbi_variance(MBInfo& m) { return m.extra; }
inline int mbi_mv(const MBInfo& m, int r, int s, int t) { return m.mv[r * 4 + s * 2 + t]; }
inline int mbi_field_sel(const MBInfo& m, int r, int s) { return m.mv[8 + r * 2 + s]; }
inline int mbi_variance(const MBInfo& m) { return m.extra; }

// The decisions on their measures (sums of squared differences, 16x16).
// P: intra when vmc > var and vmc >= 2304; else the vector when
// 4 x e0 > 5 x vmc and e0 >= 2304; else no motion compensation.
int choose_p(uint32_t var, uint32_t vmc, uint32_t e0);
// B, progressive: forward, backward or interpolated by the smallest error,
// forward then backward on ties.
int choose_b_progressive(uint32_t d_f, uint32_t d_b, uint32_t d_i);
// B, interlaced: index of the winner among the sums of absolute
// differences frame interpolated, field interpolated, frame forward, field
// forward, frame backward, field backward.
int choose_b_interlaced(const uint32_t costs[6]);
inline bool b_is_intra(uint32_t var, uint32_t vmc) { return var < vmc && vmc >= 2304; }

struct MECandidate {
  int x = 0, y = 0, cost = 0;                           // frame
  int top_x = 0, top_y = 0, top_cost = 0, top_sel = 0;  // best top-field
  int bot_x = 0, bot_y = 0, bot_cost = 0, bot_sel = 1;  // best bottom-field
  int top2_x = 0, top2_y = 0, top2_cost = 0;            // top block, other reference field
  int bot2_x = 0, bot2_y = 0, bot2_cost = 0;            // bottom block, other reference field
};

struct MEBestMatch {
  int cost = 1000000, x = 0, y = 0;
  void clear() { x = y = 0; }
};

// The eight search operations the strategies call.
struct MEOperations {
  uint32_t (*match_4x4)(const uint8_t*, const uint8_t*, int, uint32_t) = nullptr;
  uint32_t (*scan_4x4_row)(const uint8_t*, const uint8_t*, int, int, int*) = nullptr;
  uint32_t (*match_8x8)(const uint8_t*, const uint8_t*, int, uint32_t) = nullptr;
  FieldSums (*match_8x8_fields)(const uint8_t*, const uint8_t*, int, FieldSums) = nullptr;
  uint32_t (*match_8x8_three)(const uint8_t*, const uint8_t*, int, int*) = nullptr;
  uint32_t (*match_8x8_two)(const uint8_t*, const uint8_t*, int, int*) = nullptr;
  void (*refine_half_pel_interior)(const uint8_t*, const uint8_t*, int, int, uint32_t[9]) = nullptr;
  uint32_t (*mb_variance)(const uint8_t*, int) = nullptr;
};

// Half-pel refinement of a 16-wide block around the full-pel position
// (*x, *y) (half-pel units, even): the centre and its eight half-pel
// neighbours, fewer at the plane's borders so that nothing outside is read;
// the first strictly smallest wins. `stride` is the line stride of both
// blocks (twice the width for field blocks), `width` and `height` the
// plane's size (field height for fields). Returns the cost.
int refine_half_pel(const uint8_t* current_block, const uint8_t* reference, int stride, int width, int height,
                    int block_height, int* x, int* y);

// Approximate bits of a vector component difference in half-pel units
// (motion_code and sign at f_code 1, more for long differences).
int mv_component_bits(int d);

class MESearch {
 public:
  explicit MESearch(unsigned mode = 6);
  MESearch(const MESearch&) = delete;
  MESearch& operator=(const MESearch&) = delete;

  void clear();
  void free();
  // Makes room for `mb_count` macroblocks (grows, never shrinks; a grown
  // set forgets the classes of the last P picture).
  void alloc(int mb_count);
  unsigned set_mode(unsigned mode);
  unsigned get_mode() const { return mode; }
  int set_search_level(int new_level);
  void install_half_pel_refiner();
  void install_operations();

  // Searches every macroblock of `current` in `reference`; returns the
  // average best cost per macroblock (0 when the picture has none).
  int motion_search(Frame* current, Frame* reference, int range_x, int range_y, MECandidate* candidates,
                    int field_flag = 0, int unused = 0);

  // Drivers: estimation and decisions for one picture into `mbi`, which
  // holds (width >> 4) x (height >> 4) records of the padded picture.
  int motion_estimate_intra(Frame* current, MBInfo* mbi);
  int motion_estimate_p(Frame* current, Frame* reference, int range_x, int range_y, MBInfo* mbi);
  int motion_estimate_b(Frame* current, Frame* forward, Frame* backward, int range_fx, int range_fy, int range_bx,
                        int range_by, MBInfo* mbi, int backward_only);

  int mb_count() const { return (width >> 4) * (height >> 4); }

  int skip_search = 0;
  MECandidate* candidates_fwd = nullptr;
  MECandidate* candidates_bwd = nullptr;
  unsigned mode = 6;
  int width = 0, height = 0;
  int last_cost = 0, last_cost_bwd = 0;
  int field_search_enabled = 1;
  MEBestMatch best;
  uint16_t* mv_class = nullptr;
  int mv_class_valid = 0;
  int needs_alloc = 1;
  int no_half_pel = 0;
  int level = 1;
  // Weight of a vector's bits against the sum of absolute differences in
  // the predictive search (0: distortion alone, as the plain strategies).
  int mv_lambda = 0;
  int use_quarter_layer = 0;
  MEOperations ops;

  // Layers kept of a frame are stale: it was given new content (a driver's
  // current picture, a reference written again).
  void forget_layer(const Frame* f);

 private:
  // Planes and layers of one picture under search (luma stride w).
  struct Pic {
    const uint8_t* y = nullptr;
    const uint8_t* l2 = nullptr;   // W/2 x H/2
    const uint8_t* l2f = nullptr;  // W/2 x H/2: even lines top field, odd lines bottom
    const uint8_t* l4 = nullptr;   // W/4 x H/4
    int w = 0, h = 0;
    explicit Pic(const Frame* f)
        : y(f->y_plane()),
          l2(f->layer2()),
          l2f(f->layer2_fields()),
          l4(f->layer4()),
          w(f->padded_width()),
          h(f->padded_height()) {}
  };

 public:
  // Full-pel search window of a block, inclusive bounds.
  struct Window {
    int x0, x1, y0, y1;
    bool contains(int x, int y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
    void clamp(int* x, int* y) const {
      *x = *x < x0 ? x0 : *x > x1 ? x1 : *x;
      *y = *y < y0 ? y0 : *y > y1 ? y1 : *y;
    }
  };

 private:
  // Layers, sizes and arrays for one picture; false when it cannot be
  // searched (no buffer, references of another size).
  bool prepare(Frame* current, std::initializer_list<Frame*> references);
  void search_mb(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, unsigned word, MECandidate* cands,
                 bool narrow);
  // Strategies, one macroblock each; true when the P picture's class
  // settled the macroblock without a search.
  void full_search(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, unsigned word, MECandidate* out);
  bool hierarchical(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, unsigned word, int cls,
                    MECandidate* out);
  bool field_hierarchical(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, int cls, MECandidate* out);
  void mpeg2_full_pel(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, unsigned word,
                      MECandidate* out);
  void refine_fields(const Pic& cur, const Pic& ref, int mx, int my, MECandidate* c, bool top_fixed, bool bot_fixed);
  int neighbour_starts(const Pic& cur, int mx, int my, const MECandidate* cands, const MECandidate& previous,
                       int (*starts)[2]) const;
  bool predictive(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, int cls, const MECandidate* cands,
                  const MECandidate& previous, MECandidate* out, bool* wide);
  bool predictive_fields(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, unsigned word, int cls,
                         const MECandidate* cands, const MECandidate& previous, MECandidate* out);
  void own_field_refinement(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, const MECandidate* cands,
                            MECandidate* out);
  void own_refinement(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, unsigned word,
                      const MECandidate* cands, const MECandidate& previous, MECandidate* out);
  int ring_search(const Pic& cur, const Pic& ref, int mx, int my, int sx, int sy, int rx, int ry, unsigned word,
                  int* bx, int* by);
  int quarter_layer_search(const Pic& cur, const Pic& ref, int mx, int my, int rx, int ry, int* bx, int* by);
  int half_layer_search(const uint8_t* cur2, const uint8_t* ref2, int w2, int h2, int cx, int cy, int rx, int ry,
                        int* bx, int* by);
  // One macroblock's decision (me_decide.cpp).
  int decide_p(const Pic& cur, const Pic& ref, int mx, int my, MBInfo& m, uint16_t* cls);
  int decide_b(const Pic& cur, const Pic& fwd, const Pic& bwd, int mx, int my, MBInfo& m, bool backward_only);

  // Strategies 2 and 4 with our refinement search by prediction first.
  static bool predictive_word(unsigned w) { return (w & kMERefine) && !(w & (kMEFull | kMERing)); }
  // Half-size planes of the pictures under search, built on first need
  // (the current picture's once per search, references kept from when
  // they were current): 2x2 means, cheaper than the frame's filtered layer.
  void wide_layers(const uint8_t** cur, const uint8_t** ref);
  const uint8_t* half_layer(const Frame* f, bool rebuild);
  // The frames' per-field layers for strategy 4, built on first need.
  bool field_layers();
  struct HalfLayer {
    const Frame* frame = nullptr;
    std::vector<uint8_t> pixels;
    unsigned age = 0;
  };
  HalfLayer layers_[4];
  unsigned layer_clock_ = 0;

  Frame* lazy_cur_ = nullptr;
  Frame* lazy_ref_ = nullptr;
  bool lazy_fresh_ = false, lazy_fields_fresh_ = false;
  std::vector<MECandidate> fwd_, bwd_;
  std::vector<uint16_t> classes_;
  Window win_{};  // frame window of the macroblock under search
  int capacity_ = 0;
};

// The per-macroblock spatial activity pass (rate control): smoothed
// min 8x8 variance + 1 of each macroblock into `activity` (mb_w x mb_h
// values); returns the average. `field_blocks` lets the four field blocks
// compete (frame pictures of interlaced sequences).
// `height` counts the lines of the picture at `stride` (half the frame for
// a field picture, whose caller passes twice the width as stride).
double calc_activity(const uint8_t* luma, int width, int height, int stride, bool field_blocks, MBInfo* mbi);
