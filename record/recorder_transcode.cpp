// The record option's re-encoding of whole GOPs: every picture of a source
// GOP is decoded by a decoder of the Recorder's own and coded again with
// its own type, temporal reference, field flags and macroblock decisions,
// a reference picture with the B pictures that follow it in coded order at
// a time, each coded picture going straight to the writer.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "decode/picdec.h"
#include "encode/encoder.h"
#include "foundation/gop_header.h"
#include "foundation/trace.h"
#include "foundation/utils.h"
#include "record/recoder.h"
#include "record/recorder.h"
#include "mux/save.h"

namespace {

// More B pictures in a row than any stream has: a damaged picture table.
constexpr int kMaxQueuedB = 64;

// Offset of 00 00 01 code within the first n bytes; -1 when there is none.
int find_start(const uint8_t* d, int n, uint8_t code) {
  uint32_t found = 0;
  const int64_t at = n >= 4 ? utils_next_usr_start_code(0x100u | code, d, n, &found) : 0;
  return found ? static_cast<int>(at) : -1;
}

// closed_gop of the GOP header before the first picture (0 without one).
int gop_header_closed(const GOP& g) {
  const int n = std::min(g.get_pic_entry(0), g.valid_bytes());
  const int at = g.data && n > 0 ? find_start(g.data, n, 0xB8) : -1;
  GopHdr h;
  if (at < 0 || !h.decode(g.data + at, n - at)) return 0;
  return h.closed_gop ? 1 : 0;
}

// A decoded picture of the sequence (interlaced ones in whole field pairs
// of macroblocks); null without memory.
Frame* new_frame(const SeqHdr& seq) {
  const int round32 = seq.mpeg2 && !seq.get_progressive_sequence() ? 1 : 0;
  return new (std::nothrow)
      Frame(seq.get_horizontal_size(), seq.get_vertical_size(), seq.get_chroma_format() == 2 ? 2 : 1, round32);
}

}  // namespace

// Reorder-queue storage: a reference picture and the B pictures after it
// in coded order, decoded and waiting to be coded.
struct Recorder::ReorderQueue {
  SeqHdr seq;  // what the decoder was made for
  std::unique_ptr<PicDecoder> decoder;
  std::unique_ptr<Frame> ref[2];  // the decoder's references; ref[newer] is the later one
  int newer = 1;
  int refs = 0;                                // references decoded (0..2)
  std::vector<std::unique_ptr<Frame>> frames;  // B pictures of the group
  // Per picture of the group (0 the reference): the source's decisions
  // (empty: none usable) and picture header.
  std::vector<std::vector<MBInfo>> states;
  std::vector<PicHdr> headers;
  int mb_count = 0;
  int transcoded = 0;
  // The display field after the last GOP transcoded and its clip: the
  // references held are that GOP's.
  int next_field = -1;
  const MPEG_Clip* clip = nullptr;
  std::vector<uint8_t> out;  // the coded picture
};

void Recorder::ReorderQueueDeleter::operator()(ReorderQueue* q) const { delete q; }

int Recorder::pictures_transcoded() const { return queue_ ? queue_->transcoded : 0; }

void Recorder::free_reorder_queue() { queue_.reset(); }

bool Recorder::alloc_reorder_queue(const SeqHdr& seq, int m) {
  std::unique_ptr<ReorderQueue, ReorderQueueDeleter> q(new (std::nothrow) ReorderQueue);
  if (!q) return false;
  const int w = seq.get_horizontal_size(), h = seq.get_vertical_size();
  q->seq = seq;
  q->decoder = std::make_unique<PicDecoder>(&q->seq);
  q->decoder->enable_mb_info(1);
  for (auto& r : q->ref) {
    r.reset(new_frame(seq));
    if (!r || !r->y_plane()) return false;
  }
  const int queued = std::max(m, 1);
  q->states.resize(size_t(queued));
  q->headers.resize(size_t(queued));
  q->mb_count = ((h + 15) / 16) * ((w + 15) / 16);
  q->out.resize(size_t(encoder_->width) * size_t(encoder_->height) * 4 + 65536);
  queue_ = std::move(q);
  return true;
}

namespace {

// Decodes the coded bytes [s, e) of the GOP into frame; false (the frame
// left as it was) when nothing decodes.
bool decode_into(PicDecoder& dec, const GOP& g, int s, int e, Frame* frame, Frame* fwd, Frame* bwd) {
  if (s < 0 || e <= s || e > g.valid_bytes()) return false;
  return dec.decode_picture(g.data + s, e - s, frame, fwd, bwd) > 0;
}

}  // namespace

int Recorder::transcode_gop(const GOP& gop, Save* save) {
  if (!record_option_ || failed_ || !save) return 0;
  const int n = gop.pic_count;
  const int valid = gop.valid_bytes();
  if (n <= 0 || !gop.data || valid <= 0 || gop.get_pic_type(0) != PIC_TYPE_I) {
    trace("Recorder::transcode_gop (ERROR): a GOP without an I picture at its start\n");
    return 0;
  }
  for (int i = 0; i < n; ++i) {
    const int at = gop.get_pic_entry(i);
    if (at < 0 || at >= valid || (i > 0 && at <= gop.get_pic_entry(i - 1))) {
      trace("Recorder::transcode_gop (ERROR): picture %d lies outside the GOP's bytes\n", i);
      return 0;
    }
  }
  if (!open_encoder()) return 0;
  Encoder& enc = *encoder_;
  // The source's own sequence: the one in front of the GOP, else the clip's.
  SeqHdr seq = out_seq_;
  {
    const int at = find_start(gop.data, gop.get_pic_entry(0), 0xB3);
    SeqHdr s;
    if (at >= 0 && s.decode(gop.data + at, gop.get_pic_entry(0) - at) > 0)
      seq = s;
    else if (gops_list_)
      seq = gops_list_->get_seqhdr();
  }
  if (!queue_) {
    if (!alloc_reorder_queue(seq, enc.ref_distance)) {
      queue_.reset();
      fail("the transcoding queue cannot be made for %dx%d", seq.get_horizontal_size(), seq.get_vertical_size());
      return 0;
    }
    enc.rc_init_seq(0.0);
  }
  ReorderQueue& q = *queue_;
  // Whatever the Recorder still holds goes first.
  if (pending_ && !write_gop_output(save, out_es_.stream_id)) return 0;

  // The references held are those of the GOP before when this one follows
  // the last one transcoded; otherwise leading B pictures of an open GOP
  // need that GOP's references decoded first, and the output, having none
  // of its own, closes the GOP.
  const bool follows = q.refs > 0 && q.clip == clip_ && q.next_field == gop.first_field;
  const int source_closed = gop_header_closed(gop);
  const bool leading_b = n > 1 && gop.get_pic_type(1) == PIC_TYPE_B;
  const int closed = source_closed || !follows ? 1 : 0;
  if (leading_b && !source_closed && !follows) {
    if (!gops_list_) open_clip();
    GOP prev;
    bool primed = false;
    if (gops_list_ && gop.first_frame() > 0 && gops_list_->get_gop(gop.first_frame() - 1, &prev, 1, 0) >= 0 &&
        prev.data && prev.first_field + prev.total_fields == gop.first_field) {
      q.refs = 0;
      for (int i = 0; i < prev.pic_count; ++i) {
        if (prev.get_pic_type(i) == PIC_TYPE_B) continue;
        const int s = i == 0 ? 0 : prev.get_pic_entry(i);
        const int e = i + 1 < prev.pic_count ? prev.get_pic_entry(i + 1) : prev.valid_bytes();
        Frame* target = q.ref[1 - q.newer].get();
        if (decode_into(*q.decoder, prev, s, e, target, q.refs ? q.ref[q.newer].get() : nullptr, nullptr)) {
          q.newer = 1 - q.newer;
          q.refs = std::min(q.refs + 1, 2);
        }
      }
      primed = q.refs > 0;
    }
    if (!primed) {
      ++warnings_;
      trace("Recorder::transcode_gop (WARNING): the leading B pictures miss the GOP before\n");
    }
  }

  // Rate control over the GOP's pictures (its frames when pulldown makes
  // them show more than two fields each).
  int np = -1;
  for (int i = 0; i < n; ++i) np += gop.get_pic_type(i) != PIC_TYPE_B;
  int nb = n - 1 - np;
  if (gop.total_fields != 2 * n && n > 0) {
    const int frames = gop.total_fields / 2;
    np = int(double(frames) / n * np + 0.5);
    nb = std::max(frames - np - 1, 0);
  }
  enc.rc_init_gop(np, nb, 0.0);
  // Quantisers: where the output's rate is not below the source's, each
  // picture's own (more bits would show no more of it, and rate control
  // would first have to find its level); else rate control at the
  // output's rate. Runs around cuts set their own and get it back.
  const int saved_fixed = enc.fixed_mquant, saved_constant = enc.constant_mquant;
  const bool source_quant = out_seq_.get_bit_rate() >= q.seq.get_bit_rate();
  enc.fixed_mquant = 0;
  if (source_quant) enc.constant_mquant = 1;

  const bool mpeg2_out = out_seq_.mpeg2 != 0;
  const bool interlaced_out = mpeg2_out && !progressive_seq_;
  int fields = 0, handled = 0;
  bool ok = true;
  // Codes picture i of the group (slot 0 the reference) and hands it over.
  const auto code_one = [&](int i, int slot, Frame* cur, Frame* fwd, Frame* bwd, int distance) {
    const PicHdr& h = q.headers[size_t(slot)];
    const int type = gop.get_pic_type(i);
    if (mpeg2_out) enc.copy_picture_coding_ext(&h);
    enc.pichdr->temporal_reference = h.temporal_reference & 0x3FF;
    int tff = h.get_top_field_first();
    if (interlaced_out && field_order_ != 0) tff = field_order_ == 1 ? 1 : 0;
    cur->set_top_field_first(tff);
    cur->set_progressive_frame(h.get_progressive_frame());
    cur->set_stream_frame(output_frame_ + gop.get_pic_display_frame(i));
    // The source's decisions fit unless the output closes a GOP the
    // source left open: its leading B pictures are searched again.
    const std::vector<MBInfo>& st = q.states[size_t(slot)];
    const bool own = !st.empty() && !(type == PIC_TYPE_B && closed && !source_closed && slot > 0 && enc.closed_gop);
    if (source_quant)
      enc.fixed_mquant = enc.quant_code_of_value(cur->mean_quantiser() * (q.seq.mpeg2 ? 1.0 : 2.0), type);
    BitWriter bw(q.out.data(), q.out.size());
    const int bytes = enc.encode_picture(cur, fwd, bwd, type, distance, bw, 0, own ? st.data() : nullptr,
                                         own ? int(st.size()) : 0, 1);
    const int size = bytes > 0 ? int(bw.flush()) : 0;
    const int pic = size > 0 ? find_start(q.out.data(), size, 0x00) : -1;
    if (pic < 0) {
      fail("GOP at frame %d: picture %d cannot be coded again", gop.first_frame(), i);
      return false;
    }
    // Field counts stay the source's: the repeated field too.
    if (mpeg2_out && h.get_repeat_first_field())
      set_picture_coding_ext_flags(q.out.data() + pic, size - pic, tff, 1);
    // An I picture brings its sequence and GOP headers as its header part.
    const int head = type == PIC_TYPE_I ? pic : 0;
    uint8_t* d = q.out.data() + (pic - head);
    const int body = size - pic;
    if (save->save_vbs(d, body, head, out_es_.stream_id) != body + head || save->failed()) {
      fail("%s", save->write_failure().c_str());
      return false;
    }
    fields += gop.get_pic_fields(i);
    ++handled;
    return true;
  };
  // Keeps the decoder's decisions and header of the picture just decoded.
  const auto keep = [&](int slot, bool decoded) {
    if (size_t(slot) >= q.states.size()) {
      q.states.resize(size_t(slot) + 1);
      q.headers.resize(size_t(slot) + 1);
    }
    std::vector<MBInfo>& st = q.states[size_t(slot)];
    st.clear();
    const PicDecoder& dec = *q.decoder;
    if (decoded && dec.get_mb_info() && dec.get_mb_cols() == enc.mb_width &&
        dec.get_picture_header().get_picture_structure() == PIC_FRAME)
      st.assign(dec.get_mb_info(), dec.get_mb_info() + dec.get_mb_count());
    q.headers[size_t(slot)] = dec.get_picture_header();
  };

  for (int r = 0; ok && r < n;) {
    int end = r + 1;
    while (end < n && gop.get_pic_type(end) == PIC_TYPE_B) ++end;
    if (end - r - 1 > kMaxQueuedB) {
      fail("GOP at frame %d: %d B pictures in a row", gop.first_frame(), end - r - 1);
      ok = false;
      break;
    }
    // The reference picture, into the older of the decoder's two frames.
    const int ref_type = gop.get_pic_type(r);
    Frame* target = q.ref[1 - q.newer].get();
    Frame* fwd = q.refs ? q.ref[q.newer].get() : nullptr;
    const int s = r == 0 ? 0 : gop.get_pic_entry(r);
    const bool decoded = decode_into(*q.decoder, gop, s, r + 1 < n ? gop.get_pic_entry(r + 1) : valid, target,
                                     ref_type == PIC_TYPE_P ? fwd : nullptr, nullptr);
    if (!decoded) {
      // Concealed: the picture before stands in.
      ++warnings_;
      trace("Recorder::transcode_gop (WARNING): GOP at frame %d: picture %d does not decode\n", gop.first_frame(), r);
      if (fwd) target->copy_data(fwd, 0);
    }
    keep(0, decoded);
    if (!decoded) {
      q.headers[0].picture_coding_type = ref_type;
      q.headers[0].temporal_reference = gop.get_pic_temporal_reference(r);
    }
    q.newer = 1 - q.newer;
    q.refs = std::min(q.refs + 1, 2);
    Frame* older = q.refs > 1 ? q.ref[1 - q.newer].get() : q.ref[q.newer].get();
    Frame* newer = q.ref[q.newer].get();
    // The B pictures after it, shown before it.
    const int count = end - r - 1;
    while (int(q.frames.size()) < count) {
      std::unique_ptr<Frame> f(new_frame(q.seq));
      if (!f || !f->y_plane()) {
        fail("no memory for the transcoding queue");
        ok = false;
        break;
      }
      q.frames.push_back(std::move(f));
    }
    for (int j = 0; ok && j < count; ++j) {
      const int i = r + 1 + j;
      Frame* bf = q.frames[size_t(j)].get();
      const bool bd = decode_into(*q.decoder, gop, gop.get_pic_entry(i), i + 1 < n ? gop.get_pic_entry(i + 1) : valid,
                                  bf, older, newer);
      if (!bd) {
        ++warnings_;
        trace("Recorder::transcode_gop (WARNING): GOP at frame %d: picture %d does not decode\n", gop.first_frame(),
              i);
        bf->copy_data(newer, 0);
      }
      keep(j + 1, bd);
      if (!bd) {
        q.headers[size_t(j) + 1].picture_coding_type = PIC_TYPE_B;
        q.headers[size_t(j) + 1].temporal_reference = gop.get_pic_temporal_reference(i);
      }
    }
    if (!ok) break;
    // The GOP's I picture and its leading B pictures carry the GOP's
    // closed flag; later B pictures may look back.
    enc.closed_gop = r == 0 ? closed : 0;
    ok = code_one(r, 0, newer, older, newer, 0);
    for (int j = 0; ok && j < count; ++j) {
      const int tr_ref = q.headers[0].temporal_reference, tr_b = q.headers[size_t(j) + 1].temporal_reference;
      const int distance = std::clamp(count - (tr_ref - tr_b) + 1, 1, 8);
      ok = code_one(r + 1 + j, j + 1, q.frames[size_t(j)].get(), older, newer, distance);
    }
    r = end;
  }
  enc.closed_gop = 0;
  enc.fixed_mquant = saved_fixed;
  enc.constant_mquant = saved_constant;
  save->vbr_flush(0);
  q.next_field = ok ? gop.first_field + gop.total_fields : -1;
  q.clip = clip_;
  if (!ok) return 0;
  q.transcoded += handled;
  total_fields_ += fields;
  output_frame_ = total_fields_ / 2;
  reencoded_ += handled;
  ++gops_;
  return handled;
}
