#include "audio/codec/wave.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "foundation/trace.h"

namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

constexpr int kHeaderBytes = 44;
// A walk that finds no "data" among this many chunks is not a WAVE file we
// can play; it keeps a crafted file from making us seek for ever.
constexpr int kMaxChunks = 256;

}  // namespace

int WaveFmt::decode(const uint8_t* bytes, int size) {
  if (!bytes || size < 16) {
    trace("WaveFmt::decode (ERROR): data size = %d < 16 bytes\n", size);
    return 0;
  }
  format_tag = le16(bytes);
  channels = le16(bytes + 2);
  sample_rate = le32(bytes + 4);
  bytes_per_second = le32(bytes + 8);
  block_align = le16(bytes + 12);
  bits_per_sample = le16(bytes + 14);
  if (size == 18) {
    extra_size = le16(bytes + 16);
    return 18;
  }
  extra_size = 0;
  return 16;
}

int WaveFmt::encode(uint8_t* bytes, int size) const {
  if (!bytes || size < 16) {
    trace("WaveFmt::encode (ERROR): data size = %d < 16 bytes\n", size);
    return 0;
  }
  put16(bytes, format_tag);
  put16(bytes + 2, channels);
  put32(bytes + 4, sample_rate);
  put32(bytes + 8, bytes_per_second);
  put16(bytes + 12, block_align);
  put16(bytes + 14, bits_per_sample);
  if (size == 18) {
    put16(bytes + 16, extra_size);
    return 18;
  }
  return 16;
}

void WaveFile::reset() {
  fmt_.clear();
  fmt_.format_tag = kWaveFormatPcm;
  fmt_.channels = 2;
  fmt_.sample_rate = 44100;
  fmt_.bits_per_sample = 16;
  fmt_.block_align = 4;
  fmt_.bytes_per_second = 44100 * 4;
  status_ = 1;
  name_.clear();
  file_size_ = 0;
  duration_ = 0.0;
  data_start_ = data_end_ = 0;
  read_mode_ = 1;
  bytes_written_ = 0;
  write_failed_ = 0;
  info_ = AudioInfo();
  update_info();
}

void WaveFile::fail(const char* format, ...) {
  char text[256];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  reason_ = text;
  trace("%s", text);
}

int WaveFile::frame_bytes() const {
  return kSamplesPerFrame * fmt_.channels * ((fmt_.bits_per_sample + 7) / 8);
}

void WaveFile::update_info() {
  info_.audio_type = 16;
  info_.layer = 0;
  info_.channels = fmt_.channels;
  info_.sample_rate = static_cast<int32_t>(fmt_.sample_rate);
  info_.bits_per_sample = fmt_.bits_per_sample;
  info_.frame_size = frame_bytes();
  info_.stream_id = 0xA0;
  info_.length = duration_;
}

int WaveFile::open(const char* name, int read) {
  if (read && status_ == 0 && read_mode_ && name && name_ == name) return status_;
  close();
  reason_.clear();
  if (!name || !*name) {
    fail("WaveFile::open (ERROR): no file name");
    return status_;
  }
  read_mode_ = read ? 1 : 0;
  int error = 0;
  file_ = BSFile(name, read ? 1 : 2, &error);
  if (error || !file_.is_open()) {
    fail("WaveFile::open (ERROR): cannot open %s", name);
    file_.close();
    reset();
    return status_;
  }
  name_ = name;
  if (read) {
    if (init_reader() != 0) {
      const std::string why = reason_;
      file_.close();
      reset();
      reason_ = why;
      return status_;
    }
    update_info();
  } else {
    fmt_.format_tag = kWaveFormatPcm;
    status_ = 0;
  }
  return status_;
}

int WaveFile::init_reader() {
  status_ = 1;
  if (!file_.is_open()) {
    fail("WaveFile::init_reader (ERROR): no open file");
    return 1;
  }
  const int64_t real_size = static_cast<int64_t>(file_.size().value());
  uint8_t head[12];
  file_.seek(FileOffset(0u), 0);
  if (file_.read(head, 12) != 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
    fail("WaveFile::init_reader (ERROR): not a RIFF/WAVE file");
    return 1;
  }
  const int64_t riff_size = static_cast<int64_t>(le32(head + 4)) + 8;

  // Walk the chunks to "data"; anything else ("LIST", "fact", ...) is skipped,
  // word-aligned, as RIFF wants.
  bool have_fmt = false;
  int64_t at = 12;
  int64_t data_size = -1;
  for (int n = 0; n < kMaxChunks && data_size < 0; ++n) {
    uint8_t chunk[8];
    file_.seek(FileOffset::from_u64(static_cast<uint64_t>(at)), 0);
    if (file_.read(chunk, 8) != 8) break;
    const uint32_t size = le32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || size > 64) {
        fail("WaveFile::init_reader (ERROR): fmt size = %u", size);
        return 1;
      }
      uint8_t body[64];
      if (file_.read(body, size) != size || fmt_.decode(body, static_cast<int>(size)) == 0) {
        fail("WaveFile::init_reader (ERROR): short fmt chunk");
        return 1;
      }
      have_fmt = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!have_fmt) {
        fail("WaveFile::init_reader (ERROR): data before fmt");
        return 1;
      }
      data_start_ = at + 8;
      data_size = size;
    }
    at += 8 + static_cast<int64_t>(size) + (size & 1);
  }
  if (data_size < 0) {
    fail("WaveFile::init_reader (ERROR): no %s chunk", have_fmt ? "data" : "fmt");
    return 1;
  }
  // Only plain PCM that the player can play: anything else would come out
  // as full-scale noise, and a zero rate or channel count divides by zero.
  if (fmt_.format_tag != kWaveFormatPcm) {
    fail("WaveFile::init_reader (ERROR): format = %u (PCM only)", fmt_.format_tag);
    return 1;
  }
  if (fmt_.channels != 1 && fmt_.channels != 2) {
    fail("WaveFile::init_reader (ERROR): channels = %u", fmt_.channels);
    return 1;
  }
  if (fmt_.bits_per_sample != 8 && fmt_.bits_per_sample != 16) {
    fail("WaveFile::init_reader (ERROR): bits = %u", fmt_.bits_per_sample);
    return 1;
  }
  if (fmt_.sample_rate == 0) {
    fail("WaveFile::init_reader (ERROR): sample rate = 0");
    return 1;
  }
  if (fmt_.block_align != fmt_.channels * fmt_.bits_per_sample / 8) {
    fail("WaveFile::init_reader (ERROR): block align = %u", fmt_.block_align);
    return 1;
  }
  if (data_start_ + data_size > real_size) {
    trace("WaveFile::init_reader (ERROR): data size = %lld (file size: %lld)\n", static_cast<long long>(data_size),
          static_cast<long long>(real_size));
    data_size = std::max<int64_t>(0, real_size - data_start_);
  }
  file_size_ = riff_size;
  if (riff_size != real_size) {
    trace("WaveFile::init_reader (ERROR): file size = %lld (correct size: %lld)\n",
          static_cast<long long>(riff_size), static_cast<long long>(real_size));
    file_size_ = real_size;
  }
  data_end_ = data_start_ + data_size;
  duration_ = static_cast<double>(data_size) / (static_cast<double>(fmt_.block_align) * fmt_.sample_rate);
  file_.seek(FileOffset::from_u64(static_cast<uint64_t>(data_start_)), 0);
  status_ = 0;
  return 0;
}

int WaveFile::read(void* buffer, int bytes) {
  if (status_ != 0 || !read_mode_ || !buffer || bytes <= 0) return 0;
  const int64_t pos = position();
  if (pos >= data_end_) return 0;
  const int64_t n = std::min<int64_t>({bytes, frame_bytes(), data_end_ - pos});
  return static_cast<int>(file_.read(buffer, static_cast<size_t>(n)));
}

bool WaveFile::put(const void* bytes, size_t count, int64_t at) {
  file_.seek(FileOffset::from_u64(static_cast<uint64_t>(at)), 0);
  if (file_.write(bytes, count) != count) {
    write_failed_ = 1;
    fail("WaveFile::write_pcm (ERROR): write failed (%s)", name_.c_str());
    return false;
  }
  return true;
}

int WaveFile::write_header() {
  if (status_ != 0 || read_mode_) return 0;
  fmt_.format_tag = kWaveFormatPcm;
  fmt_.block_align = static_cast<uint16_t>(fmt_.channels * ((fmt_.bits_per_sample + 7) / 8));
  fmt_.bytes_per_second = fmt_.sample_rate * fmt_.block_align;
  uint8_t h[kHeaderBytes] = {};
  std::memcpy(h, "RIFF", 4);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  put32(h + 16, 16);
  fmt_.encode(h + 20, 16);
  std::memcpy(h + 36, "data", 4);
  if (!put(h, sizeof h, 0)) return 0;
  data_start_ = kHeaderBytes;
  return kHeaderBytes;
}

int WaveFile::write_pcm(void* samples, int bytes, int swap) {
  if (!file_.is_open()) {
    fail("WaveFile::write_pcm (ERROR): not initialized");
    trace("FILE *fp=nil");
    return 0;
  }
  if (read_mode_) {
    fail("WaveFile::write_pcm (ERROR): %s", "read-only file");
    return 0;
  }
  if (!fmt_.sample_rate || !fmt_.channels || !fmt_.bits_per_sample || bytes < 0 || (bytes > 0 && !samples)) {
    fail("WaveFile::write_pcm (ERROR): format not set");
    return 0;
  }
  if (write_failed_) return 0;
  int written = 0;
  if (bytes_written_ == 0) {
    written = write_header();
    if (!written) return 0;
    bytes_written_ = written;
  }
  if (bytes_written_ + bytes > kMaxFileBytes) {
    fail("WaveFile::write_pcm (ERROR): file would exceed 4 GiB");
    write_failed_ = 1;
    return 0;
  }
  if (bytes > 0) {
    uint8_t* p = static_cast<uint8_t*>(samples);
    if (swap && fmt_.bits_per_sample == 16)
      for (int i = 0; i + 1 < bytes; i += 2) std::swap(p[i], p[i + 1]);
    if (!put(p, static_cast<size_t>(bytes), bytes_written_)) return 0;
    bytes_written_ += bytes;
    written += bytes;
  }
  return written;
}

int WaveFile::write_wavefmt_update() {
  if (!file_.is_open()) {
    trace("FILE *fp=nil");
    return 1;
  }
  if (read_mode_) {
    trace("WaveFile::write_wavefmt_update (ERROR): %s", "read-only file");
    return 1;
  }
  if (bytes_written_ == 0) {
    trace("WaveFile::write_wavefmt_update (ERROR): %s", "empty file");
    return 1;
  }
  uint8_t v[4];
  put32(v, static_cast<uint32_t>(bytes_written_ - 8));
  if (!put(v, 4, 4)) return 1;
  put32(v, static_cast<uint32_t>(bytes_written_ - data_start_));
  if (!put(v, 4, data_start_ - 4)) return 1;
  return 0;
}

int WaveFile::close() {
  int result = 0;
  if (file_.is_open() && !read_mode_) {
    // An empty take still gives a valid file: the header with data size 0.
    if (bytes_written_ == 0 && !write_failed_ && write_pcm(nullptr, 0, 0) == 0) result = 1;
    if (!write_failed_ && write_wavefmt_update() != 0) result = 1;
    if (write_failed_) result = 1;
  }
  file_.close();
  const std::string why = reason_;
  reset();
  reason_ = why;
  return result;
}

int WaveFile::is_eof() const {
  if (status_ != 0 || !read_mode_) return 1;
  return position() >= data_end_ ? 1 : 0;
}

double WaveFile::get_duration() const {
  if (read_mode_) return duration_;
  if (!fmt_.bytes_per_second) return 0.0;
  return static_cast<double>(bytes_written_) / fmt_.bytes_per_second;
}

double WaveFile::get_time() const {
  if (status_ != 0 || data_end_ <= data_start_) return 0.0;
  return static_cast<double>(position() - data_start_) / static_cast<double>(data_end_ - data_start_) * duration_;
}

double WaveFile::goto_time(double t) {
  if (status_ != 0 || !read_mode_) return 0.0;
  if (duration_ <= 0.0 || data_end_ <= data_start_) {
    file_.seek(FileOffset::from_u64(static_cast<uint64_t>(data_start_)), 0);
    return 0.0;
  }
  if (!(t > 0.0)) t = 0.0;
  if (t > duration_) t = duration_;
  int64_t offset = static_cast<int64_t>(t / duration_ * static_cast<double>(data_end_ - data_start_));
  offset -= offset % fmt_.block_align;
  file_.seek(FileOffset::from_u64(static_cast<uint64_t>(data_start_ + offset)), 0);
  return get_time();
}

void WaveFile::set_sample_rate(int rate) {
  fmt_.sample_rate = static_cast<uint32_t>(std::max(rate, 0));
  fmt_.bytes_per_second = fmt_.sample_rate * fmt_.block_align;
  update_info();
}

void WaveFile::set_channels(int channels) {
  fmt_.channels = static_cast<uint16_t>(std::clamp(channels, 0, 65535));
  fmt_.block_align = static_cast<uint16_t>(fmt_.channels * ((fmt_.bits_per_sample + 7) / 8));
  fmt_.bytes_per_second = fmt_.sample_rate * fmt_.block_align;
  update_info();
}

void WaveFile::set_bits(int bits) {
  fmt_.bits_per_sample = static_cast<uint16_t>(std::clamp(bits, 0, 65535));
  fmt_.block_align = static_cast<uint16_t>(fmt_.channels * ((fmt_.bits_per_sample + 7) / 8));
  fmt_.bytes_per_second = fmt_.sample_rate * fmt_.block_align;
  update_info();
}
