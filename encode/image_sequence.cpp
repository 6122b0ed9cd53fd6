#include "encode/image_sequence.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "encode/encoder.h"
#include "foundation/bitstream.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/trace.h"
#include "picture/frame.h"
#include "picture/image.h"

const int AddImageSequence::kQuantSteps[] = {2, 3, 4, 6, 8, 12, 16, 24, 31};

namespace {

// Samples beyond the shown area repeat its last column and row, so the
// padding of the coded size costs few bits and never bleeds into the picture.
void replicate_padding(Frame& f, int width, int height) {
  auto plane = [](uint8_t* p, int stride, int rows, int w, int h) {
    if (w < 1 || h < 1) return;
    for (int y = 0; y < rows; ++y) {
      uint8_t* d = p + static_cast<size_t>(y) * stride;
      if (y >= h) std::memcpy(d, p + static_cast<size_t>(h - 1) * stride, static_cast<size_t>(stride));
      else if (w < stride) std::memset(d + w, d[w - 1], static_cast<size_t>(stride - w));
    }
  };
  const int cw = (width + 1) / 2, ch = f.chroma_format() == 2 ? height : (height + 1) / 2;
  plane(f.y_plane(), f.padded_width(), f.padded_height(), width, height);
  plane(f.cb_plane(), f.c_width(), f.c_height(), cw, ch);
  plane(f.cr_plane(), f.c_width(), f.c_height(), cw, ch);
}

}  // namespace

AddImageSequence::AddImageSequence(const char* path, int* failed) {
  int bad = 1;
  if (!path || !*path) {
    trace("AddImageSequence (ERROR): nil input(s)\n");
  } else if (!(file_ = std::fopen(path, "wb"))) {
    trace("AddImageSequence (ERROR): fopen () failed for <%s>\n", path);
  } else {
    file_name_ = path;
    bad = 0;
  }
  if (failed) *failed = bad;
}

AddImageSequence::~AddImageSequence() { close(); }

int AddImageSequence::close() {
  if (!file_) return write_failed_;
  if (bytes_written_ > 0 && !write_failed_) {
    static const uint8_t kEnd[4] = {0, 0, 1, 0xB7};
    if (std::fwrite(kEnd, 1, 4, file_) == 4) bytes_written_ += 4;
    else write_failed_ = 1;
  }
  if (std::fclose(file_) != 0) write_failed_ = 1;
  file_ = nullptr;
  if (write_failed_) trace("AddImageSequence (ERROR): <%s> was not written whole\n", file_name_.c_str());
  return write_failed_;
}

int AddImageSequence::set_aspect_ratio(int code) {
  const int old = aspect_ratio_code_;
  if (code != old) {
    aspect_ratio_code_ = code;
    if (encoder_ && encoder_->seqhdr && code > 0) encoder_->seqhdr->set_aspect_ratio_information(code);
  }
  return old;
}

int AddImageSequence::init(const VideoInfo& info) {
  SeqHdr seq;
  seq.setup(info.width, info.height, info.bit_rate, info.frame_rate, info.mpeg2);
  if (info.mpeg2) {
    if (info.chroma_format == 2) seq.set_chroma_format(2);
    // Level (and with it the decoder buffer) from the picture size.
    const bool main = info.width <= 720 && info.height <= 576;
    const int level = main ? 8 : info.width <= 1440 ? 6 : 4;
    seq.seq_ext->profile_and_level_indication = (seq.seq_ext->profile_and_level_indication & 0xF0) | level;
    seq.vbv_buffer_size = main ? 112 : level == 6 ? 448 : 597;
  }
  RecordVideoSetup params;
  params.mpeg1 = info.mpeg2 ? 0 : 1;
  // Every picture is its own closed GOP.
  params.gop_size = 1;
  params.ref_distance = 0;
  params.fixed_mquant = kQuantSteps[0];
  params.fixed_mq_max_bit_rate = info.bit_rate;
  params.constant_mquant = 1;
  params.progressive = 1;
  params.seqhdr = &seq;
  int result = 1;
  encoder_.reset(new (std::nothrow) Encoder(params, &result));
  if (!encoder_ || result) {
    encoder_.reset();
    return 1;
  }
  if (aspect_ratio_code_ > 0 && encoder_->seqhdr) encoder_->seqhdr->set_aspect_ratio_information(aspect_ratio_code_);
  // Room for the worst intra picture of the coded size; one that does not
  // fit is coded again coarser.
  const size_t samples = static_cast<size_t>(encoder_->width) * encoder_->height;
  buffer_.assign((samples * 4 + 65536 + 1023) & ~size_t{1023}, 0);
  return 0;
}

int AddImageSequence::add_image(Image* image) {
  if (!image || !image->buffer) {
    trace("AddImageSequence::add_image (ERROR): image=nil\n");
    return 0;
  }
  if (!file_ || write_failed_) {
    trace("AddImageSequence::add_image (ERROR): not initialized\n");
    return 0;
  }
  if (!encoder_) {
    VideoInfo info;
    const int pw = image->padded_width, ph = image->padded_height;
    const int chroma = image->chroma_format == 2 ? 2 : 1;
    // MPEG-1 holds 4:2:0 only.
    info.mpeg2 = (pw < 353 && ph < 289 && chroma == 1) ? 0 : 1;
    info.video_type = info.mpeg2 ? 3 : 2;
    info.width = image->display_width;
    info.height = image->display_height;
    info.chroma_format = chroma;
    info.frame_rate = (ph == 288 || ph == 576) ? 25.0 : 30000.0 / 1001.0;
    info.frame_rate_code = info.frame_rate == 25.0 ? 3 : 4;
    info.bit_rate = info.mpeg2 ? 9800000 : 4000000;
    info.stream_word = 1;
    if (init(info)) {
      trace("AddImageSequence::add_image (ERROR): init () failed\n");
      return 0;
    }
  }
  Encoder& enc = *encoder_;
  Frame wrapped;
  wrapped.attach_image(image);
  // The coded size is the encoder's; another picture size is centred
  // (cropped or bordered, never scaled).
  Frame* cur = &wrapped;
  std::unique_ptr<Frame> work;
  if (wrapped.padded_width() != enc.width || wrapped.padded_height() != enc.height ||
      wrapped.chroma_format() != enc.chroma_format) {
    const int w = enc.seqhdr->horizontal_size, h = enc.seqhdr->vertical_size;
    work.reset(new (std::nothrow) Frame(w, h, enc.chroma_format, 0));
    if (!work || !work->buffer() || work->padded_width() != enc.width || work->padded_height() != enc.height) {
      trace("AddImageSequence::add_image (ERROR): no work frame of %dx%d\n", enc.width, enc.height);
      return 0;
    }
    work->copy_from(&wrapped, 0, 0, 1);
    replicate_padding(*work, w, h);
    cur = work.get();
  }
  cur->set_stream_frame(pictures_written_);
  cur->set_progressive_frame(1);
  enc.closed_gop = 1;
  enc.pichdr->temporal_reference = 0;
  const int64_t vbv_bytes = enc.seqhdr->get_vbv_buffer_size() / 8;
  size_t n = 0;
  for (const int q : kQuantSteps) {
    enc.fixed_mquant = q;
    BitWriter bw(buffer_.data(), buffer_.size());
    const int bytes = enc.encode_picture(cur, cur, cur, PIC_TYPE_I, 0, bw, 0, nullptr, 1);
    n = bytes > 0 ? static_cast<size_t>(bw.flush()) : 0;
    // A picture the decoder's buffer cannot hold is coded coarser.
    if (n > 0 && static_cast<int64_t>(n) <= vbv_bytes) break;
  }
  if (n == 0) {
    trace("AddImageSequence::add_image (ERROR): picture %d could not be coded\n", pictures_written_);
    return 0;
  }
  if (std::fwrite(buffer_.data(), 1, n, file_) != n || std::fflush(file_) != 0) {
    trace("AddImageSequence::add_image (ERROR): short write to <%s>\n", file_name_.c_str());
    write_failed_ = 1;
    return 0;
  }
  ++pictures_written_;
  bytes_written_ += static_cast<long long>(n);
  return 1;
}
