// WAVE files through WaveFile:
//   wav-info FILE
//     wave format=N channels=N rate=N bits=N block_align=N data_start=N data_bytes=N duration=SECONDS
//   wav-read FILE OUT.raw [--from SECONDS]   (goto_time, then to the end of the data)
//     read bytes=N start=N
//   wav-write IN.raw RATE CHANNELS BITS OUT.wav   (write_pcm and close)
//     wave bytes=N
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/codec/wave.h"
#include "devtool/command.h"
#include "foundation/bsfile.h"

namespace {

int run_wav_info(int argc, char** argv) {
  if (argc != 2) return dev_bad_count("wav-info", argc);
  WaveFile w;
  if (w.open(argv[1], 1) != 0) return dev_fail("<%s>: %s", argv[1], w.reason().c_str());
  const WaveFmt& f = w.fmt();
  std::printf("wave format=%u channels=%u rate=%u bits=%u block_align=%u data_start=%lld data_bytes=%lld duration=%.6f\n",
              f.format_tag, f.channels, f.sample_rate, f.bits_per_sample, f.block_align,
              static_cast<long long>(w.data_start()), static_cast<long long>(w.data_end() - w.data_start()),
              w.get_duration());
  return 0;
}

int run_wav_read(int argc, char** argv) {
  if (argc != 3 && argc != 5) return dev_bad_count("wav-read", argc);
  double from = 0.0;
  if (argc == 5) {
    char* end = nullptr;
    from = std::strtod(argv[4], &end);
    if (std::strcmp(argv[3], "--from") != 0 || !end || *end) return dev_usage("wav-read", "--from takes seconds");
  }
  WaveFile w;
  if (w.open(argv[1], 1) != 0) return dev_fail("<%s>: %s", argv[1], w.reason().c_str());
  int err = 0;
  BSFile out(argv[2], 2, &err);
  if (err || !out.is_open()) return dev_fail("<%s>: cannot open to write", argv[2]);
  w.goto_time(from);
  const long long start = w.position() - w.data_start();
  std::vector<uint8_t> buf(static_cast<size_t>(WaveFile::kSamplesPerFrame) * 4);
  long long total = 0;
  for (;;) {
    const int n = w.read(buf.data(), static_cast<int>(buf.size()));
    if (n <= 0) break;
    if (out.write(buf.data(), static_cast<size_t>(n)) != static_cast<size_t>(n))
      return dev_fail("<%s>: write failed", argv[2]);
    total += n;
  }
  std::printf("read bytes=%lld start=%lld\n", total, start);
  return 0;
}

int run_wav_write(int argc, char** argv) {
  if (argc != 6) return dev_bad_count("wav-write", argc);
  long long rate = 0, channels = 0, bits = 0;
  if (!dev_parse_int(argv[2], &rate) || rate <= 0 || rate > 1000000)
    return dev_usage("wav-write", "RATE must be a sample rate in Hz");
  if (!dev_parse_int(argv[3], &channels) || (channels != 1 && channels != 2))
    return dev_usage("wav-write", "CHANNELS must be 1 or 2");
  if (!dev_parse_int(argv[4], &bits) || (bits != 8 && bits != 16)) return dev_usage("wav-write", "BITS must be 8 or 16");
  int err = 0;
  BSFile in(argv[1], 1, &err);
  if (err || !in.is_open()) return dev_fail("<%s>: cannot open to read", argv[1]);
  WaveFile w;
  if (w.open(argv[5], 0) != 0) return dev_fail("<%s>: %s", argv[5], w.reason().c_str());
  w.set_sample_rate(static_cast<int>(rate));
  w.set_channels(static_cast<int>(channels));
  w.set_bits(static_cast<int>(bits));
  std::vector<uint8_t> buf(1 << 16);
  for (;;) {
    const size_t n = in.read(buf.data(), buf.size());
    if (n == 0) break;
    if (w.write_pcm(buf.data(), static_cast<int>(n), 0) <= 0) return dev_fail("<%s>: %s", argv[5], w.reason().c_str());
  }
  const long long bytes = w.bytes_written() ? w.bytes_written() : 44;
  if (w.close() != 0) return dev_fail("<%s>: %s", argv[5], w.reason().c_str());
  std::printf("wave bytes=%lld\n", bytes);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(wav-info, "FILE", "format, data span and duration of a WAVE file", run_wav_info);
TAMSEL_DEV_COMMAND(wav-read, "FILE OUT.raw [--from SECONDS]", "the PCM data of a WAVE file from a time on",
                   run_wav_read);
TAMSEL_DEV_COMMAND(wav-write, "IN.raw RATE CHANNELS BITS OUT.wav", "write raw PCM as a WAVE file", run_wav_write);
