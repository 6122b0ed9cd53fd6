// Stored macroblock decisions and the source stream's settings: what the
// re-encoder keeps from the pictures it codes again.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "encode/encoder.h"
#include "foundation/trace.h"

namespace {

void copy_plane(const uint8_t* s, int s_stride, uint8_t* d, int d_stride, int w, int h) {
  for (int y = 0; y < h; ++y)
    std::memcpy(d + static_cast<ptrdiff_t>(y) * d_stride, s + static_cast<ptrdiff_t>(y) * s_stride,
                static_cast<size_t>(w));
}

// Repeats the last column and line of the w x h picture over the rest of
// the plane (d_stride x rows).
void pad_plane(uint8_t* d, int d_stride, int rows, int w, int h) {
  if (w <= 0 || h <= 0) return;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = d + static_cast<ptrdiff_t>(y) * d_stride;
    std::memset(row + w, row[w - 1], static_cast<size_t>(d_stride - w));
  }
  for (int y = h; y < rows; ++y)
    std::memcpy(d + static_cast<ptrdiff_t>(y) * d_stride, d + static_cast<ptrdiff_t>(h - 1) * d_stride,
                static_cast<size_t>(d_stride));
}

// Bilinear resampling with sample centres aligned (any ratio).
void resample_plane(const uint8_t* s, int s_stride, int sw, int sh, uint8_t* d, int d_stride, int dw, int dh) {
  if (sw <= 0 || sh <= 0) return;
  std::vector<int> x0(static_cast<size_t>(dw)), fx(static_cast<size_t>(dw));
  for (int x = 0; x < dw; ++x) {
    const int p = std::max(0, static_cast<int>(((2LL * x + 1) * sw * 256 / dw - 256) / 2));  // 8-bit fraction
    x0[static_cast<size_t>(x)] = std::min(p >> 8, sw - 1);
    fx[static_cast<size_t>(x)] = x0[static_cast<size_t>(x)] + 1 < sw ? (p & 255) : 0;
  }
  for (int y = 0; y < dh; ++y) {
    const int p = std::max(0, static_cast<int>(((2LL * y + 1) * sh * 256 / dh - 256) / 2));
    const int y0 = std::min(p >> 8, sh - 1), y1 = std::min(y0 + 1, sh - 1), fy = p & 255;
    const uint8_t* r0 = s + static_cast<ptrdiff_t>(y0) * s_stride;
    const uint8_t* r1 = s + static_cast<ptrdiff_t>(y1) * s_stride;
    uint8_t* out = d + static_cast<ptrdiff_t>(y) * d_stride;
    for (int x = 0; x < dw; ++x) {
      const int a = x0[static_cast<size_t>(x)], f = fx[static_cast<size_t>(x)], b = std::min(a + 1, sw - 1);
      const int top = r0[a] * (256 - f) + r0[b] * f, bottom = r1[a] * (256 - f) + r1[b] * f;
      out[x] = static_cast<uint8_t>((top * (256 - fy) + bottom * fy + 32768) >> 16);
    }
  }
}

}  // namespace

void Encoder::save_mbi() {
  try {
    saved_mbinfo.assign(mbinfo.begin(), mbinfo.end());
  } catch (const std::bad_alloc&) {
    saved_mbinfo.clear();
  }
}

int Encoder::load_mbi() {
  if (saved_mbinfo.empty() || saved_mbinfo.size() != mbinfo.size()) {
    trace("Encoder::load_mbi (ERROR): no stored data\n");
    return 1;
  }
  std::copy(saved_mbinfo.begin(), saved_mbinfo.end(), mbinfo.begin());
  return 0;
}

void Encoder::reset_mbi_to_forward() {
  for (MBInfo& m : mbinfo)
    if (!(m.mb_type & kMBIntra)) m.mb_type = kMBForward;
}

void Encoder::store_mbi_in_frame(Frame* frame) {
  if (!frame) return;
  frame->set_mb_info(mbinfo.data(), mb_count2);
  const int fwd = mesearch ? mesearch->last_cost : 0, bwd = mesearch ? mesearch->last_cost_bwd : 0;
  frame->set_picture_values(fwd, bwd, 0, 0);
}

void Encoder::copy_picture_coding_ext(const PicHdr* source) {
  if (mpeg1 || !source || !source->mpeg2 || !source->coding_ext) return;
  const PicCodingExt& s = *source->coding_ext;
  PicCodingExt& e = *pichdr->coding_ext;
  e.intra_dc_precision = std::clamp(s.intra_dc_precision, 0, 3);
  e.frame_pred_frame_dct = s.frame_pred_frame_dct & 1;
  e.chroma_420_type = s.chroma_420_type & 1;
  e.progressive_frame = s.progressive_frame & 1;
  // Coding takes these per picture type, so the tables must hold them.
  for (int i = 0; i < 3; ++i) {
    q_scale_type[i] = s.q_scale_type & 1;
    intra_vlc_format[i] = s.intra_vlc_format & 1;
    alternate_scan[i] = s.alternate_scan & 1;
    frame_pred_frame_dct[i] = s.frame_pred_frame_dct & 1;
  }
}

int Encoder::set_quant_matrices(const SeqHdr* source) {
  if (!source) return 1;
  if (!seqhdr) seqhdr = std::make_unique<SeqHdr>();
  if (source != seqhdr.get()) seqhdr->copy(source);
  uint8_t intra[64], non_intra[64];
  std::memcpy(intra, source->intra_loaded && source->intra_matrix ? source->intra_matrix.get() : kDefaultIntraMatrix,
              64);
  if (source->non_intra_loaded && source->non_intra_matrix)
    std::memcpy(non_intra, source->non_intra_matrix.get(), 64);
  else
    std::memset(non_intra, 16, 64);
  const int bad = load_intra_matrix(intra) | load_non_intra_matrix(non_intra);
  return bad ? 1 : 0;
}

int Encoder::load_decisions(const MBInfo* states, int count) {
  const int n = states ? std::clamp(count, 0, mb_count2) : 0;
  for (int i = 0; i < mb_count2; ++i) {
    MBInfo& m = mbinfo[static_cast<size_t>(i)];
    if (i < n) {
      m.assign(states[i]);
    } else {
      m = MBInfo{};
      m.mb_type = kMBIntra;
      m.motion_type = kMotionFrame;
    }
    m.mb_number = i;
  }
  if (n < mb_count2)
    trace("Encoder::load_decisions (WARNING): %d of %d macroblocks without decisions, coded intra\n", mb_count2 - n,
          mb_count2);
  return n;
}

int Encoder::quant_code_of_value(double value, int type) const {
  const int ti = std::clamp(type, 1, 3) - 1;
  if (!(value > 0)) return 1;
  if (mpeg1 || !q_scale_type[ti]) return std::clamp(static_cast<int>(value / 2 + 0.5), 1, 31);
  int best = 1;
  for (int c = 2; c <= 31; ++c)
    if (std::abs(kNonLinearQuantScale[c] - value) < std::abs(kNonLinearQuantScale[best] - value)) best = c;
  return best;
}

Frame* Encoder::get_work_frame(Frame* frame, int index) {
  if (!frame || !frame->y_plane() || index < 0 || index > 2) return nullptr;
  const int hs = seqhdr->horizontal_size, vs = seqhdr->vertical_size;
  const bool same_picture =
      frame->get_width() == hs && frame->get_height() == vs && frame->chroma_format() == chroma_format;
  if (same_picture && frame->padded_width() == width && frame->padded_height() >= height) return frame;
  std::unique_ptr<Frame>& w = work_frames[index];
  if (!w) {
    w.reset(new (std::nothrow) Frame(width, height, chroma_format, 0));
    if (!w || !w->y_plane() || w->padded_width() != width || w->padded_height() < height) {
      w.reset();
      trace("Encoder::get_work_frame (ERROR): no work frame of %dx%d\n", width, height);
      return nullptr;
    }
  }
  w->copy_picture_info(frame);
  w->set_mean_quantiser(frame->mean_quantiser());
  const int dcw = (hs + 1) / 2, dch = chroma_format == 1 ? (vs + 1) / 2 : vs;
  const int sw = std::min(frame->get_width(), frame->padded_width());
  const int sh = std::min(frame->get_height(), frame->padded_height());
  const int scw = std::min((sw + 1) / 2, frame->c_width());
  const int sch = std::min(frame->chroma_format() == 1 ? (sh + 1) / 2 : sh, frame->c_height());
  // Same picture: copied as it is, only the padding is new (scaling it
  // into the padding would enlarge the picture and lose its bottom lines).
  // Another size or chroma format: resampled to the coded picture.
  const auto plane = [&](const uint8_t* s, int s_stride, int s_w, int s_h, uint8_t* d, int d_stride, int d_rows,
                         int d_w, int d_h) {
    if (same_picture)
      copy_plane(s, s_stride, d, d_stride, std::min(s_w, d_w), std::min(s_h, d_h));
    else
      resample_plane(s, s_stride, s_w, s_h, d, d_stride, d_w, d_h);
    const int cw_ = same_picture ? std::min(s_w, d_w) : d_w, ch_ = same_picture ? std::min(s_h, d_h) : d_h;
    pad_plane(d, d_stride, d_rows, cw_, ch_);
  };
  plane(frame->y_plane(), frame->padded_width(), sw, sh, w->y_plane(), width, w->padded_height(), hs, vs);
  plane(frame->cb_plane(), frame->c_width(), scw, sch, w->cb_plane(), w->c_width(), w->c_height(), dcw, dch);
  plane(frame->cr_plane(), frame->c_width(), scw, sch, w->cr_plane(), w->c_width(), w->c_height(), dcw, dch);
  return w.get();
}
