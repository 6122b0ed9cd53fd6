// The parameter check: every violation is traced and counted, dependent
// values are repaired, and the encoder is never refused for them.
#include <algorithm>

#include "encode/encoder.h"
#include "foundation/trace.h"

namespace {

struct LevelLimits {
  int hor_f, vert_f, width, height;
  double sample_rate;
  int bit_rate_mbps, vbv;
};
// Levels 4 (High), 6 (High 1440), 8 (Main), 10 (Low).
const LevelLimits kLevels[4] = {
    {9, 5, 1920, 1152, 62668800.0, 80, 597},
    {9, 5, 1440, 1152, 47001600.0, 60, 448},
    {8, 5, 720, 576, 10368000.0, 15, 112},
    {7, 4, 352, 288, 3041280.0, 4, 29},
};

bool combination_defined(int profile, int level) {
  switch (profile) {
    case 1: return level == 4 || level == 6 || level == 8;
    case 2: return level == 6;
    case 3: return level == 8 || level == 10;
    case 4: return level == 4 || level == 6 || level == 8 || level == 10;
    case 5: return level == 8;
    default: return false;
  }
}

}  // namespace

int Encoder::check_parameters() {
  int errors = 0;
  auto fail = [&errors](const char* message) {
    trace("%s\n", message);
    ++errors;
  };
  SeqHdr& s = *seqhdr;
  const int hs = s.horizontal_size, vs = s.vertical_size, cf = s.get_chroma_format();
  PicCodingExt& pce = *pichdr->coding_ext;
  const int m = std::max(ref_distance, 1);
  if (motion_data.size() < static_cast<size_t>(m) + 1) set_search_window(search_h, search_v);

  if (hs < 1 || hs > 16383) fail("_seqhdr->horizontal_size must be between 1 and 16383");
  if (mpeg1 && hs > 4095) fail("_seqhdr->horizontal_size must be less than 4096 (MPEG-1)");
  if ((hs & 4095) == 0) fail("_seqhdr->horizontal_size must not be a multiple of 4096");
  if (cf != 3 && (hs & 1)) fail("_seqhdr->horizontal_size must be a even (4:2:0 / 4:2:2)");
  if (vs < 1 || vs > 16383) fail("_seqhdr->vertical_size must be between 1 and 16383");
  if (mpeg1 && vs > 4095) fail("vertical size must be less than 4096 (MPEG-1)");
  if ((vs & 4095) == 0) fail("_seqhdr->vertical_size must not be a multiple of 4096");
  if (cf == 1 && (vs & 1)) fail("_seqhdr->vertical_size must be a even (4:2:0)");
  if (fieldpic && (vs & 1)) fail("_seqhdr->vertical_size must be a even (field pictures)");
  if (fieldpic && cf == 1 && (vs & 3)) fail("_seqhdr->vertical_size must be a multiple of 4 (4:2:0 field pictures)");
  const int aspect = s.aspect_ratio_information;
  if (mpeg1 && (aspect < 1 || aspect > 14)) fail("pel_pel_aspect_ratio must be between 1 and 14 (MPEG-1)");
  if (!mpeg1 && (aspect < 1 || aspect > 4)) fail("_seqhdr->pel_aspect_ratio_information must be 1, 2, 3 or 4");
  if (s.frame_rate_code < 1 || s.frame_rate_code > 8) fail("frame_rate code must be between 1 and 8");
  const int64_t bps = s.get_bit_rate();
  if (s.bit_rate <= 0) fail("bit_rate must be positive");
  if (bps > 429496729200LL) fail("bit_rate must be less than 429 Gbit/s");
  if (mpeg1 && bps > 104857200LL) fail("bit_rate must be less than 104 Mbit/s (MPEG-1)");
  if (s.vbv_buffer_size < 1 || s.vbv_buffer_size > 262143) fail("_seqhdr->vbv_buffer_size must be in range 1..(2^18-1)");
  if (mpeg1 && s.vbv_buffer_size >= 1024) fail("_seqhdr->vbv_buffer_size must be less than 1024 (MPEG-1)");
  if (cf < 1 || cf > 3) fail("_seqhdr->get_chroma_format () must be in range 1...3");
  if (hs < 0 || hs > 16383) fail("_seqhdr->horizontal_size must be in range 0...16383");
  if (vs < 0 || vs > 16383) fail("_seqhdr->vertical_size must be in range 0...16383");
  if (pce.intra_dc_precision < 0 || pce.intra_dc_precision > 3)
    fail("intra__pichdr->pce->intra_dc_precisionision must be in range 0...3");
  for (int i = 0; i < m; ++i) {
    const MotionData& d = motion_data[static_cast<size_t>(i)];
    const int codes[4] = {d.forw_hor_f_code, d.forw_vert_f_code, d.back_hor_f_code, d.back_vert_f_code};
    const int ranges[4] = {d.sxf, d.syf, d.sxb, d.syb};
    const int n = i >= 1 ? 4 : 2;
    for (int k = 0; k < n; ++k)
      if (codes[k] < 1 || codes[k] > 9) fail("f_code must be between 1 and 9");
    if (mpeg1)
      for (int k = 0; k < n; ++k)
        if (codes[k] > 7) fail("f_code must be le less than 8");
    for (int k = 0; k < n; ++k)
      if (ranges[k] <= 0) fail("search window must be positive");
  }
  motion_data[static_cast<size_t>(m)] = motion_data[0];

  // Repairs, not counted.
  if (mpeg1) {
    if (s.constrained_parameters_flag) {
      const int mbs = ((hs + 15) / 16) * ((vs + 15) / 16);
      const double rate = s.get_frame_rate();
      if (hs > 768 || vs > 576 || mbs > 396 || mbs * rate > 9900.0 || rate > 30.0) s.constrained_parameters_flag = 0;
      for (int i = 0; i <= m && s.constrained_parameters_flag; ++i) {
        const MotionData& d = motion_data[static_cast<size_t>(i)];
        if (d.forw_hor_f_code > 4 || d.forw_vert_f_code > 4 ||
            (i >= 1 && (d.back_hor_f_code > 4 || d.back_vert_f_code > 4)))
          s.constrained_parameters_flag = 0;
      }
    }
    if (s.seq_ext) s.seq_ext->progressive_sequence = 1;
    if (cf != 1) s.set_chroma_format(1);
    pce.intra_dc_precision = 0;
    for (int i = 0; i < 3; ++i) q_scale_type[i] = intra_vlc_format[i] = alternate_scan[i] = 0;
  } else {
    s.constrained_parameters_flag = 0;
  }
  const int prog_seq = s.get_progressive_sequence();
  if (prog_seq && !pce.progressive_frame) pce.progressive_frame = 1;
  if (pce.progressive_frame && fieldpic) fieldpic = 0;
  // Field pictures are not coded: the second field of a frame would need
  // the first as its reference. Frame pictures with field prediction and
  // field DCT carry interlaced material.
  if (fieldpic) {
    fail("field pictures are not supported: frame pictures are coded");
    fieldpic = 0;
  }
  if (!pce.progressive_frame && pce.repeat_first_field) pce.repeat_first_field = 0;
  if (pce.progressive_frame)
    for (int& f : frame_pred_frame_dct) f = 1;
  if (prog_seq && !pce.repeat_first_field && pce.top_field_first) pce.top_field_first = 0;
  for (int i = 0; i <= m; ++i) {
    MotionData& d = motion_data[static_cast<size_t>(i)];
    d.sxf = std::min(d.sxf, 4 * (1 << d.forw_hor_f_code) - 1);
    d.syf = std::min(d.syf, 4 * (1 << d.forw_vert_f_code) - 1);
    if (i >= 1) {
      d.sxb = std::min(d.sxb, 4 * (1 << d.back_hor_f_code) - 1);
      d.syb = std::min(d.syb, 4 * (1 << d.back_vert_f_code) - 1);
    }
  }
  if (mpeg1) {
    if (errors) trace("total pvc_errors: %d\n", errors);
    return errors;
  }

  const int pl = s.seq_ext ? s.seq_ext->profile_and_level_indication : 0;
  const int profile = (pl >> 4) & 15, level = pl & 15;
  if (((pl >> 4) & ~15) != 0) fail("profile must be between 0 and 15");
  if (level < 0 || level > 15) fail("level must be between 0 and 15");
  bool table_ok = true;
  if (profile < 1 || profile > 5) {
    fail("undefined Profile");
    table_ok = false;
  }
  if (profile == 2 || profile == 3) fail("This encoder currently generates no scalable bitstreams");
  if (level < 4 || level > 10 || (level & 1)) {
    fail("undefined Level");
    table_ok = false;
  }
  if (table_ok && !combination_defined(profile, level)) fail("undefined profile@level combination");
  if (profile == 5 && ref_distance > 1) fail("Simple Profile does not allow B pictures");
  if (profile != 1 && cf != 1) fail("chroma format must be 4:2:0 in specified Profile");
  if (profile == 1 && cf == 3) fail("chroma format must be 4:2:0 or 4:2:2 in High Profile");
  if ((profile == 4 || profile == 5) && s.frame_rate_code <= 2 && pce.repeat_first_field)
    fail("repeat_first_field_first must be zero");
  if ((profile == 4 || profile == 5) && s.frame_rate_code <= 6 && prog_seq && pce.repeat_first_field)
    fail("repeat_first_field_first must be zero");
  if (profile != 1 && pce.intra_dc_precision == 3) fail("11 bit DC precision only allowed in High Profile");
  // The level table is only indexed for a defined profile and level.
  if (table_ok) {
    const LevelLimits& l = kLevels[(level - 4) / 2];
    if (s.frame_rate_code > 5 && level >= 8) fail("Picture rate greater than permitted in specified Level");
    for (int i = 0; i <= m; ++i) {
      const MotionData& d = motion_data[static_cast<size_t>(i)];
      if (d.forw_hor_f_code > l.hor_f) fail("forward horizontal f_code greater than permitted in specified Level");
      if (d.forw_vert_f_code > l.vert_f) fail("forward vertical f_code greater than permitted in specified Level");
      if (i >= 1 && i < m && d.back_hor_f_code > l.hor_f)
        fail("backward horizontal f_code greater than permitted in specified Level");
      if (i >= 1 && i < m && d.back_vert_f_code > l.vert_f)
        fail("backward vertical f_code greater than permitted in specified Level");
    }
    if (hs > l.width) fail("Horizontal size is greater than permitted in specified Level");
    if (vs > l.height) ++errors;
    if (static_cast<double>(hs) * vs * s.get_frame_rate() > l.sample_rate)
      fail("Sample rate is greater than permitted in specified Level");
    if (bps > static_cast<int64_t>(l.bit_rate_mbps) * 1000000) fail("Bit rate is greater than permitted in specified Level");
    if (s.vbv_buffer_size > l.vbv) fail("_seqhdr->vbv_buffer_size exceeds High Level limit");
  }
  if (errors) trace("total pvc_errors: %d\n", errors);
  return errors;
}
