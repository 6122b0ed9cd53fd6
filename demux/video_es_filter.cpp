#include "demux/video_es_filter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "foundation/rewriters.h"
#include "foundation/start_code.h"
#include "foundation/timecode.h"
#include "foundation/trace.h"

namespace {

// A header group longer than this (endless user data, damage) is judged on
// its first bytes, so the buffer stays bounded.
constexpr int kMaxGroup = 1 << 16;
constexpr int kMaxInsertedSeq = 2048;

bool is_header_extension(uint8_t code) { return code == 0xB5 || code == 0xB2; }

}  // namespace

VideoESFilter::VideoESFilter() { resize_data(2048); }
VideoESFilter::~VideoESFilter() = default;

void VideoESFilter::set_seqhdr(const SeqHdr& header) {
  seq_ = header;
  have_seq_ = header.invalid ? 0 : 1;
  seq_bytes_.clear();
  if (have_seq_) {
    const double r = header.get_frame_rate();
    if (r > 0) {
      rate_ = r;
      time_.set_frame_rate(r);
      gop_.set_frame_rate(r);
    }
  }
}

bool VideoESFilter::resize_data(int64_t size) {
  if (size <= static_cast<int64_t>(buf_.size())) return false;
  const int64_t want = ((size + 2047) & ~int64_t{2047}) + 1024;
  if (want > (int64_t{1} << 30)) {
    trace("VideoESFilter::resize_data (ERROR): %lld bytes refused\n", static_cast<long long>(want));
    return false;
  }
  try {
    buf_.resize(static_cast<size_t>(want));
  } catch (const std::bad_alloc&) {
    trace("VideoESFilter::resize_data (ERROR): out of memory for %lld bytes\n", static_cast<long long>(want));
    return false;
  }
  return true;
}

void VideoESFilter::compact() {
  // Bytes handed out last time go; the rest moves to the start.
  if (out_ <= 0) return;
  std::memmove(buf_.data(), buf_.data() + out_, static_cast<size_t>(held_ - out_));
  held_ -= out_;
  scan_ = std::max(scan_ - out_, 0);
  if (gop_at_ >= 0) gop_at_ = gop_at_ >= out_ ? gop_at_ - out_ : -1;
  out_ = 0;
}

bool VideoESFilter::insert_bytes(int pos, const uint8_t* src, int n) {
  if (held_ + n > static_cast<int>(buf_.size()) && !resize_data(int64_t{held_} + n)) return false;
  std::memmove(buf_.data() + pos + n, buf_.data() + pos, static_cast<size_t>(held_ - pos));
  std::memcpy(buf_.data() + pos, src, static_cast<size_t>(n));
  held_ += n;
  return true;
}

uint32_t VideoESFilter::gop_word_for_fields() const {
  if (count_pictures_) {
    const int64_t frame = tc25_to_frame(first_word_, tc_rate_) + coded_halves_ / 2;
    return tc25_word_from_frame(static_cast<int>(frame), tc_rate_, drop_);
  }
  const int64_t frame = first_frame_ + (fields_total_ + 1) / 2;
  return tc25_word_from_frame(static_cast<int>(frame), rate_, drop_);
}

void VideoESFilter::on_sequence(int p, int span) {
  ++seq_count_;
  seq_since_pic_ = 1;
  gop_since_pic_ = 0;
  gop_at_ = -1;
  SeqHdr h;
  if (span < 12 || h.decode(buf_.data() + p, span) <= 0) {
    ++seq_failed_;
    trace("VideoESFilter::filter_data (ERROR): sequence header %d cannot be decoded\n", seq_count_);
    return;
  }
  const double r = h.get_frame_rate();
  if (rate_ <= 0 && r > 0) {
    rate_ = r;
    time_.set_frame_rate(r);
    gop_.set_frame_rate(r);
  }
  seq_ = std::move(h);
  have_seq_ = 1;
  // Inserted copies are the stream's own bytes (extensions, matrices and all).
  const int group = span - 4;
  if (group >= 12 && group <= kMaxInsertedSeq)
    seq_bytes_.assign(buf_.data() + p, buf_.data() + p + group);
  else
    seq_bytes_.clear();
}

void VideoESFilter::on_gop(int p, int span) {
  ++gop_count_;
  gop_since_pic_ = 1;
  gop_at_ = insert_ ? p : -1;
  gop_pictures_ = 0;
  gop_fields_ = 0;
  GopHdr g;
  if (span < 8 || g.decode(buf_.data() + p, span) <= 0) {
    ++gop_failed_;
    trace("VideoESFilter::filter_data (ERROR): GOP header %d cannot be decoded\n", gop_count_);
    return;
  }
  const uint32_t word = g.time_code & 0x1FFFFFFu;
  drop_ = static_cast<int>((word >> 24) & 1u);
  if (!have_first_gop_) {
    have_first_gop_ = 1;
    first_frame_ = rate_ > 0 ? tc25_to_frame(word, rate_) : 0;
    first_word_ = word;
    fields_total_ = 0;
    coded_halves_ = 0;
    time_.set_gop_bits(word);
    gop_ = g;
    return;
  }
  gop_ = g;
  if (rate_ <= 0) return;  // no rate to count frames with
  const int64_t d = int64_t{tc25_to_frame(word, rate_)} - first_frame_;
  // Either rounding of the displayed fields is right; so is a count of coded
  // pictures, which some encoders use for pulled-down film.
  const bool by_fields = d == fields_total_ / 2 || d == (fields_total_ + 1) / 2;
  // Pulled-down film may count its pictures at the film rate instead.
  bool by_pictures = false;
  for (const double r : {rate_, 24.0}) {
    if (r != rate_ && !(rate_ > 29.96 && rate_ < 30.0)) continue;
    if (int64_t{tc25_to_frame(word, r)} - tc25_to_frame(first_word_, r) == coded_halves_ / 2) {
      by_pictures = true;
      if (!by_fields) tc_rate_ = r;
      break;
    }
  }
  if (by_pictures && !by_fields) count_pictures_ = 1;
  if (gop_failed_ == 0 && (by_fields || by_pictures)) return;
  const uint32_t want = gop_word_for_fields();
  time_.set_gop_bits(want);
  if (want != word && utils_set_gop_time_code(buf_.data() + p, span, want)) ++rewrite_count_;
}

int VideoESFilter::on_picture(int p, int span) {
  ++pic_count_;
  const int prog = have_seq_ ? seq_.get_progressive_sequence() : 0;
  int fields = 2;
  if (pic_.decode(buf_.data() + p, span) > 0 && !(pic_.errors & PIC_ERR_FATAL)) {
    fields = pic_.get_field_count(prog);
  } else {
    ++pic_failed_;
    trace("VideoESFilter::filter_data (ERROR): picture %d cannot be decoded\n", pic_count_);
    pic_.picture_coding_type = 0;
  }
  // The second field of a pair belongs to its first field's headers.
  const bool field_pic = pic_.picture_coding_type != 0 && pic_.get_picture_structure() != PIC_FRAME;
  const bool second_field = field_pic && first_field_open_;
  first_field_open_ = field_pic && !second_field;

  int shift = 0;
  if (insert_ && pic_.picture_coding_type == PIC_TYPE_I && !second_field) {
    if (!seq_since_pic_ && have_seq_) {
      uint8_t tmp[kMaxInsertedSeq];
      const uint8_t* src = seq_bytes_.data();
      int n = static_cast<int>(seq_bytes_.size());
      if (n == 0) {
        n = seq_.encode(tmp, sizeof tmp, 0);
        src = tmp;
      }
      // A sequence header goes before the GOP header that the picture has.
      const int at = gop_since_pic_ && gop_at_ >= 0 ? gop_at_ : p;
      if (n >= 12 && insert_bytes(at, src, n)) {
        shift += n;
        ++insert_count_;
        ++seq_count_;
      }
    }
    if (!gop_since_pic_) {
      if (!have_first_gop_) {
        have_first_gop_ = 1;
        first_frame_ = 0;
        fields_total_ = 0;
        coded_halves_ = 0;
      }
      const uint32_t word = rate_ > 0 ? gop_word_for_fields() : 0x800u;
      const uint8_t g[8] = {0,
                            0,
                            1,
                            0xB8,
                            static_cast<uint8_t>(word >> 17),
                            static_cast<uint8_t>(word >> 9),
                            static_cast<uint8_t>(word >> 1),
                            static_cast<uint8_t>((word & 1u) << 7)};
      if (insert_bytes(p + shift, g, 8)) {
        shift += 8;
        ++insert_count_;
        ++gop_count_;
      }
    }
  }
  if (have_first_gop_) {
    fields_total_ += fields;
    coded_halves_ += field_pic ? 1 : 2;
  }
  gop_fields_ += fields;
  ++gop_pictures_;
  seq_since_pic_ = 0;
  gop_since_pic_ = 0;
  gop_at_ = -1;
  return shift;
}

int VideoESFilter::scan(bool at_end) {
  for (;;) {
    StartCodeCursor sc(buf_.data(), held_);
    sc.seek(scan_);
    if (!sc.next()) {
      scan_ = std::max(scan_, held_ - 3);
      break;
    }
    int p = static_cast<int>(sc.offset());
    const int code = sc.code();
    if (code != 0xB3 && code != 0xB8 && code != 0x00) {
      if (code > 0xAF && !is_header_extension(static_cast<uint8_t>(code)) && code != 0xB7)
        trace("VideoESFilter::filter_data: start code 0x%02X skipped\n", code);
      scan_ = p + 3;
      continue;
    }
    // The group runs to the next start code that is not an extension or
    // user data; its 4 bytes are passed along so decoders see the end.
    int span;
    if (sc.find_if([](uint8_t c) { return !is_header_extension(c); })) {
      span = static_cast<int>(sc.offset()) + 4 - p;
    } else if (at_end || held_ - p >= kMaxGroup) {
      span = held_ - p;
    } else {
      scan_ = p;
      break;  // wait for the rest of the group
    }
    span = std::min(span, kMaxGroup);
    if (code == 0xB3) {
      on_sequence(p, span);
    } else if (code == 0xB8) {
      on_gop(p, span);
    } else {
      p += on_picture(p, span);
    }
    scan_ = p + 3;
  }
  // A GOP header may still get a sequence header in front of it.
  if (gop_at_ >= 0 && held_ - gop_at_ > kMaxGroup) gop_at_ = -1;
  if (at_end) return held_;
  const int ready = gop_at_ >= 0 ? std::min(scan_, gop_at_) : scan_;
  return std::max(ready, 0);
}

const uint8_t* VideoESFilter::filter_data(const uint8_t* data, int length, int* out_length, int insert) {
  insert_ = insert ? 1 : 0;
  compact();
  if (data && length > 0) {
    if (held_ + length > static_cast<int>(buf_.size()) && !resize_data(int64_t{held_} + length)) {
      *out_length = 0;
      return nullptr;
    }
    std::memcpy(buf_.data() + held_, data, static_cast<size_t>(length));
    held_ += length;
  }
  out_ = scan(false);
  *out_length = out_;
  return buf_.data();
}

const uint8_t* VideoESFilter::take_output(int* out_length) {
  compact();
  out_ = scan(true);
  *out_length = out_;
  return buf_.data();
}
