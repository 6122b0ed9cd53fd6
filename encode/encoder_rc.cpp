// Rate control: a GOP budget, picture targets from the complexities of the
// last I, P and B pictures, macroblock quantisers from a virtual buffer and
// the spatial activity; the decoder buffer model behind vbv_delay.
#include <algorithm>
#include <cmath>

#include "encode/encoder.h"
#include "encode/me_search.h"
#include "foundation/trace.h"

namespace {

int trunc_int(double v) { return static_cast<int>(v); }

// Quantiser value of a code for the scale type.
int value_of_code(int type1, int code) {
  code = std::clamp(code, 1, 31);
  return type1 ? kNonLinearQuantScale[code] : 2 * code;
}

int code_of_value(int type1, int value) {
  return type1 ? kNonLinearQuantCode[std::clamp(value, 0, 112)] : std::clamp(value / 2, 1, 31);
}

}  // namespace

void Encoder::rc_init_seq(double frame_rate) {
  const double F = frame_rate > 0 ? frame_rate : seqhdr->get_frame_rate();
  const double B = std::max(1, seqhdr->get_bit_rate());
  const bool fixed = fixed_mquant > 0 || vbr_mquant > 0;
  if (bits_per_picture <= 1.0) {
    bits_per_picture = B / F;
    min_bits[0] = trunc_int(4 * bits_per_picture);
    min_bits[1] = trunc_int(3 * bits_per_picture);
    min_bits[2] = trunc_int(1.5 * bits_per_picture);
  }
  i_min_bytes = (mpeg1 && !vbr && !fixed) ? trunc_int(2.25 * B / (8 * F)) : trunc_int(1.5 * B / (8 * F));
  i_max_bytes = trunc_int(4.5 * B / (8 * F));
  rc.r = trunc_int(2 * B / F + 0.5);
  rc.avg_act = 400.0;
  if (!fixed) {
    if (rc.Np || rc.Nb) rc.R -= (rc.Np + rc.Nb) * trunc_int(B / F);
  } else {
    rc.R = 0;
  }
  rc.Xi = trunc_int(B * 160 / 115 + 0.5);
  rc.Xp = trunc_int(B * 60 / 115 + 0.5);
  rc.Xb = trunc_int(B * 42 / 115 + 0.5);
  double f;
  if (!fixed) {
    const int capacity = trunc_int(static_cast<double>(seqhdr->get_vbv_buffer_size()) * 90000.0 / B);
    f = 10.0 / 31.0;
    if (peak_vbv_delay > capacity) {
      trace("Encoder::rc_init_seq (VBV): max=%d (%d), init-full=%.2f%%\n", peak_vbv_delay, capacity, 10.0 / 31.0);
      f = std::min(0.875, (10.0 / 31.0) * peak_vbv_delay / capacity);
    }
  } else {
    const int q = fixed_mquant > 0 ? fixed_mquant : vbr_mquant;
    const int v = q <= 7 ? 2 * q : q <= 15 ? (3 * q + 1) / 2 : (2 * q + 2) / 3;
    f = v / 31.0;
  }
  rc.d0i = rc.d0p = trunc_int(f * rc.r + 0.5);
  rc.d0b = trunc_int(1.4 * f * rc.r + 0.5);
  type_known[0] = type_known[1] = type_known[2] = false;
  type_error[0] = type_error[1] = type_error[2] = 0;
}

void Encoder::rc_start_run() {
  rc.decoding_time = 0;
  rc.next_ip_delay = 0;
  rc.bits_total = 0;
  peak_vbv_delay = 0;
}

void Encoder::rc_init_gop(int np, int nb, double frame_rate) {
  const double F = frame_rate > 0 ? frame_rate : seqhdr->get_frame_rate();
  const double B = std::max(1, seqhdr->get_bit_rate());
  const int bits = trunc_int((np + nb + 1) * B / F + 0.5);
  if (fixed_mquant <= 0 && vbr_mquant <= 0) {
    rc.R += bits;
  } else {
    rc_init_seq(frame_rate);
    rc.R = bits;
  }
  rc.Np = fieldpic ? 2 * np + 1 : np;
  rc.Nb = fieldpic ? 2 * nb : nb;
  gop_np = rc.Np;
  gop_nb = rc.Nb;
  rc.gop_pictures = rc.gop_bits = 0;
}

void Encoder::rc_extend_gop(int np, int nb) {
  if (fixed_mquant <= 0 && vbr_mquant <= 0)
    rc.R += trunc_int((np + nb) * std::max(1, seqhdr->get_bit_rate()) / seqhdr->get_frame_rate() + 0.5);
  rc.Np = std::max(rc.Np, 0) + np;
  rc.Nb = std::max(rc.Nb, 0) + nb;
}

void Encoder::plan_picture() {
  // One quantiser scale s for the pictures still to come, each type at its
  // ratio k of it: predicted bits X / (k s) over the rest of this GOP and
  // the whole next one (a horizon that long keeps the last pictures of a
  // GOP from paying all its debts) add up to their budget. Both B pictures
  // between two references take the same quantiser.
  const int type = pichdr->picture_coding_type;
  const int ti = type == PIC_TYPE_P ? 1 : type == PIC_TYPE_B ? 2 : 0;
  const double k[3] = {kTypeRatioI, 1.0, kTypeRatioB};
  double X[3] = {static_cast<double>(std::max(rc.Xi, 1)), static_cast<double>(std::max(rc.Xp, 1)),
                 static_cast<double>(std::max(rc.Xb, 1))};
  // This picture's complexity from the last one of its type, scaled by how
  // their prediction errors compare.
  cur_error = 0;
  for (int j = 0; j < mb_count2; ++j) cur_error += std::sqrt(std::max(0, mbi_variance(mbinfo[static_cast<size_t>(j)])));
  if (cur_error > 0 && type_error[ti] > 0) X[ti] *= std::clamp(cur_error / type_error[ti], 0.25, 4.0);
  if (type == PIC_TYPE_B && last_type == PIC_TYPE_B && picture_q > 0) {
    rc.T = trunc_int(X[2] / picture_q + 0.5);
    return;
  }
  const double B = std::max(1, seqhdr->get_bit_rate());
  const double F = seqhdr->get_frame_rate();
  const double next_gop = (gop_np + gop_nb + 1) * B / F;
  const int np = std::max(rc.Np, 0), nb = std::max(rc.Nb, 0);
  const double demand = (type == PIC_TYPE_I ? X[0] / k[0] : 0.0) + np * X[1] / k[1] + nb * X[2] / k[2] +
                        X[0] / k[0] + gop_np * X[1] / k[1] + gop_nb * X[2] / k[2];
  double budget = rc.R + next_gop;
  if (fixed_mquant <= 0 && vbr_mquant <= 0 && !vbr && pts_per_bit > 0) {
    // At constant rate the decoder buffer is the budget: what it holds when
    // this picture is taken out and what arrives until the horizon's last
    // picture, less the level it started at (kept for the I picture after
    // the horizon, and so that the stream keeps to its rate).
    const double start = std::floor(seqhdr->get_vbv_buffer_size() * 3.0 / 5.0);
    const double held = rc.decoding_time == 0 ? start
                                              : (rc.decoding_time + pts_per_picture) / pts_per_bit - rc.bits_total;
    const int pictures = (type == PIC_TYPE_I ? 1 : 0) + np + nb + gop_np + gop_nb + 1;
    budget = held + (pictures - 1) * B / F - start;
  }
  budget = std::max(budget, next_gop / 4);
  picture_q = std::clamp(k[ti] * demand / budget, 0.5, 56.0);
  rc.T = trunc_int(X[ti] / picture_q + 0.5);
}

double Encoder::rc_init_pict(Frame* frame) {
  const double Kp = 1.0, Kb = 1.4;
  const int type = pichdr->picture_coding_type;
  if (!baseline) {
    plan_picture();
  } else if (type == PIC_TYPE_I) {
    if (!rc.Xi) rc_init_seq(0);
    rc.T = trunc_int(rc.R / (1.0 + rc.Np * static_cast<double>(rc.Xp) / (rc.Xi * Kp) +
                             rc.Nb * static_cast<double>(rc.Xb) / (rc.Xi * Kb)) +
                     0.5);
    rc.d = rc.d0i;
  } else if (type == PIC_TYPE_P) {
    if (!rc.Xp) rc_init_seq(0);
    const double D = rc.Np + rc.Nb * Kp * rc.Xb / (Kb * rc.Xp);
    rc.T = D == 0 ? rc.R : trunc_int(rc.R / D + 0.5);
    rc.d = rc.d0p;
  } else {
    if (!rc.Xb) rc_init_seq(0);
    const double D = rc.Nb + rc.Np * Kb * rc.Xp / (Kp * rc.Xb);
    rc.T = D == 0 ? rc.R : trunc_int(rc.R / D + 0.5);
    rc.d = rc.d0b;
  }
  const double F = seqhdr->get_frame_rate();
  const int floor_bits = trunc_int(seqhdr->get_bit_rate() / (8 * F) + 0.5);
  if (rc.T < floor_bits) rc.T = floor_bits;
  rc.Q = 0;
  rc.target_per_mb = static_cast<double>(rc.T) / mb_count2;
  if (!frame || !frame->y_plane()) return rc.avg_act;
  const bool field_blocks = !pichdr->coding_ext->frame_pred_frame_dct;
  rc.avg_act = calc_activity(frame->y_plane(), width, height2, frame->padded_width(), field_blocks, mbinfo.data());
  if (rc.avg_act <= 0) rc.avg_act = 400.0;
  return rc.avg_act;
}

RateControlRecord* Encoder::rc_make_pending() {
  if (!rc_pending) rc_pending = std::make_unique<RateControlRecord>();
  rc_pending->assign(rc);
  rc_pending_changed = true;
  return rc_pending.get();
}

void Encoder::apply_pending_params(int force) {
  if (rc_pending && (rc_pending_changed || force)) {
    rc.assign(*rc_pending);
    rc_pending_changed = false;
  }
}

int Encoder::rc_start_mb() {
  const int type1 = pichdr->coding_ext->q_scale_type;
  if (fixed_mquant > 0 || vbr_mquant > 0 || !baseline) {
    const int saved_q = rc.Q;
    const int v = rc_calc_mquant(0, 0);
    rc.Q = saved_q;
    rc.prev_mquant = v;
    return v;
  }
  const int r = std::max(1, rc.r);
  if (type1) {
    const int code = std::clamp(trunc_int(rc.d * 62.0 / r + 0.5), 1, 112);
    return kNonLinearQuantScale[kNonLinearQuantCode[code]];
  }
  rc.prev_mquant = std::clamp(2 * trunc_int(rc.d * 31.0 / r + 0.5), 2, 62);
  return rc.prev_mquant;
}

int Encoder::rc_calc_mquant(int j, int bits) {
  const int type1 = pichdr->coding_ext->q_scale_type;
  if (constant_mquant && fixed_mquant > 0) {
    const int q = fixed_mquant;
    return type1 ? kNonLinearQuantScale[std::clamp(q, 1, 31)] : 2 * std::clamp(q, 1, 31);
  }
  const int r = std::max(1, rc.r);
  double Qj = (rc.d + bits - j * rc.target_per_mb) * 31.0 / r;
  if (!baseline) {
    // One quantiser for the picture from the complexity of the last one of
    // its type, nudged gently by how far the picture is off its target so
    // far: detail is seldom spread evenly over a picture, and a quantiser
    // that follows every uneven stretch costs more than the few bits it
    // saves (the buffer check re-codes a picture that would not fit).
    Qj = picture_q + 0.2 * (bits - j * rc.target_per_mb) * 31.0 / r;
  }
  const int q = fixed_mquant > 0 ? fixed_mquant : vbr_mquant;
  if (q > 0) {
    const MBInfo& m = mbinfo[static_cast<size_t>(j)];
    const bool b_inter = pichdr->picture_coding_type == PIC_TYPE_B && !(m.mb_type & kMBIntra);
    const int qq = b_inter ? (4 * q + 1) / 3 : q;
    if (!(fixed_mq_max_bit_rate && Qj >= qq)) Qj = qq;
  }
  const double act = mbinfo[static_cast<size_t>(j)].activity;
  const double N = !baseline ? 1.0 : act > 0 ? (2 * act + rc.avg_act) / (act + 2 * rc.avg_act) : 1.0;
  int v;
  if (type1) {
    const int code = std::clamp(trunc_int(2 * N * Qj + 0.5), 1, 112);
    v = kNonLinearQuantScale[kNonLinearQuantCode[code]];
  } else {
    v = std::clamp(2 * trunc_int(N * Qj + 0.5), 2, 62);
    if (v >= 8 && v - rc.prev_mquant >= -4 && v - rc.prev_mquant <= 4) v = rc.prev_mquant;
    rc.prev_mquant = v;
  }
  rc.Q += v;
  return v;
}

int Encoder::rc_step_mquant(int, int mquant, int step) {
  // Whole code steps, in both scale types.
  const int type1 = pichdr->coding_ext->q_scale_type;
  const int v = value_of_code(type1, code_of_value(type1, mquant) + step);
  rc.Q += v - mquant;
  if (!type1) rc.prev_mquant = v;
  return v;
}

int Encoder::rc_update_pict(int bits) {
  const int type = pichdr->picture_coding_type;
  int n = rc.d + bits - rc.T;
  if (n < 0) {
    rc.stuffing_credit += -n;
    n = 0;
  }
  int s = 0;
  const int ti = type == PIC_TYPE_P ? 1 : type == PIC_TYPE_B ? 2 : 0;
  // The plain scheme pads small pictures up to a floor; those bytes buy no
  // picture, so by default only a full decoder buffer is stuffed (below).
  if (baseline && rc.stuffing_credit > 7 && bits < min_bits[ti])
    s = std::min(min_bits[ti] - bits, rc.stuffing_credit) & ~7;
  const int X = trunc_int(rc.Q * 0.5 / mb_count2 * bits + 0.5);
  rc.S = bits + s;
  rc.R -= bits + s;
  if (type == PIC_TYPE_I) {
    rc.Xi = X;
    rc.d0i = n;
  } else if (type == PIC_TYPE_P) {
    rc.Xp = X;
    rc.d0p = n;
    rc.Np -= 1;
  } else {
    rc.Xb = X;
    rc.d0b = n;
    rc.Nb -= 1;
  }
  last_type = type;
  type_error[ti] = cur_error;
  type_known[ti] = true;
  type_q[ti] = static_cast<double>(rc.Q) / std::max(1, mb_count2);
  rc.gop_pictures += 1;
  rc.pictures += 1;
  rc.gop_bits += rc.S;
  rc.bits_total += rc.S;
  return s / 8;
}

void Encoder::calc_vbv_delay(int header_bits) {
  const double T = pts_per_picture;
  const PicCodingExt& e = *pichdr->coding_ext;
  const bool progressive = seqhdr->get_progressive_sequence() != 0;
  double delay;
  if (pichdr->picture_coding_type == PIC_TYPE_B) {
    delay = T;
    if (progressive && e.repeat_first_field) delay = e.top_field_first ? 3 * T : 2 * T;
    else if (!progressive && e.repeat_first_field) delay = 1.5 * T;
  } else {
    delay = rc.next_ip_delay;
    rc.next_ip_delay = T;
    if (progressive && e.repeat_first_field) rc.next_ip_delay = e.top_field_first ? 3 * T : 2 * T;
    else if (!progressive && e.repeat_first_field) rc.next_ip_delay = 1.5 * T;
  }
  if (rc.decoding_time == 0) {
    delay = static_cast<double>(static_cast<int64_t>(seqhdr->vbv_buffer_size) * 16384 * 3 / 5) * pts_per_bit;
  }
  rc.decoding_time += delay;
  const double t_eop = (header_bits + rc.bits_total) * pts_per_bit;
  int v = static_cast<int>(std::min(rc.decoding_time - t_eop, 1e9));
  peak_vbv_delay = std::max(peak_vbv_delay, v);
  last_vbv_delay = v;
  if (v < 0) {
    trace("Encoder::calc_vbv_delay (ERROR: Underflow): pic=%d, decoding_time=%.1f, t_EOP=%.1f, vbv-delay=%d\n",
          rc.pictures, rc.decoding_time, t_eop, v);
    v = 0;
  } else if (v > 65535) {
    trace("Encoder::calc_vbv_delay (ERROR: Overflow): pic=%d, decoding_time=%.1f, t_EOP=%.1f, vbv-delay=%d\n",
          rc.pictures, rc.decoding_time, t_eop, v);
    v = 65535;
  }
  pichdr->vbv_delay = (fixed_mquant > 0 || vbr) ? 0xFFFF : v;
}

int Encoder::code_picture_rc(BitWriter& writer, int frame_number, Frame* frame) {
  rc_init_pict(frame);
  rc_make_pending();
  const double model_time = rc.decoding_time, model_ip = rc.next_ip_delay;
  const int peak = peak_vbv_delay;
  writer.align_zero();
  const bool rewindable = writer.bit_count() == 0;
  recodes = 0;
  rc_step = 0;
  auto pass = [&](int step) {
    apply_pending_params(1);
    rc.decoding_time = model_time;
    rc.next_ip_delay = model_ip;
    peak_vbv_delay = peak;
    writer.reset(1);
    // The coder quantises the blocks in place: each pass transforms again
    // (the prediction of a P or B picture is still in recon).
    transform_picture(pichdr->picture_coding_type == PIC_TYPE_I ? nullptr : recon.get(), frame);
    rc_step = step;
    ++recodes;
    const int n = vlc_picture(writer, frame_number, step);
    rc_step = 0;
    return n;
  };
  int size = vlc_picture(writer, frame_number, 0);
  const bool cbr = fixed_mquant <= 0 && vbr_mquant <= 0 && !vbr;
  const int type = pichdr->picture_coding_type;
  const int type1 = pichdr->coding_ext->q_scale_type;
  (void)type1;
  int step = 0;
  const int ti = type == PIC_TYPE_P ? 1 : type == PIC_TYPE_B ? 2 : 0;
  if (!baseline && cbr && rewindable && !type_known[ti] && size > 0) {
    // The first picture of its type since the estimates were reset: its
    // complexity was a guess. Learnt from this pass, the plan is made
    // again and the picture coded again when its quantiser moves.
    const int X = trunc_int(rc.Q * 0.5 / mb_count2 * 8.0 * size + 0.5);
    int* Xt = type == PIC_TYPE_I ? &rc.Xi : type == PIC_TYPE_P ? &rc.Xp : &rc.Xb;
    // The others' guesses keep their ratio to this one.
    const double scale = static_cast<double>(X) / std::max(*Xt, 1);
    for (int t = 0; t < 3; ++t) {
      int* x = t == 0 ? &rc.Xi : t == 1 ? &rc.Xp : &rc.Xb;
      if (t == ti || !type_known[t]) *x = std::max(1, trunc_int(*x * scale + 0.5));
    }
    *Xt = X;
    type_error[ti] = 0;
    const double planned = picture_q;
    plan_picture();
    rc_pending->Xi = rc.Xi;
    rc_pending->Xp = rc.Xp;
    rc_pending->Xb = rc.Xb;
    rc_pending->T = rc.T;
    rc_pending->target_per_mb = static_cast<double>(rc.T) / mb_count2;
    if (std::abs(picture_q / planned - 1.0) > 0.1) size = pass(0);
  }
  if (cbr && rewindable) {
    // The bits the decoder buffer holds when the picture is taken out: more
    // would underflow it, so the picture is coded coarser until it fits.
    const double bit_time = pts_per_bit > 0 ? pts_per_bit : 1.0;
    auto room = [&]() {
      return static_cast<int64_t>(std::floor(rc.decoding_time / bit_time)) - static_cast<int64_t>(rc.bits_total) - 64;
    };
    if (type == PIC_TYPE_I && size < i_min_bytes) {
      for (int prev = size, q = rc.Q; size < i_min_bytes && step > -30;) {
        size = pass(--step);
        if (size == prev && rc.Q == q) break;
        if (8LL * size > room()) {  // finer must not underflow
          size = pass(++step);
          break;
        }
        prev = size;
        q = rc.Q;
      }
    } else if (type == PIC_TYPE_I && size > i_max_bytes) {
      for (int prev = size, q = rc.Q; size > i_max_bytes && step < 30;) {
        size = pass(++step);
        if (size == prev && rc.Q == q) break;
        prev = size;
        q = rc.Q;
      }
    }
    for (int prev = -1; 8LL * size > room() && step < 30 && size != prev;) {
      prev = size;
      size = pass(++step);
    }
    if (8LL * size > room()) trace("Encoder::code_picture_rc (ERROR): picture %d underflows the buffer\n", rc.pictures);
  }
  int stuffing = rc_update_pict(8 * size);
  if (cbr && rewindable) {
    // Stuffing also keeps the buffer from overflowing before the next picture.
    const int64_t vbv_bits = seqhdr->get_vbv_buffer_size();
    const double next_time = rc.decoding_time + pts_per_picture;
    const int64_t arrived = static_cast<int64_t>(std::floor(next_time / pts_per_bit));
    const int64_t over = arrived - static_cast<int64_t>(rc.bits_total) - vbv_bits + 8 * 64;
    if (over > 8LL * stuffing) {
      const int extra = static_cast<int>((over + 7) / 8) - stuffing;
      stuffing += extra;
      rc.S += 8 * extra;
      rc.R -= 8 * extra;
      rc.gop_bits += 8 * extra;
      rc.bits_total += 8 * extra;
    }
  }
  if (stuffing > 0 && fixed_mquant <= 0) {
    writer.flush_bytes();
    for (int i = 0; i < stuffing; ++i) writer.put_bits(0, 8);
    rc.stuffing_total += stuffing;
  }
  rc.stuffing_credit = std::max(0, rc.stuffing_credit - 8 * stuffing);
  last_stuffing = stuffing > 0 && fixed_mquant <= 0 ? stuffing : 0;
  return size + last_stuffing;
}
