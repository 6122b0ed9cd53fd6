// The picture flow: decisions (estimation or stored), prediction from the
// encoder's own reconstructions, transform, coding and reconstruction.
#include <algorithm>
#include <cstring>

#include "decode/picdec.h"
#include "encode/enc_predict.h"
#include "encode/encoder.h"
#include "foundation/trace.h"

namespace {

void fill_mb(Frame* f, int mbx, int mby, int chroma_format, uint8_t v) {
  const int w = f->padded_width(), cw = f->c_width();
  for (int j = 0; j < 16; ++j) std::memset(f->y_plane() + static_cast<ptrdiff_t>(16 * mby + j) * w + 16 * mbx, v, 16);
  const int ch = chroma_format == 1 ? 8 : 16;
  for (uint8_t* p : {f->cb_plane(), f->cr_plane()})
    for (int j = 0; j < ch; ++j) std::memset(p + static_cast<ptrdiff_t>(ch * mby + j) * cw + 8 * mbx, v, 8);
}

int clamp_vector(int v, int f_code) {
  const int f = 1 << (std::clamp(f_code, 1, 9) - 1);
  return std::clamp(v, -16 * f, 16 * f - 1);
}

}  // namespace

void Encoder::predict_picture(Frame* fwd, Frame* bwd, Frame* pred) {
  const int ptype = pichdr->picture_coding_type;
  const bool p_pic = ptype == PIC_TYPE_P;
  for (int k = 0; k < mb_count2; ++k) {
    MBInfo& m = mbinfo[static_cast<size_t>(k)];
    const int mbx = k % mb_width, mby = k / mb_width;
    if (m.mb_type & kMBIntra || (!fwd && !bwd)) {
      fill_mb(pred, mbx, mby, chroma_format, 128);
      continue;
    }
    int type = m.mb_type & (kMBForward | kMBBackward);
    int vec[2][2][2], sel[2][2];
    for (int r = 0; r < 2; ++r)
      for (int s = 0; s < 2; ++s) {
        vec[r][s][0] = mbi_mv(m, r, s, 0);
        vec[r][s][1] = mbi_mv(m, r, s, 1);
        sel[r][s] = mbi_field_sel(m, r, s);
      }
    int motion = m.motion_type;
    if (p_pic && !(type & kMBForward)) {  // no motion compensation: zero vector from the reference
      type = kMBForward;
      motion = kMotionFrame;
      std::memset(vec, 0, sizeof vec);
    }
    const int dmv[2] = {m.mv[12], m.mv[13]};
    enc_predict_macroblock(pred, fwd, bwd, ptype, mpeg1 != 0, pichdr->coding_ext->top_field_first, mbx, mby, type,
                           motion, vec, sel, dmv);
  }
}

int Encoder::sanitize_decisions(int type) {
  const PicCodingExt& e = *pichdr->coding_ext;
  const bool field_ok = !mpeg1 && !e.frame_pred_frame_dct;
  int changed = 0;
  for (MBInfo& m : mbinfo) {
    const MBInfo before = m;
    m.mb_type &= kMBIntra | kMBForward | kMBBackward;
    if (type == PIC_TYPE_I || (m.mb_type & kMBIntra)) {
      m.mb_type = kMBIntra;
    } else if (type == PIC_TYPE_P) {
      m.mb_type &= kMBForward;
    } else if (!(m.mb_type & (kMBForward | kMBBackward))) {
      m.mb_type = kMBForward;  // a direction is needed: the forward reference, still
      std::memset(m.mv, 0, 8 * sizeof m.mv[0]);
      m.motion_type = kMotionFrame;
    }
    if (type == PIC_TYPE_B && closed_gop && (m.mb_type & kMBForward)) {
      // Leading pictures of a closed GOP have nothing before them.
      m.mb_type = kMBBackward;
      if (!(before.mb_type & kMBBackward)) std::memset(m.mv, 0, 8 * sizeof m.mv[0]);
    }
    // Dual prime is never coded here; field motion only where allowed.
    if (m.motion_type != kMotionField || !field_ok) m.motion_type = kMotionFrame;
    if (m.mb_type & kMBIntra) m.motion_type = kMotionFrame;
    m.dct_type &= 1;
    for (int r = 0; r < 2; ++r)
      for (int s = 0; s < 2; ++s) {
        mbi_mv(m, r, s, 0) = clamp_vector(mbi_mv(m, r, s, 0), e.f_code[s][0]);
        mbi_mv(m, r, s, 1) = clamp_vector(mbi_mv(m, r, s, 1), e.f_code[s][1]);
        mbi_field_sel(m, r, s) &= 1;
      }
    m.mv[12] = m.mv[13] = 0;
    if (m.motion_type == kMotionFrame)
      for (int s = 0; s < 2; ++s) {
        mbi_mv(m, 1, s, 0) = mbi_mv(m, 0, s, 0);
        mbi_mv(m, 1, s, 1) = mbi_mv(m, 0, s, 1);
      }
    changed += std::memcmp(&before.mb_type, &m.mb_type, sizeof m.mb_type) != 0 || before.motion_type != m.motion_type ||
               std::memcmp(before.mv, m.mv, sizeof m.mv) != 0;
  }
  return changed;
}

void Encoder::fit_f_codes(int type) {
  // The smallest f_code whose range holds every vector of the direction.
  int need[2][2] = {{1, 1}, {1, 1}};
  for (const MBInfo& m : mbinfo) {
    if (m.mb_type & kMBIntra) continue;
    for (int s = 0; s < 2; ++s) {
      if (!(m.mb_type & (s ? kMBBackward : kMBForward)) && !(s == 0 && type == PIC_TYPE_P)) continue;
      for (int r = 0; r < (m.motion_type == kMotionFrame ? 1 : 2); ++r)
        for (int t = 0; t < 2; ++t) {
          const int v = mbi_mv(m, r, s, t);
          int f = need[s][t];
          while (f < 9 && (v < -16 * (1 << (f - 1)) || v > 16 * (1 << (f - 1)) - 1)) ++f;
          need[s][t] = f;
        }
    }
  }
  const int cap = mpeg1 ? 7 : 9;
  PicCodingExt& e = *pichdr->coding_ext;
  for (int s = 0; s < 2; ++s) {
    const int both = std::max(need[s][0], need[s][1]);
    e.f_code[s][0] = std::min(mpeg1 ? both : need[s][0], cap);
    e.f_code[s][1] = std::min(mpeg1 ? both : need[s][1], cap);
  }
  if (type == PIC_TYPE_P) e.f_code[1][0] = e.f_code[1][1] = 15;
}

bool Encoder::reconstruct_coded_picture(const uint8_t* data, int length, Frame* fwd, Frame* bwd) {
  if (!recon_decoder) recon_decoder = std::make_unique<PicDecoder>(seqhdr.get());
  recon_decoder->load_quant_matrices(seqhdr.get());
  const int n = recon_decoder->decode_picture(data, length, recon.get(), fwd, bwd);
  if (n <= 0 || recon_decoder->get_concealed_count()) {
    trace("Encoder::reconstruct_coded_picture (ERROR): the coded picture does not decode\n");
    return false;
  }
  return true;
}

void Encoder::keep_reference() {
  std::swap(ref_older, ref_newer);
  if (!ref_newer) ref_newer = std::make_unique<Frame>(width, height, chroma_format, 0);
  std::memcpy(ref_newer->buffer(), recon->buffer(), static_cast<size_t>(recon->y_size() + 2 * recon->c_size()));
  // Layers the search made of the picture held before are made again.
  if (ref_newer->layer2()) ref_newer->get_layer2(ref_newer->layer4() != nullptr, ref_newer->layer2_fields() != nullptr);
  if (mesearch) mesearch->forget_layer(ref_newer.get());
  references = std::min(references + 1, 2);
}

int Encoder::encode_picture(Frame* cur, Frame* fwd, Frame* bwd, int picture_coding_type, int distance,
                            BitWriter& writer, int stage, const MBInfo* mb_states, int code) {
  return encode_picture(cur, fwd, bwd, picture_coding_type, distance, writer, stage, mb_states, mb_count2, code);
}

int Encoder::encode_picture(Frame* cur, Frame* fwd, Frame* bwd, int picture_coding_type, int distance,
                            BitWriter& writer, int stage, const MBInfo* mb_states, int mb_state_count, int code) {
  // Frames of another size, chroma format or padding are coded from work
  // frames of the coded geometry.
  cur = get_work_frame(cur, 0);
  if (fwd) fwd = get_work_frame(fwd, 1);
  if (bwd) bwd = get_work_frame(bwd, 2);
  if (!cur) {
    trace("Encoder::encode_picture (ERROR): no picture to code at %dx%d\n", width, height);
    return 0;
  }
  const int type = picture_coding_type;
  if (fieldpic) {
    trace("Encoder::encode_picture (ERROR): field pictures are not supported\n");
    return 0;
  }
  if (type != PIC_TYPE_I && type != PIC_TYPE_P && type != PIC_TYPE_B) {
    trace("Encoder::encode_picture (ERROR): picture type %d not supported\n", type);
    return 0;
  }
  // Predictions come from our own reconstructions; without them there is
  // nothing a decoder could predict from either. An estimation alone
  // searches the caller's pictures.
  const int needed = type == PIC_TYPE_I ? 0 : type == PIC_TYPE_P || closed_gop ? 1 : 2;
  if (stage != 1 && references < needed) {
    trace("Encoder::encode_picture (ERROR): picture type %d without its reference pictures\n", type);
    return 0;
  }
  const auto valid_ref = [&](Frame* f) {
    return f && f->y_plane() && f->padded_width() == width && f->padded_height() >= height &&
           f->chroma_format() == chroma_format;
  };
  PicHdr& ph = *pichdr;
  PicCodingExt& e = *ph.coding_ext;
  ph.picture_coding_type = type;
  e.picture_structure = PIC_FRAME;
  const int ti = type - 1;
  if (!mpeg1) {
    e.progressive_frame = seqhdr->get_progressive_sequence() ? 1 : cur->progressive_frame();
    e.top_field_first = seqhdr->get_progressive_sequence() ? 0 : cur->top_field_first();
    e.repeat_first_field = 0;
  }
  e.frame_pred_frame_dct = mpeg1 || e.progressive_frame ? 1 : frame_pred_frame_dct[ti];
  const int m_rec = std::max(ref_distance, 1);
  const int rec = type == PIC_TYPE_B ? std::clamp(distance, 1, m_rec) : m_rec;
  const MotionData& md = motion_data[static_cast<size_t>(std::min<size_t>(rec, motion_data.size() - 1))];
  if (type == PIC_TYPE_I) {
    e.f_code[0][0] = e.f_code[0][1] = e.f_code[1][0] = e.f_code[1][1] = 15;
  } else if (mb_states) {
    // Set from the decisions once they are loaded.
  } else {
    e.f_code[0][0] = md.forw_hor_f_code;
    e.f_code[0][1] = md.forw_vert_f_code;
    e.f_code[1][0] = type == PIC_TYPE_B ? md.back_hor_f_code : 15;
    e.f_code[1][1] = type == PIC_TYPE_B ? md.back_vert_f_code : 15;
  }
  if (type != PIC_TYPE_I && (e.f_code[0][0] < 1 || e.f_code[0][0] > 9)) e.f_code[0][0] = e.f_code[0][1] = 1;
  if (type == PIC_TYPE_B && (e.f_code[1][0] < 1 || e.f_code[1][0] > 9)) e.f_code[1][0] = e.f_code[1][1] = 1;
  if (mpeg1) {
    ph.full_pel_forward_vector = ph.full_pel_backward_vector = 0;
    e.f_code[0][1] = e.f_code[0][0];
    e.f_code[1][1] = e.f_code[1][0];
  }

  if (stage != 2) {
    if (!mb_states) {
      unsigned want = (!e.frame_pred_frame_dct && !e.progressive_frame) ? (me_strategy | kMEInterlaced)
                                                                         : (me_strategy & ~kMEInterlaced);
      // Our refinement (neighbours' vectors as starts) finds the smooth
      // motion the sparse search misses: about 10% fewer bits at equal
      // quantiser. The plain strategies stay with --baseline.
      want = baseline ? (want & ~kMERefine) : (want | kMERefine);
      if (want != me_strategy) {
        me_strategy = want;
        mesearch->set_mode(me_strategy);
      }
      // Vector bits weigh against distortion by the quantiser the picture
      // type had last: the finer it codes, the more a better match pays.
      {
        const double q = type_q[ti] > 0 ? type_q[ti] : type_q[1] > 0 ? type_q[1] : type_q[0] > 0 ? type_q[0] : 8.0;
        mesearch->mv_lambda = baseline ? 0 : std::max(1, static_cast<int>(q + 0.5));
      }
      // By default the search looks at the references a decoder will hold
      // (our reconstructions): at low rates they differ from the source
      // pictures, and the best vector is the one that predicts from what is
      // held. A scene test may ask for the frames given instead.
      const bool own_refs = !baseline && !search_given && e.frame_pred_frame_dct &&
                            references >= (type == PIC_TYPE_B && !closed_gop ? 2 : 1);
      Frame* sf = own_refs ? nullptr : valid_ref(fwd) ? fwd : nullptr;
      Frame* sb = own_refs ? nullptr : valid_ref(bwd) ? bwd : nullptr;
      if (type == PIC_TYPE_I) {
        mesearch->motion_estimate_intra(cur, mbinfo.data());
      } else if (type == PIC_TYPE_P) {
        // Searched in the caller's pictures; a missing one gives intra.
        mesearch->motion_estimate_p(cur, sf ? sf : ref_newer.get(), md.sxf, md.syf, mbinfo.data());
      } else {
        Frame* f = sf ? sf : ref_older.get();
        Frame* b = sb ? sb : ref_newer.get();
        mesearch->motion_estimate_b(cur, closed_gop ? b : f, b, md.sxf, md.syf, md.sxb, md.syb, mbinfo.data(),
                                    closed_gop);
      }
      // The search keeps field vectors in frame lines; the coder in field lines.
      for (MBInfo& m : mbinfo)
        if (m.motion_type == kMotionField && !(m.mb_type & kMBIntra))
          for (int r = 0; r < 2; ++r)
            for (int s = 0; s < 2; ++s) mbi_mv(m, r, s, 1) /= 2;
      // f_codes no wider than the vectors found: each non-zero vector
      // component costs f_code - 1 bits more. Progressive pictures only, as
      // the vector weighing: interlaced re-encodes lost quality with it.
      if (!baseline && type != PIC_TYPE_I && pichdr->coding_ext->frame_pred_frame_dct) fit_f_codes(type);
    } else {
      load_decisions(mb_states, mb_state_count);
      if (type == PIC_TYPE_P)
        for (MBInfo& m : mbinfo)
          if (m.skipped && !(m.mb_type & kMBIntra)) {  // a skipped P macroblock copies with a zero vector
            m.mb_type = kMBForward;
            m.motion_type = kMotionFrame;
            std::memset(m.mv, 0, 8 * sizeof m.mv[0]);
          }
      if (type != PIC_TYPE_I) fit_f_codes(type);
    }
    sanitize_decisions(type);
  }
  if (stage == 1) return 0;
  if (stage == 2) {  // decisions loaded from elsewhere
    if (!baseline && type != PIC_TYPE_I) fit_f_codes(type);
    sanitize_decisions(type);
  }

  Frame* pf = nullptr;
  Frame* pb = nullptr;
  if (type == PIC_TYPE_P) {
    pf = ref_newer.get();
  } else if (type == PIC_TYPE_B) {
    pf = closed_gop ? nullptr : ref_older.get();
    pb = ref_newer.get();
  }
  if (type == PIC_TYPE_I) {
    estimate_dct_type(nullptr, cur);
    transform_picture(nullptr, cur);
  } else {
    predict_picture(pf, pb, recon.get());
    estimate_dct_type(recon.get(), cur);
    transform_picture(recon.get(), cur);
  }
  if (!code) return 0;
  writer.align_zero();
  const size_t start = static_cast<size_t>(writer.bit_count() / 8);
  const int bytes = code_picture_rc(writer, cur->stream_frame(), cur);
  writer.flush_bytes();
  if (writer.overflow()) {
    trace("Encoder::encode_picture (ERROR): output buffer full\n");
    return 0;
  }
  if (type == PIC_TYPE_I) {
    reconstruct_intra_picture();
  } else if (!reconstruct_coded_picture(writer.start() + start, bytes, pf ? pf : pb, pb)) {
    return 0;
  }
  if (type != PIC_TYPE_B) keep_reference();
  return bytes;
}
