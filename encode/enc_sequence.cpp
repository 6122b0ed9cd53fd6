#include "encode/enc_sequence.h"

#include <cstring>

#include "foundation/trace.h"

SequenceEncoder::SequenceEncoder(Encoder& encoder, int n, int m, bool closed_gop, bool two_stage, Sink sink)
    : enc_(encoder),
      n_(n < 1 ? 1 : n),
      m_(m < 1 ? 1 : m),
      closed_(closed_gop),
      two_stage_(two_stage),
      sink_(std::move(sink)) {
  if (m_ > n_) m_ = n_;
  buffer_.resize(static_cast<size_t>(enc_.width) * enc_.height * 4 + (1 << 16));
}

std::unique_ptr<Frame> SequenceEncoder::take(const Frame& f) {
  std::unique_ptr<Frame> out;
  if (!spare_.empty()) {
    out = std::move(spare_.back());
    spare_.pop_back();
  } else {
    const int round32 = f.padded_height() != ((f.get_height() + 15) & ~15);
    out = std::make_unique<Frame>(f.get_width(), f.get_height(), f.chroma_format(), round32);
  }
  std::memcpy(out->buffer(), f.buffer(), static_cast<size_t>(f.y_size() + 2 * f.c_size()));
  out->copy_picture_info(&f);
  return out;
}

void SequenceEncoder::start_gop(long long first_number, long long i_number) {
  gop_first_ = first_number;
  // Budget of the pictures of this GOP in coded order: the I picture, the B
  // pictures before it that follow it in the stream, then the P and B
  // pictures up to the last P; the B pictures after that lead the next GOP.
  // (The first GOP has no leading B pictures: counting them would spend
  // two pictures' bits the stream never gets back.)
  int np = 0, nb = 0, last_p = 0;
  for (int k = 1; k < n_; ++k)
    if (k % m_ == 0) ++np, last_p = k;
  for (int k = 1; k < last_p; ++k) nb += k % m_ != 0;
  nb += static_cast<int>(i_number - first_number);
  enc_.rc_init_gop(np, nb, 0.0);
}

bool SequenceEncoder::code(Frame* cur, int type, int distance, long long number, int stage) {
  enc_.pichdr->temporal_reference = static_cast<int>((number - gop_first_) & 1023);
  Frame* fwd = type == PIC_TYPE_P ? newer_.get() : type == PIC_TYPE_B ? older_.get() : nullptr;
  Frame* bwd = type == PIC_TYPE_B ? newer_.get() : nullptr;
  BitWriter bw(buffer_.data(), buffer_.size());
  int bytes;
  if (stage >= 0) {
    bytes = enc_.encode_picture(cur, fwd, bwd, type, distance, bw, stage, nullptr, 1);
  } else if (type == PIC_TYPE_P && scene_test_) {
    enc_.encode_picture(cur, fwd, bwd, type, distance, bw, 1, nullptr, 0);
    if (scene_test_(enc_)) {
      scene_cut_ = true;  // push codes it again as I
      return false;
    }
    bytes = enc_.encode_picture(cur, fwd, bwd, type, distance, bw, 2, nullptr, 1);
  } else if (two_stage_) {
    enc_.encode_picture(cur, fwd, bwd, type, distance, bw, 1, nullptr, 0);
    bytes = enc_.encode_picture(cur, fwd, bwd, type, distance, bw, 2, nullptr, 1);
  } else {
    bytes = enc_.encode_picture(cur, fwd, bwd, type, distance, bw, 0, nullptr, 1);
  }
  if (bytes <= 0) {
    trace("SequenceEncoder::code (ERROR): picture %lld could not be coded\n", number);
    return false;
  }
  CodedPicture p;
  p.data = buffer_.data();
  p.size = bw.flush();
  p.type = type;
  p.number = number;
  p.bytes = bytes;
  ++coded_;
  return sink_(p);
}

void SequenceEncoder::take_reference(std::unique_ptr<Frame> f) {
  if (older_) spare_.push_back(std::move(older_));
  older_ = std::move(newer_);
  newer_ = std::move(f);
}

int SequenceEncoder::old_scene_b(Frame* scene) {
  if (!newer_ || !enc_.mesearch) return 0;
  BitWriter bw(buffer_.data(), buffer_.size());
  // Estimated as B pictures between the old scene's last reference and the
  // new scene's first picture: which of the two predicts them better.
  const auto old_scene = [&](size_t j) {
    enc_.closed_gop = 0;
    enc_.search_given = 1;  // the new scene's picture is no reference yet
    enc_.encode_picture(pending_[j].get(), newer_.get(), scene, PIC_TYPE_B, static_cast<int>(j) + 1, bw, 1, nullptr,
                        0);
    enc_.search_given = 0;
    return enc_.mesearch->last_cost < enc_.mesearch->last_cost_bwd;
  };
  if (!old_scene(0)) return 0;
  enc_.save_mbi();
  return pending_.size() >= 2 && old_scene(1) ? 2 : 1;
}

bool SequenceEncoder::code_old_scene_b(int k) {
  enc_.closed_gop = 0;
  if (k == 2) {
    // The second ends the old scene as a P picture from its own estimation
    // (still in the encoder), the first lies between two old-scene
    // references and looks forward only.
    enc_.reset_mbi_to_forward();
    if (!code(pending_[1].get(), PIC_TYPE_P, 2, pending_numbers_[1], 2)) return false;
    take_reference(std::move(pending_[1]));
    if (enc_.load_mbi()) return false;
    enc_.reset_mbi_to_forward();
    if (!code(pending_[0].get(), PIC_TYPE_B, 1, pending_numbers_[0], 2)) return false;
    spare_.push_back(std::move(pending_[0]));
  } else {
    if (enc_.load_mbi()) return false;
    enc_.reset_mbi_to_forward();
    if (!code(pending_[0].get(), PIC_TYPE_P, 1, pending_numbers_[0], 2)) return false;
    take_reference(std::move(pending_[0]));
  }
  // Any B pictures after them stay for the new GOP.
  pending_.erase(pending_.begin(), pending_.begin() + k);
  pending_numbers_.erase(pending_numbers_.begin(), pending_numbers_.begin() + k);
  return true;
}

bool SequenceEncoder::code_new_scene(Frame* cur, long long number, bool* closed) {
  scene_cut_ = false;
  int k = 0;
  if (examine_b_ && !pending_.empty()) {
    k = old_scene_b(cur);
    if (k > 0) {
      if (!code_old_scene_b(k)) return false;
      // The old scene's complexities say nothing of the new one.
      enc_.rc_init_seq(0.0);
    }
  }
  *closed = k > 0;
  gop_base_ = number;
  const long long first = pending_.empty() ? number : pending_numbers_.front();
  start_gop(first, number);
  enc_.closed_gop = *closed ? 1 : 0;
  cur->set_stream_frame(static_cast<int>(first));
  return code(cur, PIC_TYPE_I, static_cast<int>(pending_.size()) + 1, number);
}

bool SequenceEncoder::code_pending() {
  for (size_t j = 0; j < pending_.size(); ++j) {
    if (!code(pending_[j].get(), PIC_TYPE_B, static_cast<int>(j) + 1, pending_numbers_[j])) return false;
    spare_.push_back(std::move(pending_[j]));
  }
  pending_.clear();
  pending_numbers_.clear();
  enc_.closed_gop = 0;
  return true;
}

bool SequenceEncoder::push(const Frame& frame) {
  const long long i = next_++;
  const long long k = (i - gop_base_) % n_;
  const int type = k == 0 ? PIC_TYPE_I : k % m_ == 0 ? PIC_TYPE_P : PIC_TYPE_B;
  if (type == PIC_TYPE_B && i > 0) {
    pending_.push_back(take(frame));
    pending_numbers_.push_back(i);
    return true;
  }
  std::unique_ptr<Frame> cur = take(frame);
  const int kind = i == 0 ? PIC_TYPE_I : type == PIC_TYPE_B ? PIC_TYPE_I : type;
  if (kind == PIC_TYPE_I) {
    const long long first = pending_.empty() ? i : pending_numbers_.front();
    start_gop(first, i);
    // The first GOP has nothing before it: closed as well.
    enc_.closed_gop = closed_ || i == 0 ? 1 : 0;
    cur->set_stream_frame(static_cast<int>(first));
  } else {
    enc_.closed_gop = 0;
  }
  const int distance = static_cast<int>(pending_.size()) + 1;
  bool scene_closed = false;
  // A new scene: the picture opens a GOP of its own; the B pictures before
  // it look back at the old scene's last reference unless they were
  // examined and the new GOP closed.
  if (!code(cur.get(), kind, distance, i) && (!scene_cut_ || !code_new_scene(cur.get(), i, &scene_closed)))
    return false;
  take_reference(std::move(cur));
  // B pictures before an I picture belong to its GOP and, closed, look back only.
  enc_.closed_gop = kind == PIC_TYPE_I && enc_.closed_gop && !pending_.empty() ? 1 : 0;
  if (enc_.closed_gop && !closed_) enc_.closed_gop = 0;
  if (scene_closed && !pending_.empty()) enc_.closed_gop = 1;
  return code_pending();
}

bool SequenceEncoder::finish() {
  if (!pending_.empty()) {
    // The last picture has no later reference: it becomes P.
    std::unique_ptr<Frame> last = std::move(pending_.back());
    const long long number = pending_numbers_.back();
    pending_.pop_back();
    pending_numbers_.pop_back();
    enc_.closed_gop = 0;
    enc_.rc_extend_gop(1, static_cast<int>(pending_.size()));
    bool scene_closed = false;
    if (!code(last.get(), PIC_TYPE_P, static_cast<int>(pending_.size()) + 1, number) &&
        (!scene_cut_ || !code_new_scene(last.get(), number, &scene_closed)))
      return false;
    take_reference(std::move(last));
    enc_.closed_gop = scene_closed && !pending_.empty() ? 1 : 0;
    if (!code_pending()) return false;
  }
  if (!coded_) return true;
  static const uint8_t kEnd[4] = {0, 0, 1, 0xB7};
  CodedPicture p;
  p.data = kEnd;
  p.size = 4;
  p.number = next_;
  return sink_(p);
}
