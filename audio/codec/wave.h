// RIFF/WAVE files of uncompressed 8- or 16-bit PCM: the format record shared
// with the AVI reader, and a reader/writer used by the clip player and the
// stream tools.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/audio_info.h"
#include "foundation/bsfile.h"

// Body of a "fmt " chunk, little-endian in the file.
struct WaveFmt {
  uint16_t format_tag = 0;
  uint16_t channels = 0;
  uint32_t sample_rate = 0;
  uint32_t bytes_per_second = 0;
  uint16_t block_align = 0;
  uint16_t bits_per_sample = 0;
  uint16_t extra_size = 0;  // cbSize; only an 18-byte body carries it

  void clear() { *this = WaveFmt(); }
  // 0 when size < 16 (record unchanged); 18 when size is exactly 18 (the
  // extra size read), else 16 with the extra size cleared, so that a record
  // reused for a second file never keeps the first file's value.
  int decode(const uint8_t* bytes, int size);
  // 0 when size < 16; 18 when size is exactly 18, else 16.
  int encode(uint8_t* bytes, int size) const;
};

constexpr uint16_t kWaveFormatPcm = 1;

class WaveFile {
 public:
  WaveFile() { reset(); }
  ~WaveFile() { close(); }
  WaveFile(const WaveFile&) = delete;
  WaveFile& operator=(const WaveFile&) = delete;

  // Status: 0 open and valid, 1 failure. Reading a name already open
  // returns its status.
  int open(const char* name, int read);
  // Walks the chunks of the open file to "fmt " and "data" and checks the
  // format: 0 valid, 1 invalid (reason() says why).
  int init_reader();
  // At most one frame (1152 sample periods) and never past the data end;
  // bytes read.
  int read(void* buffer, int bytes);
  // Writes the header before the first samples; bytes written (header
  // included), 0 on failure. swap exchanges the bytes of every 16-bit
  // sample in the caller's buffer first.
  int write_pcm(void* samples, int bytes, int swap);
  int write_header();
  // Patches the RIFF and data sizes: 0, or 1 on failure.
  int write_wavefmt_update();
  // A writer gets its sizes patched (a writer that saw no samples leaves a
  // valid empty file). 0, or 1 when a write of the file failed.
  int close();

  int is_eof() const;
  double get_duration() const;
  double get_time() const;
  double goto_time(double seconds);
  double get_frame_period() const { return fmt_.sample_rate ? 1152.0 / fmt_.sample_rate : 0.0; }

  void set_sample_rate(int rate);
  void set_channels(int channels);
  void set_bits(int bits);

  int status() const { return status_; }
  const WaveFmt& fmt() const { return fmt_; }
  const AudioInfo& audio_info() const { return info_; }
  int64_t data_start() const { return data_start_; }
  int64_t data_end() const { return data_end_; }
  int64_t position() const { return static_cast<int64_t>(file_.tell().value()); }
  int64_t file_size() const { return file_size_; }
  int64_t bytes_written() const { return bytes_written_; }
  // Why the last open or write failed; empty when none did.
  const std::string& reason() const { return reason_; }

  static constexpr int kSamplesPerFrame = 1152;
  // A RIFF file cannot describe more.
  static constexpr int64_t kMaxFileBytes = 0xFFFFFFFFll;

 private:
  void reset();
  void fail(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  int frame_bytes() const;
  void update_info();
  bool put(const void* bytes, size_t count, int64_t at);

  WaveFmt fmt_;
  int status_ = 1;
  BSFile file_;
  std::string name_;
  int64_t file_size_ = 0;
  double duration_ = 0.0;
  int64_t data_start_ = 0;
  int64_t data_end_ = 0;
  int read_mode_ = 1;
  int64_t bytes_written_ = 0;
  int write_failed_ = 0;
  AudioInfo info_;
  std::string reason_;
};
