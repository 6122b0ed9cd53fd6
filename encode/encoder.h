// The MPEG-1/MPEG-2 video encoder object: parameters and their checks,
// geometry and buffers, the headers it writes, picture/slice/macroblock/
// block coding and the reconstruction of every coded intra picture.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "encode/enc_dct.h"
#include "encode/me_rc_record.h"
#include "encode/me_search.h"
#include "foundation/bitstream.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/timecode.h"
#include "picture/frame.h"
#include "picture/mbinfo.h"

// The save pipeline's video settings as the encoder reads them.
struct RecordVideoSetup {
  int32_t mpeg1 = 0;
  int32_t gop_size = 15;
  int32_t ref_distance = 3;
  int32_t fixed_mquant = 0;           // quantiser code; 0 = rate control
  int32_t fixed_mq_max_bit_rate = 0;  // bit/s ceiling with fixed_mquant
  int32_t me_mode = 0;                // 1 fast, 2 thorough, other normal
  int32_t search_h = 0;
  int32_t search_v = 0;
  int32_t progressive = 0;
  int32_t drop_frame = 0;
  const SeqHdr* seqhdr = nullptr;
  const PicHdr* pichdr = nullptr;
  int32_t constant_mquant = 0;
};

// Search ranges and f_codes for one picture distance.
struct MotionData {
  int32_t sxf = 0, syf = 0, forw_hor_f_code = 0, forw_vert_f_code = 0;
  int32_t sxb = 0, syb = 0, back_hor_f_code = 0, back_vert_f_code = 0;
};

// Non-linear quantiser_scale values by code, and the code of a value 0..112.
extern const uint8_t kNonLinearQuantScale[32];
extern const uint8_t kNonLinearQuantCode[113];

class PicDecoder;

class Encoder {
 public:
  // *result: 0 ready, 1 failed (the encoder must then be deleted).
  Encoder(const RecordVideoSetup& params, int* result);
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // ---- parameters ----
  void set_mpeg1_default(int n, int m, int search_h, int search_v);
  void set_mpeg2_default(int n, int m, int search_h, int search_v);
  int check_parameters();
  void set_search_window(int search_h, int search_v);
  void set_gop_structure(int n, int m);
  int set_drop_frame_flag(int flag);
  int get_drop_frame_flag() const { return time_code.get_drop_frame_flag(); }
  // Bytes must start 00 00 01 B2 and hold no other start code; returns 0,
  // or 1 (nothing stored) for data that does not. Null clears.
  int set_user_data(const uint8_t* bytes, int length);
  // 0 when stored, 1 when refused (the matrices stay unchanged).
  int load_intra_matrix(const uint8_t* matrix);
  int load_non_intra_matrix(const uint8_t* matrix);

  // ---- pictures ----
  // Codes `cur` as one picture of the type into `writer`; returns its bytes,
  // 0 on failure (a picture that did not fit is never left in the writer:
  // the writer is rewound to where the picture began).
  int encode_picture(Frame* cur, Frame* fwd, Frame* bwd, int picture_coding_type, int distance, BitWriter& writer,
                     int stage, const MBInfo* mb_states, int code);
  // Codes the picture from `mbinfo` and `blocks` as they stand (decisions
  // and transformed blocks). Returns the picture's bytes.
  int vlc_picture(BitWriter& writer, int frame_number, int step);
  // A B picture that copies the forward (forward != 0) or backward reference.
  int vlc_picture_mbi(int forward, Frame* frame, BitWriter& writer);
  // An I picture at the quantiser code (0: rate control), re-coded a step
  // coarser or finer while its size misses target_bytes (0: none) by more
  // than 5 percent. Returns the picture's bytes (encode_intra.cpp).
  int encode_intra(Frame* frame, BitWriter& writer, int quantiser, int target_bytes);

  // ---- headers ----
  int put_sequence_header(BitWriter& bw);
  int put_gop_header(BitWriter& bw, int frame_number);
  int put_picture_header(BitWriter& bw, const PicHdr& pichdr);
  int put_picture_header_default(BitWriter& bw) { return put_picture_header(bw, *pichdr); }
  int put_picture_coding_ext(BitWriter& bw, const PicHdr& pichdr);

  // ---- pieces used by tests and the re-encoder ----
  void estimate_dct_type(const Frame* pred, const Frame* cur);
  void transform_intra_picture(const Frame* cur);
  // Prediction error (current minus `pred`; 128 without one) of every block.
  void transform_picture(const Frame* pred, const Frame* cur);
  void reconstruct_intra_picture();
  // Forms the motion-compensated prediction of every macroblock from
  // `mbinfo` into `pred` (128 for intra macroblocks).
  void predict_picture(Frame* fwd, Frame* bwd, Frame* pred);
  // Makes the decisions in `mbinfo` codable in a picture of the type:
  // directions the type has, vectors inside the f_code ranges, motion
  // types the picture allows. Returns the records changed.
  int sanitize_decisions(int picture_coding_type);

  // ---- stored decisions and source settings (re-encoding) ----
  // Keeps a copy of `mbinfo`; load_mbi puts it back (1, nothing changed,
  // when no copy was kept).
  void save_mbi();
  int load_mbi();
  // Every predicted macroblock becomes forward-only (for a picture turned
  // into a P picture); intra ones stay; vectors and motion types are kept.
  void reset_mbi_to_forward();
  // Hands the decisions and the last search costs to the frame.
  void store_mbi_in_frame(Frame* frame);
  // MPEG-2 output only: the source picture's coding settings, into the
  // picture extension and all three per-type tables.
  void copy_picture_coding_ext(const PicHdr* source);
  // The source's sequence header with its matrices (defaults when it
  // loads none). 0, or 1 when a matrix was refused.
  int set_quant_matrices(const SeqHdr* source);
  // Fills `mbinfo` from decisions read elsewhere (a decoder's records of
  // the same picture): `count` records in the coded macroblock grid; the
  // ones missing become intra. Returns the records taken.
  int load_decisions(const MBInfo* states, int count);
  // The quantiser code (1..31) nearest a mean quantiser in value units
  // (MPEG-2 quantiser_scale; MPEG-1 code x 2) for the picture type's
  // q_scale_type.
  int quant_code_of_value(double value, int picture_coding_type) const;
  // The frame to code from `frame`: itself when it has the coded geometry,
  // else work frame `index` (0..2) filled from it (scaled only when its
  // picture size differs, padding repeated when only the padding does).
  // Null for a null frame or when no work frame can be made.
  Frame* get_work_frame(Frame* frame, int index);
  // As above with the number of records in mb_states (fewer than the
  // picture's macroblocks: the rest are coded intra).
  int encode_picture(Frame* cur, Frame* fwd, Frame* bwd, int picture_coding_type, int distance, BitWriter& writer,
                     int stage, const MBInfo* mb_states, int mb_state_count, int code);
  // ---- rate control (see encoder_rc.cpp) ----
  void rc_init_seq(double frame_rate);
  void rc_init_gop(int np, int nb, double frame_rate);
  // More P and B pictures in the current GOP than it was given (the
  // trailing pictures of a sequence): their share of the rate joins the
  // budget.
  void rc_extend_gop(int np, int nb);
  // A new run of pictures (re-encoded around another cut): the buffer model
  // starts empty again; the writer of the whole stream sets the final
  // vbv_delay values.
  void rc_start_run();
  double rc_init_pict(Frame* frame);
  // Default scheme: picture_q and the target T of the picture to code.
  void plan_picture();
  // Quantiser of I and of B pictures over that of P pictures: I pictures
  // a little finer, as every picture of their GOP predicts from them; B
  // pictures coarser, as none does.
  static constexpr double kTypeRatioI = 0.8, kTypeRatioB = 1.4;
  RateControlRecord* rc_make_pending();
  void apply_pending_params(int force);
  int rc_start_mb();
  int rc_calc_mquant(int j, int bits);
  int rc_step_mquant(int j, int mquant, int step);
  int rc_update_pict(int bits);
  // Codes the picture under rate control; returns its bytes, stuffing
  // included (the stuffing is written into `writer`).
  int code_picture_rc(BitWriter& writer, int frame_number, Frame* frame);
  void calc_vbv_delay(int header_bits);

  // ---- state (public like the records it mirrors; tests inspect it) ----
  int constant_mquant = 0;
  int mpeg1 = 1;
  int gop_size = 15;
  int ref_distance = 3;
  std::unique_ptr<SeqHdr> seqhdr;
  std::unique_ptr<PicHdr> pichdr;
  std::unique_ptr<MESearch> mesearch;
  unsigned me_strategy = 6;
  int search_h = 7, search_v = 7;
  std::vector<MBInfo> mbinfo;
  std::vector<MBInfo> saved_mbinfo;  // empty until save_mbi
  int closed_gop = 0;
  int fieldpic = 0;
  int q_scale_type[3] = {}, alternate_scan[3] = {}, intra_vlc_format[3] = {}, frame_pred_frame_dct[3] = {};
  std::vector<MotionData> motion_data;
  const uint8_t* scan = nullptr;
  int32_t intra_q[64] = {}, non_intra_q[64] = {};
  std::unique_ptr<Frame> recon;
  std::vector<CoefBlock> blocks;
  int block_count = 6;
  int width = 0, width2 = 0, height = 0, height2 = 0;
  int mb_width = 0, mb_height = 0, mb_height2 = 0, mb_count = 0, mb_count2 = 0;
  int chroma_format = 1, chrom_width = 0, chrom_width2 = 0, chrom_height = 0;
  RateControlRecord rc;
  SMPTE_TimeCode time_code;
  int vbr = 0;
  int fixed_mquant = 0, fixed_mq_max_bit_rate = 0;
  double pts_per_picture = 0, pts_per_bit = 0;
  std::vector<uint8_t> user_data;
  int init_result = 0;
  // Rate control beside the record.
  std::unique_ptr<RateControlRecord> rc_pending;
  bool rc_pending_changed = false;
  int i_min_bytes = 0, i_max_bytes = 0;
  double bits_per_picture = 0;
  int min_bits[3] = {};
  int peak_vbv_delay = 0;
  int vbr_mquant = 0;
  int rc_step = 0;          // code steps of the current re-code pass
  int last_stuffing = 0;    // stuffing bytes of the last picture
  int last_vbv_delay = 0;   // the delay the model gave the last picture
  int recodes = 0;          // re-code passes of the last picture
  // 1: rate control and decisions exactly as the plain scheme has them;
  // 0 adds what codes better (one quantiser per picture, no activity).
  int baseline = 0;
  double picture_q = 0;     // quantiser estimate of the current picture
  double type_q[3] = {};    // mean quantiser value of the last I, P and B picture
  int last_type = 0;        // type of the picture coded last
  // 1: estimation searches the fwd and bwd frames given even where our
  // reconstructions of the references are held (pictures compared with
  // others than their references).
  int search_given = 0;
  // Prediction error of the picture to code (sum over its macroblocks of the
  // root of the variance the decisions left) and of the last picture of
  // each type coded; 0 when unknown. Bits follow it from picture to picture.
  double cur_error = 0, type_error[3] = {};
  bool type_known[3] = {};  // a picture of the type was coded since rc_init_seq
  int gop_np = 0, gop_nb = 0;  // P and B pictures of the last GOP begun
  // Quantiser steps by value, made once per matrix.
  QuantStepTable intra_steps, inter_steps;
  // Reconstructions of the two newest coded I/P pictures: the references
  // predicted from (older, newer).
  std::unique_ptr<Frame> ref_older, ref_newer;
  int references = 0;  // 0, 1 or 2 of them hold pictures

  CoefBlock* block(int mb, int n) { return &blocks[static_cast<size_t>(mb) * block_count + n]; }

 private:
  void clear();
  int init(const RecordVideoSetup& params);
  int init_data();
  void set_picture_coding_flags();
  void apply_version_defaults();
  void set_defaults(int version1, int n, int m, int search_h, int search_v);
  int type_index() const;
  // Coder state of one picture.
  struct Coder {
    int cur_mb_type = 0, cur_cbp = 0, mb_inc = 1, mquant = 0;
    int pmv[2][2][2] = {};
    int dc_pred[3] = {};
    int prev_dirs = 0;
  };
  void put_slice_header(BitWriter& bw, int row, int mquant);
  void put_quantiser_code(BitWriter& bw, int mquant);
  void put_mb_header(BitWriter& bw, Coder& st, const MBInfo& m);
  void put_motion_vectors(BitWriter& bw, Coder& st, const MBInfo& m, int s);
  void put_intra_block(BitWriter& bw, Coder& st, const CoefBlock& b, int cc);
  void put_non_intra_block(BitWriter& bw, const CoefBlock& b);
  bool b_skippable(const Coder& st, const MBInfo& m) const;
  // The reconstruction of a coded predicted picture: its bytes decoded by
  // the decoder itself, so that later predictions are what players see.
  bool reconstruct_coded_picture(const uint8_t* data, int length, Frame* fwd, Frame* bwd);
  void keep_reference();
  // f_codes of the picture from the vectors of the decisions in `mbinfo`.
  void fit_f_codes(int type);
  std::unique_ptr<PicDecoder> recon_decoder;
  std::unique_ptr<Frame> work_frames[3];
};
